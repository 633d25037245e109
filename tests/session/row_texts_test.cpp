#include "tester/session/row_texts.h"

#include <gtest/gtest.h>

#include "platform/win32_types.h"
#include "tester/engine/port_worker.h"

TEST(FormatCommErrors, NoShownBitGivesSixDots) {
    EXPECT_EQ(FormatCommErrors(0), "......");
    // Bits outside 0x11F (CE_MODE, CE_PTO, CE_IOE...) are never shown.
    EXPECT_EQ(FormatCommErrors(CE_MODE), "......");
    EXPECT_EQ(FormatCommErrors(CE_PTO | CE_IOE | CE_DNS | CE_OOP), "......");
}

TEST(FormatCommErrors, LettersStandInTheirOwnPlacesInTheOrderOFPBRT) {
    EXPECT_EQ(FormatCommErrors(CE_OVERRUN), "O.....");
    EXPECT_EQ(FormatCommErrors(CE_FRAME), ".F....");
    EXPECT_EQ(FormatCommErrors(CE_RXPARITY), "..P...");
    EXPECT_EQ(FormatCommErrors(CE_BREAK), "...B..");
    EXPECT_EQ(FormatCommErrors(CE_RXOVER), "....R.");
    EXPECT_EQ(FormatCommErrors(CE_TXFULL), ".....T");
    EXPECT_EQ(FormatCommErrors(CE_TXFULL | CE_MODE), ".....T");
    EXPECT_EQ(FormatCommErrors(0x11F), "OFPBRT");
    EXPECT_EQ(FormatCommErrors(0xFFFFFFFF), "OFPBRT");
}

TEST(FormatErrorDescription, MatchesTheCleanAndTheFailedReadExamples) {
    EXPECT_EQ(FormatErrorDescription("......", "..", 0), "....../../0000");
    EXPECT_EQ(FormatErrorDescription(FormatCommErrors(CE_OVERRUN), ErrorKindText(kErrorRead), 31),
              "O...../RD/0031");
    EXPECT_EQ(FormatErrorDescription("  ", "  ", 995), "  /  /0995");
    EXPECT_EQ(FormatErrorDescription("", "", 121314), "//121314");
}

TEST(FormatElapsed, ShowsWholeSecondsWithUnwrappedHours) {
    EXPECT_EQ(FormatElapsed(0), "00:00:00");
    EXPECT_EQ(FormatElapsed(999), "00:00:00");
    EXPECT_EQ(FormatElapsed(61 * 1000 + 500), "00:01:01");
    EXPECT_EQ(FormatElapsed(((23 * 60 + 59) * 60 + 59) * 1000u), "23:59:59");
    EXPECT_EQ(FormatElapsed(100u * 3600 * 1000), "100:00:00");
    // The longest a 32-bit millisecond count can hold.
    EXPECT_EQ(FormatElapsed(0xFFFFFFFFu), "1193:02:47");
}

TEST(FormatState, FollowsTheStateTable) {
    struct Row {
        uint32_t mode, rx, tx;
        const char* text;
    };
    const Row table[] = {
        {ModeDuplex, 0, 0, ""},
        {ModeDuplex, 1, 0, "Rx"},
        {ModeDuplex, 0, 1, "Tx"},
        {ModeDuplex, 1, 1, "Rx/Tx"},
        {ModeMaster, 0, 0, "M"},
        {ModeMaster, 0, 1, "M/Tx"},
        {ModeMaster, 1, 1, "M/Rx/Tx"},
        {ModeSlave, 1, 0, "S/Rx"},
        {ModeSlave, 1, 1, "S/Rx/Tx"},
        {ModeSlave, 0, 0, "S"},
        {ModeMaster, 1, 0, "M/Rx"},
        // Any mode value other than duplex and master reads as a slave.
        {7, 0, 1, "S/Tx"},
    };
    for (const Row& r : table)
        EXPECT_EQ(FormatState(r.mode, r.rx, r.tx), r.text)
            << "mode " << r.mode << " rx " << r.rx << " tx " << r.tx;
}

TEST(FormatCounters, PrintTheWholeCountUnsigned) {
    EXPECT_EQ(FormatCounterPair(0, 0), "0/0");
    EXPECT_EQ(FormatCounterPair(1048576, 1024), "1048576/1024");
    EXPECT_EQ(FormatCounter(11520), "11520");
    // Past 2^31, 2^32 and far beyond: never negative, never wrapped.
    EXPECT_EQ(FormatCounter(0x80000000u), "2147483648");
    EXPECT_EQ(FormatCounterPair(0xFFFFFFFFu, 2), "4294967295/2");
    EXPECT_EQ(FormatCounterPair(uint64_t{1} << 40, (uint64_t{1} << 32) + 1),
              "1099511627776/4294967297");
    EXPECT_EQ(FormatElapsed(uint64_t{5000} * 3600 * 1000 + 61000), "5000:01:01");
}

TEST(FormatRowCells, PutsEachValueInItsColumn) {
    PortSnapshot v;
    v.bytesRead = 2048;
    v.blocksOk = 2;
    v.bytesWritten = 3072;
    v.blocksWritten = 3;
    v.rate = 960;
    v.rxErrors = 4;
    v.txErrors = 5;
    v.commErrorText = FormatCommErrors(CE_FRAME);
    v.lastErrorKindText = "SY";
    v.lastOsError = 7;
    v.elapsedMs = 3723000;
    v.mode = ModeMaster;
    v.txRunning = 1;
    const RowCells cells = FormatRowCells(v);
    auto at = [&](int column) { return cells.text[column - kFirstRefreshedColumn]; };
    EXPECT_EQ(at(kColumnRx), "2048/2");
    EXPECT_EQ(at(kColumnTx), "3072/3");
    EXPECT_EQ(at(kColumnCps), "960");
    EXPECT_EQ(at(kColumnErrors), "4/5");
    EXPECT_EQ(at(kColumnErrDesc), ".F..../SY/0007");
    EXPECT_EQ(at(kColumnTime), "01:02:03");
    EXPECT_EQ(at(kColumnState), "M/Tx");
}
