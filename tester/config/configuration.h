// The tester's settings: one program-wide record, its INI file and the
// names the user interface shows for the setting codes.
//
// The record and its file belong to the window's thread: it alone loads,
// edits and saves them. The port threads read `PortSettings` directly, so
// its fields are Relaxed words; everything else is the window's thread's
// alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tester/config/relaxed.h"

// The handshake settings a port is driven with, one 32-bit word. The bit
// positions, from the least significant bit up, are part of the design:
// rtsControl 0-1, dtrControl 2-3, then one bit each for outxCtsFlow,
// outxDsrFlow, dsrSensitivity, outX, inX and txContinueOnXoff; the other 22
// bits stay zero. rtsControl and dtrControl hold 0 = "Low", 1 = "High",
// 2 = "Control" (the serial API's disable, enable and handshake codes);
// rtsControl also 3 = "Toggle" (RTS on while sending: RS-485).
struct LineFlags {
    uint32_t rtsControl : 2;
    uint32_t dtrControl : 2;
    uint32_t outxCtsFlow : 1;
    uint32_t outxDsrFlow : 1;
    uint32_t dsrSensitivity : 1;
    uint32_t outX : 1;
    uint32_t inX : 1;
    uint32_t txContinueOnXoff : 1;
    uint32_t reserved : 22;

    // The word with the fields at their fixed positions, whatever the
    // compiler's bit-field layout.
    uint32_t word() const;
    static LineFlags fromWord(uint32_t word);
};
static_assert(sizeof(LineFlags) == 4, "lineFlags is one 32-bit word");

// One set of line and test settings for every port. The preset
// `flowControl` only tells the dialog and the summary which choice made
// `lineFlags`; the flags are what a port is driven with.
struct PortSettings {
    Relaxed<uint32_t> blockSize;    // bytes per test block, 32..64000
    Relaxed<uint32_t> baudRate;     // bit/s, taken as it stands (0 included)
    Relaxed<uint32_t> byteSize;     // 5..8
    Relaxed<uint32_t> parity;       // ParityNames index = the serial API's code
    Relaxed<uint32_t> stopBits;     // StopBitsNames index = the serial API's code
    Relaxed<uint32_t> flowControl;  // FlowControlNames index
    Relaxed<LineFlags> lineFlags;
    Relaxed<int32_t> hdTimeout;  // ms; 0 = computed from block size and speed
    // 1: a port that is lost while open (a device server gone, an adapter
    // pulled) is closed and opened again by its worker; 0: it stays failed.
    Relaxed<uint32_t> reconnect;
};

// A column of the port list. Only `width` is read from and written to the
// file; -1 means the list view's own default width.
struct ColumnDescriptor {
    int32_t index;
    const char* title;
    int32_t alignment;  // 1 = right-aligned (the list view's code)
    int32_t width;
};

constexpr int kColumnCount = 9;

// The built-in column table: "#", "Name", "Rx#", "Tx#", "CPS", "Err#",
// "ErrDesc", "Time", "State", all right-aligned.
extern const ColumnDescriptor kDefaultColumns[kColumnCount];

struct Configuration {
    Configuration();  // empty port list, built-in columns, other fields zero

    PortSettings portSettings;
    int32_t windowTop;
    int32_t windowBottom;
    int32_t windowLeft;
    int32_t windowRight;
    ColumnDescriptor columns[kColumnCount];
    std::vector<std::string> portNames;  // as read from [Ports], in file order
    uint32_t portCount;                  // == portNames.size()
    std::string summaryText;             // the status bar's one-line summary
};

// The program-wide record and the path of its file ("./vesktestw.ini" until
// SetConfigPath replaces it). Both exist before main runs.
extern Configuration configuration;
extern std::string configPath;

// A setting's code is its position in its table.
inline constexpr const char* ByteSizeNames[] = {"5", "6", "7", "8"};
inline constexpr const char* ParityNames[] = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr const char* StopBitsNames[] = {"1", "1.5", "2"};
inline constexpr const char* LineControlNames[] = {"Low", "High", "Control"};
// RTS alone can also be switched by the driver around each send (RS-485).
inline constexpr const char* RtsControlNames[] = {"Low", "High", "Control", "Toggle"};
inline constexpr const char* FlowControlNames[] = {"None", "Rts/Cts", "Dtr/Dsr", "Xon/Xoff",
                                                   "Custom"};

// The name of `code` in `table`, or "?" for a code outside it.
template <size_t N>
const char* NameOf(const char* const (&table)[N], uint32_t code) {
    return code < N ? table[code] : "?";
}

// Makes a non-empty text the configuration path, unaltered (no trimming,
// no quote removal); an empty text keeps the current path. A path without a
// directory part names a file in the current directory on every platform.
void SetConfigPath(const char* text);

// Reads every setting of `configuration` from configPath, replacing
// out-of-range values by their defaults, then the port names and the
// summary. A missing or unreadable file gives all defaults and the ports
// COM1 to COM255. Returns 0.
int LoadConfiguration();

// Reads the [Ports] section into portNames/portCount: each line whole, in
// file order; COM1..COM255 when the section is missing or empty. Returns 0,
// or -1 (leaving the list as it was) when the work buffer cannot be had.
int LoadPortNames();

// Copies port name `index` into `name` and returns 0; returns -1 and leaves
// `name` alone when index is not below portCount.
int GetPortName(uint32_t index, std::string& name);

// Rebuilds summaryText from portSettings.
void BuildSummary();

// Writes every setting except [Ports] (which is never written) to
// configPath, each as "%d". Returns 0, or -1 at the first write that
// failed, with the reason left as the last error (plat::lastError).
int SaveConfiguration();
