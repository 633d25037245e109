// The serial records and constants must be the Win32 ones, bit for bit: the
// same expectations run against <windows.h> in the Windows build.
#include "platform/win32_types.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {
DWORD flagWord(const DCB& dcb) {
    DWORD w;
    std::memcpy(&w, reinterpret_cast<const char*>(&dcb) + 8, sizeof w);
    return w;
}
}  // namespace

TEST(SerialRecords, DcbLayout) {
    EXPECT_EQ(sizeof(DCB), 28u);
    EXPECT_EQ(offsetof(DCB, BaudRate), 4u);
    EXPECT_EQ(offsetof(DCB, XonLim), 14u);
    EXPECT_EQ(offsetof(DCB, ByteSize), 18u);
    EXPECT_EQ(offsetof(DCB, Parity), 19u);
    EXPECT_EQ(offsetof(DCB, StopBits), 20u);
    EXPECT_EQ(offsetof(DCB, EvtChar), 25u);

    struct Bit {
        void (*set)(DCB&);
        DWORD word;
    } bits[] = {
        {[](DCB& d) { d.fBinary = 1; }, 1u << 0},
        {[](DCB& d) { d.fParity = 1; }, 1u << 1},
        {[](DCB& d) { d.fOutxCtsFlow = 1; }, 1u << 2},
        {[](DCB& d) { d.fOutxDsrFlow = 1; }, 1u << 3},
        {[](DCB& d) { d.fDtrControl = 3; }, 3u << 4},
        {[](DCB& d) { d.fDsrSensitivity = 1; }, 1u << 6},
        {[](DCB& d) { d.fTXContinueOnXoff = 1; }, 1u << 7},
        {[](DCB& d) { d.fOutX = 1; }, 1u << 8},
        {[](DCB& d) { d.fInX = 1; }, 1u << 9},
        {[](DCB& d) { d.fRtsControl = 3; }, 3u << 12},
        {[](DCB& d) { d.fAbortOnError = 1; }, 1u << 14},
    };
    for (const Bit& b : bits) {
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        b.set(dcb);
        EXPECT_EQ(flagWord(dcb), b.word);
    }
}

TEST(SerialRecords, TimeoutsAndStatusLayout) {
    EXPECT_EQ(sizeof(COMMTIMEOUTS), 20u);
    EXPECT_EQ(offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant), 8u);
    EXPECT_EQ(offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant), 16u);
    EXPECT_EQ(sizeof(COMSTAT), 12u);
    EXPECT_EQ(offsetof(COMSTAT, cbInQue), 4u);
    EXPECT_EQ(offsetof(COMSTAT, cbOutQue), 8u);
}

TEST(SerialRecords, ConstantsKeepTheirWin32Values) {
    EXPECT_EQ(CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK, 0x1F);
    EXPECT_EQ(CE_TXFULL, 0x100);
    EXPECT_EQ(CE_MODE, 0x8000);
    EXPECT_EQ(EV_RXCHAR, 1);
    EXPECT_EQ(EV_CTS | EV_DSR | EV_RLSD, 0x38);
    EXPECT_EQ(EV_RXFLAG | EV_TXEMPTY | EV_BREAK | EV_ERR | EV_RING, 0x1C6);
    EXPECT_EQ(MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON, 0xF0);
    EXPECT_EQ(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR, 15);
    EXPECT_EQ(SETXOFF, 1);
    EXPECT_EQ(SETRTS, 3);
    EXPECT_EQ(CLRDTR, 6);
    EXPECT_EQ(SETBREAK, 8);
    EXPECT_EQ(CLRBREAK, 9);
    EXPECT_EQ(SPACEPARITY, 4);
    EXPECT_EQ(ONE5STOPBITS, 1);
    EXPECT_EQ(TWOSTOPBITS, 2);
    EXPECT_EQ(RTS_CONTROL_HANDSHAKE, 2);
    EXPECT_EQ(RTS_CONTROL_TOGGLE, 3);
    EXPECT_EQ(DTR_CONTROL_HANDSHAKE, 2);
    EXPECT_EQ(ERROR_OPERATION_ABORTED, 995);
    EXPECT_EQ(ERROR_IO_PENDING, 997);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE), 0xC0000000u);
    EXPECT_EQ(OPEN_EXISTING, 3);
    EXPECT_EQ(static_cast<DWORD>(FILE_FLAG_OVERLAPPED), 0x40000000u);
    EXPECT_EQ(static_cast<DWORD>(MAXDWORD), 0xFFFFFFFFu);
    EXPECT_EQ(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE), -1);
    EXPECT_EQ(MB_OK | MB_ICONWARNING, 0x30u);
}
