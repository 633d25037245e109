#include "tester/session/row_texts.h"

#include <cstdio>

#include "platform/win32_types.h"
#include "tester/engine/port_worker.h"

namespace {

// The counters are unsigned words shown with the signed "%d".
int Signed(uint32_t value) {
    return static_cast<int>(static_cast<int32_t>(value));
}

}  // namespace

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

std::string FormatCounterPair(uint32_t first, uint32_t second) {
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d", Signed(first), Signed(second));
    return text;
}

std::string FormatCounter(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", Signed(value));
    return text;
}

std::string FormatErrorDescription(const std::string& commErrorText, const std::string& kindText,
                                   uint32_t lastOsError) {
    char code[16];
    std::snprintf(code, sizeof code, "%04d", Signed(lastOsError));
    return commErrorText + "/" + kindText + "/" + code;
}

std::string FormatElapsed(uint32_t elapsedMs) {
    const uint32_t s = elapsedMs / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", Signed(s / 3600), Signed((s % 3600) / 60),
                  Signed(s % 60));
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

RowCells FormatRowCells(const RowValues& v) {
    RowCells cells;
    cells.text[kColumnRx - kFirstRefreshedColumn] = FormatCounterPair(v.bytesRead, v.blocksOk);
    cells.text[kColumnTx - kFirstRefreshedColumn] =
        FormatCounterPair(v.bytesWritten, v.blocksWritten);
    cells.text[kColumnCps - kFirstRefreshedColumn] = FormatCounter(v.rate);
    cells.text[kColumnErrors - kFirstRefreshedColumn] = FormatCounterPair(v.rxErrors, v.txErrors);
    cells.text[kColumnErrDesc - kFirstRefreshedColumn] =
        FormatErrorDescription(v.commErrorText, v.lastErrorKindText, v.lastOsError);
    cells.text[kColumnTime - kFirstRefreshedColumn] = FormatElapsed(v.elapsedMs);
    cells.text[kColumnState - kFirstRefreshedColumn] =
        v.portDown != 0 ? std::string(kStateDown) : FormatState(v.mode, v.rxRunning, v.txRunning);
    return cells;
}
