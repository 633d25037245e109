/* Identifiers of the port settings form and its controls. The Windows
   dialog template (resource script) and the form model share them, and the
   terminal form names its fields by them. Plain #define lines only, so the
   resource compiler can read this file. */
#pragma once

#define IDD_PORT_SETTINGS 101

#define IDC_BLOCK_SIZE 1001          /* edit, digits only */
#define IDC_BAUD_RATE 1002           /* edit, digits only */
#define IDC_RTS_CONTROL 1003         /* combo: "Low", "High", "Control" */
#define IDC_OUTX_CTS_FLOW 1004       /* check box */
#define IDC_DTR_CONTROL 1005         /* combo: "Low", "High", "Control" */
#define IDC_OUTX_DSR_FLOW 1006       /* check box */
#define IDC_DSR_SENSITIVITY 1007     /* check box */
#define IDC_OUT_X 1008               /* check box */
#define IDC_IN_X 1009                /* check box */
#define IDC_TX_CONTINUE_ON_XOFF 1010 /* check box */
#define IDC_HD_TIMEOUT 1011          /* edit, digits only */
#define IDC_DEFAULT_TIMEOUT 1012     /* static: the computed default */
#define IDC_BYTE_SIZE 1013           /* combo: "5", "6", "7", "8" */
#define IDC_PARITY 1014              /* combo: "None", "Odd", "Even", "Mark", "Space" */
#define IDC_STOP_BITS 1015           /* combo: "1", "1.5", "2" */
#define IDC_PRESET_NONE 1016         /* radio, preset 0; first of the group */
#define IDC_PRESET_RTS_CTS 1017      /* radio, preset 1 */
#define IDC_PRESET_DTR_DSR 1018      /* radio, preset 2 */
#define IDC_PRESET_XON_XOFF 1019     /* radio, preset 3 */
#define IDC_PRESET_CUSTOM 1020       /* radio, preset 4 */
#define IDC_RTS_LABEL 1021           /* "RtsControl" */
#define IDC_DTR_LABEL 1022           /* "DtrControl" */
