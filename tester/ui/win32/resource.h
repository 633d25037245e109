// Identifiers shared by the resource script and the window code. Plain
// #defines only: windres reads this file through the C preprocessor.
#pragma once

// The main frame: menu bar, accelerator table and program icon.
#define IDR_MAINFRAME 128

// Dialog templates. The settings dialog's template and control ids are the
// settings form's (its rules name the controls by them).
#define IDD_ABOUTBOX 100
#include "tester/session/settings_form_ids.h"

// The popup menu of the port list is a named resource: "ContextMenu".

// Commands of the menus, the context menu and the accelerator. Each menu
// command's help text is the string of the same number.
#define ID_PORTS_START_STOP 32771
#define ID_PORTS_READ 32772
#define ID_PORTS_WRITE 32773
#define ID_PORTS_HD_MASTER 32774
#define ID_PORTS_HD_SLAVE 32775
#define ID_PORTS_ODD 32776
#define ID_PORTS_EVEN 32777
#define ID_PORTS_ALL 32778
#define ID_PORTS_CLEAR 32779
#define ID_PORTS_PURGE 32780
#define ID_PORTS_SETTINGS 32781
#define ID_PORTS_HD_PAIRS 32782 /* key z only: no menu item, no help text */
#define ID_PORTS_MODEM_LINES 32783
#define ID_PORTS_LINE_CONDITIONS 32784
#define ID_APP_EXIT 32790
#define ID_VIEW_STATUS_BAR 32791
#define ID_APP_ABOUT 32792

// Help texts of the system menu's items, at kSystemMenuHelpFirst plus the
// item's SC_ code less SC_SIZE, divided by 16 (frame_rules.h).
#define IDS_SC_SIZE 0xEF00
#define IDS_SC_MOVE 0xEF01
#define IDS_SC_MINIMIZE 0xEF02
#define IDS_SC_MAXIMIZE 0xEF03
#define IDS_SC_NEXTWINDOW 0xEF04
#define IDS_SC_PREVWINDOW 0xEF05
#define IDS_SC_CLOSE 0xEF06
#define IDS_SC_RESTORE 0xEF12
#define IDS_SC_TASKLIST 0xEF13

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
