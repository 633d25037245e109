#include "tester/session/row_texts.h"

#include <cstdio>

#include "platform/win32_types.h"
#include "tester/engine/port_worker.h"

std::string FormatCommErrors(uint32_t commErrors) {
    const uint32_t shown = commErrors & kShownCommErrors;
    if (shown == 0) return "......";
    struct Letter {
        uint32_t bit;
        char letter;
    };
    static const Letter kLetters[] = {{CE_OVERRUN, 'O'}, {CE_FRAME, 'F'},  {CE_RXPARITY, 'P'},
                                      {CE_BREAK, 'B'},   {CE_RXOVER, 'R'}, {CE_TXFULL, 'T'}};
    std::string text;
    for (const Letter& l : kLetters)
        text += (shown & l.bit) ? l.letter : '.';
    return text;
}

std::string FormatCounterPair(uint64_t first, uint64_t second) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu/%llu", static_cast<unsigned long long>(first),
                  static_cast<unsigned long long>(second));
    return text;
}

std::string FormatCounter(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

std::string FormatErrorDescription(const std::string& commErrorText, const std::string& kindText,
                                   uint32_t lastOsError) {
    char code[16];
    std::snprintf(code, sizeof code, "%04u", static_cast<unsigned>(lastOsError));
    return commErrorText + "/" + kindText + "/" + code;
}

std::string FormatElapsed(uint64_t elapsedMs) {
    const uint64_t s = elapsedMs / 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%02llu:%02u:%02u", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned>((s % 3600) / 60), static_cast<unsigned>(s % 60));
    return text;
}

std::string FormatState(uint32_t mode, uint32_t rxRunning, uint32_t txRunning) {
    const bool rx = rxRunning != 0;
    const bool tx = txRunning != 0;
    std::string text = mode == ModeDuplex ? "" : mode == ModeMaster ? "M" : "S";
    if (mode != ModeDuplex && (rx || tx)) text += "/";
    if (rx) text += "Rx";
    if (rx && tx) text += "/";
    if (tx) text += "Tx";
    return text;
}

RowCells FormatRowCells(const PortSnapshot& v) {
    RowCells cells;
    cells.text[kColumnRx - kFirstRefreshedColumn] = FormatCounterPair(v.bytesRead, v.blocksOk);
    cells.text[kColumnTx - kFirstRefreshedColumn] =
        FormatCounterPair(v.bytesWritten, v.blocksWritten);
    cells.text[kColumnCps - kFirstRefreshedColumn] = FormatCounter(v.rate);
    cells.text[kColumnErrors - kFirstRefreshedColumn] = FormatCounterPair(v.rxErrors, v.txErrors);
    cells.text[kColumnErrDesc - kFirstRefreshedColumn] =
        FormatErrorDescription(v.commErrorText, v.lastErrorKindText, v.lastOsError);
    cells.text[kColumnTime - kFirstRefreshedColumn] = FormatElapsed(v.elapsedMs);
    cells.text[kColumnState - kFirstRefreshedColumn] = StateCellText(v);
    return cells;
}

std::string StateCellText(const PortSnapshot& port) {
    switch (port.state) {
        case PortState::Opening: {
            const std::string pending = FormatState(port.mode, port.rxRunning, port.txRunning);
            return pending.empty() ? "Open" : "Open " + pending;
        }
        case PortState::NotOpen:
            return "Not open";
        case PortState::NoBuffers:
            return "Open";
        case PortState::Down:
            return kStateDown;
        case PortState::Open:
            break;
    }
    return FormatState(port.mode, port.rxRunning, port.txRunning);
}

std::string SettingsRefusedText(const PortSnapshot& port) {
    if (port.settingsRefused == 0) return "";
    if (port.speedSubstituted)
        return "the driver set " + std::to_string(port.baudSet) + " bit/s for " +
               std::to_string(port.baudAsked);
    return "line settings refused" +
           (port.settingsRefusedText.empty() ? "" : ": " + port.settingsRefusedText);
}
