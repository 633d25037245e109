#include "tester/session/settings_form.h"

#include <gtest/gtest.h>

#include <vector>

#include "tester/config/configuration.h"

namespace {

// The settings a fresh start has, with a stale summary to see it rebuilt.
class SettingsForm : public ::testing::Test {
  protected:
    void SetUp() override {
        PortSettings& s = configuration.portSettings;
        s.blockSize = 1024;
        s.baudRate = 115200;
        s.byteSize = 8;
        s.parity = 0;
        s.stopBits = 0;
        s.flowControl = 0;
        s.lineFlags = LineFlags::fromWord(0);
        s.hdTimeout = 0;
        configuration.summaryText = "stale";
    }

    // What a front end does when the form opens: load, then put the edits'
    // texts into their controls, which reports them as changed.
    std::vector<FormCheck> Open() {
        form.Load();
        return {form.TextChanged(IDC_BLOCK_SIZE, form.TextOf(IDC_BLOCK_SIZE)),
                form.TextChanged(IDC_BAUD_RATE, form.TextOf(IDC_BAUD_RATE)),
                form.TextChanged(IDC_HD_TIMEOUT, form.TextOf(IDC_HD_TIMEOUT))};
    }

    // The settings as one comparable record.
    static std::vector<uint32_t> Stored() {
        const PortSettings& s = configuration.portSettings;
        return {s.blockSize,
                s.baudRate,
                s.byteSize,
                s.parity,
                s.stopBits,
                s.flowControl,
                s.lineFlags.load().word(),
                static_cast<uint32_t>(s.hdTimeout.load())};
    }

    PortSettingsForm form;
};

void ExpectHandshake(const PortSettingsForm& form, const char* rts, int32_t cts, const char* dtr,
                     int32_t dsrFlow, int32_t dsrSens, int32_t outX, int32_t inX, int32_t txCont) {
    EXPECT_EQ(form.TextOf(IDC_RTS_CONTROL), rts);
    EXPECT_EQ(form.CheckOf(IDC_OUTX_CTS_FLOW), cts);
    EXPECT_EQ(form.TextOf(IDC_DTR_CONTROL), dtr);
    EXPECT_EQ(form.CheckOf(IDC_OUTX_DSR_FLOW), dsrFlow);
    EXPECT_EQ(form.CheckOf(IDC_DSR_SENSITIVITY), dsrSens);
    EXPECT_EQ(form.CheckOf(IDC_OUT_X), outX);
    EXPECT_EQ(form.CheckOf(IDC_IN_X), inX);
    EXPECT_EQ(form.CheckOf(IDC_TX_CONTINUE_ON_XOFF), txCont);
}

}  // namespace

TEST_F(SettingsForm, OpensWithTheStoredValuesAndTheirDefaultTimeout) {
    configuration.portSettings.parity = 2;
    configuration.portSettings.stopBits = 1;
    configuration.portSettings.hdTimeout = 750;
    for (const FormCheck& check : Open())
        EXPECT_TRUE(check.ok);
    EXPECT_EQ(form.TextOf(IDC_BLOCK_SIZE), "1024");
    EXPECT_EQ(form.TextOf(IDC_BAUD_RATE), "115200");
    EXPECT_EQ(form.TextOf(IDC_BYTE_SIZE), "8");
    EXPECT_EQ(form.TextOf(IDC_PARITY), "Even");
    EXPECT_EQ(form.TextOf(IDC_STOP_BITS), "1.5");
    EXPECT_EQ(form.TextOf(IDC_HD_TIMEOUT), "750");
    EXPECT_EQ(form.Preset(), 0);
    EXPECT_FALSE(form.CustomGroupEnabled());
    ExpectHandshake(form, "Low", 0, "Low", 0, 0, 0, 0, 0);
    EXPECT_EQ(form.DefaultTimeoutText(), "266");  // 1024 x 30000 / 115200
}

TEST_F(SettingsForm, DefaultTimeoutIsBlockTimesThirtyThousandOverBaud) {
    EXPECT_EQ(DefaultHdTimeoutText(1024, 115200), "266");
    EXPECT_EQ(DefaultHdTimeoutText(64000, 300), "6400000");
    EXPECT_EQ(DefaultHdTimeoutText(32, 921600), "1");
    // The product is kept to 32 bits before the division.
    EXPECT_EQ(DefaultHdTimeoutText(200000, 1), "1705032704");
    configuration.portSettings.blockSize = 64000;
    configuration.portSettings.baudRate = 300;
    Open();
    EXPECT_EQ(form.DefaultTimeoutText(), "6400000");
}

TEST_F(SettingsForm, ABaudRateOfZeroIsNeverDividedBy) {
    // What the engine waits with a speed of 0 (as for 300 bit/s) is shown.
    EXPECT_EQ(DefaultHdTimeoutText(1024, 0), "102400");
    configuration.portSettings.baudRate = 0;  // a file may hold it
    const std::vector<FormCheck> checks = Open();
    EXPECT_FALSE(checks[1].ok);
    EXPECT_EQ(form.DefaultTimeoutText(), "102400");
    // The box emptied, then the block size changed: still no division.
    EXPECT_FALSE(form.TextChanged(IDC_BAUD_RATE, "").ok);
    EXPECT_EQ(form.Values().baudRate, 0);
    EXPECT_TRUE(form.TextChanged(IDC_BLOCK_SIZE, "2048").ok);
    EXPECT_EQ(form.DefaultTimeoutText(), "204800");
}

TEST_F(SettingsForm, AStoredBaudRateBelow300BeepsAsTheFormOpens) {
    configuration.portSettings.baudRate = 299;
    const std::vector<FormCheck> checks = Open();
    EXPECT_TRUE(checks[0].ok);
    EXPECT_FALSE(checks[1].ok);
    EXPECT_EQ(checks[1].focus, IDC_BAUD_RATE);
}

TEST_F(SettingsForm, TypingABaudRateBeepsAtEveryValueBelow300) {
    Open();
    struct Step {
        const char* text;
        bool ok;
        const char* shown;  // the default time-out afterwards
    };
    const Step steps[] = {
        {"1", false, "266"},       {"11", false, "266"},    {"115", false, "266"},
        {"1152", true, "26666"},   {"11520", true, "2666"}, {"115200", true, "266"},
        {"1152000", false, "266"},  // above 921600
    };
    for (const Step& s : steps) {
        const FormCheck check = form.TextChanged(IDC_BAUD_RATE, s.text);
        EXPECT_EQ(check.ok, s.ok) << s.text;
        if (!check.ok) {
            EXPECT_EQ(check.focus, IDC_BAUD_RATE) << s.text;
        }
        EXPECT_EQ(form.DefaultTimeoutText(), s.shown) << s.text;
    }
    // The working value follows the text even when it beeps.
    EXPECT_EQ(form.Values().baudRate, 1152000);
}

TEST_F(SettingsForm, BlockSizeChangesAreCheckedAgainst32To64000) {
    Open();
    EXPECT_FALSE(form.TextChanged(IDC_BLOCK_SIZE, "31").ok);
    EXPECT_TRUE(form.TextChanged(IDC_BLOCK_SIZE, "32").ok);
    EXPECT_EQ(form.DefaultTimeoutText(), "8");
    EXPECT_TRUE(form.TextChanged(IDC_BLOCK_SIZE, "64000").ok);
    EXPECT_FALSE(form.TextChanged(IDC_BLOCK_SIZE, "64001").ok);
    // Whatever follows the number is ignored; no number at all fails.
    EXPECT_TRUE(form.TextChanged(IDC_BLOCK_SIZE, "2048 bytes").ok);
    EXPECT_EQ(form.Values().blockSize, 2048);
    const FormCheck empty = form.TextChanged(IDC_BLOCK_SIZE, "");
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.focus, IDC_BLOCK_SIZE);
    EXPECT_EQ(form.Values().blockSize, 0);
    // Read unsigned, compared signed: a huge number is below the range.
    EXPECT_FALSE(form.TextChanged(IDC_BLOCK_SIZE, "4294967295").ok);
    EXPECT_EQ(form.Values().blockSize, -1);
}

TEST_F(SettingsForm, PresetsWriteTheirHandshakeAndOnlyCustomEnablesTheGroup) {
    Open();
    form.PresetClicked(1);
    ExpectHandshake(form, "Control", 1, "High", 0, 0, 0, 0, 0);
    EXPECT_FALSE(form.CustomGroupEnabled());
    form.PresetClicked(2);
    ExpectHandshake(form, "High", 0, "Control", 1, 1, 0, 0, 0);
    form.PresetClicked(3);
    ExpectHandshake(form, "High", 0, "High", 0, 0, 1, 1, 0);
    EXPECT_EQ(form.Preset(), 3);
    // No radio set, or a preset outside 0..4: nothing changes.
    form.PresetClicked(-1);
    form.ApplyPreset(5);
    form.ApplyPreset(-2);
    EXPECT_EQ(form.Preset(), 3);
    ExpectHandshake(form, "High", 0, "High", 0, 0, 1, 1, 0);
    form.PresetClicked(4);
    EXPECT_TRUE(form.CustomGroupEnabled());
    form.PresetClicked(0);
    EXPECT_FALSE(form.CustomGroupEnabled());
    ExpectHandshake(form, "Low", 0, "Low", 0, 0, 0, 0, 0);
}

TEST_F(SettingsForm, SwitchingFromRtsCtsToCustomShowsTheStoredFlags) {
    LineFlags stored = LineFlags::fromWord(0);
    stored.rtsControl = 1;  // High
    stored.dtrControl = 0;  // Low
    stored.outxDsrFlow = 1;
    stored.inX = 1;
    stored.txContinueOnXoff = 1;
    configuration.portSettings.lineFlags = stored;
    configuration.portSettings.flowControl = 1;
    Open();
    ExpectHandshake(form, "Control", 1, "High", 0, 0, 0, 0, 0);
    form.PresetClicked(4);
    ExpectHandshake(form, "High", 0, "Low", 1, 0, 0, 1, 1);
    // What the operator changes in Custom is not what Custom comes back to.
    form.CheckChanged(IDC_OUT_X, 1);
    form.TextChanged(IDC_RTS_CONTROL, "Control");
    form.PresetClicked(0);
    form.PresetClicked(4);
    ExpectHandshake(form, "High", 0, "Low", 1, 0, 0, 1, 1);
}

TEST_F(SettingsForm, OkChecksBlockThenBaudThenTimeoutAndStoresNothingOnFailure) {
    Open();
    form.TextChanged(IDC_BLOCK_SIZE, "16");
    form.TextChanged(IDC_BAUD_RATE, "100");
    form.TextChanged(IDC_HD_TIMEOUT, "300001");
    form.TextChanged(IDC_PARITY, "Odd");
    const std::vector<uint32_t> before = Stored();
    struct Fix {
        int id;
        const char* text;
        int nextFocus;
    };
    const Fix fixes[] = {{IDC_BLOCK_SIZE, "512", IDC_BAUD_RATE},
                         {IDC_BAUD_RATE, "9600", IDC_HD_TIMEOUT},
                         {IDC_HD_TIMEOUT, "", IDC_HD_TIMEOUT},
                         {IDC_HD_TIMEOUT, "-1", IDC_HD_TIMEOUT}};
    FormCheck check = form.Ok();
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.focus, IDC_BLOCK_SIZE);
    for (const Fix& f : fixes) {
        form.TextChanged(f.id, f.text);
        check = form.Ok();
        EXPECT_FALSE(check.ok) << f.text;
        EXPECT_EQ(check.focus, f.nextFocus) << f.text;
        EXPECT_EQ(Stored(), before);
        EXPECT_EQ(configuration.summaryText, "stale");
    }
    form.TextChanged(IDC_HD_TIMEOUT, "300000");
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_EQ(configuration.portSettings.blockSize, 512u);
    EXPECT_EQ(configuration.portSettings.baudRate, 9600u);
    EXPECT_EQ(configuration.portSettings.hdTimeout, 300000);
    EXPECT_EQ(configuration.portSettings.parity, 1u);
}

TEST_F(SettingsForm, UnknownNamesLeaveTheirSettingsAsTheyWere) {
    configuration.portSettings.parity = 2;
    configuration.portSettings.stopBits = 2;
    LineFlags flags = LineFlags::fromWord(0);
    flags.rtsControl = 2;
    flags.dtrControl = 1;
    configuration.portSettings.lineFlags = flags;
    Open();
    form.TextChanged(IDC_PARITY, "none");  // not "None"
    form.TextChanged(IDC_STOP_BITS, "1.50");
    form.TextChanged(IDC_RTS_CONTROL, "low");
    form.TextChanged(IDC_DTR_CONTROL, "");
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_EQ(configuration.portSettings.parity, 2u);
    EXPECT_EQ(configuration.portSettings.stopBits, 2u);
    EXPECT_EQ(configuration.portSettings.lineFlags.load().rtsControl, 2u);
    EXPECT_EQ(configuration.portSettings.lineFlags.load().dtrControl, 1u);

    form.TextChanged(IDC_PARITY, "Space");
    form.TextChanged(IDC_STOP_BITS, "1");
    form.TextChanged(IDC_RTS_CONTROL, "High");
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_EQ(configuration.portSettings.parity, 4u);
    EXPECT_EQ(configuration.portSettings.stopBits, 0u);
    EXPECT_EQ(configuration.portSettings.lineFlags.load().rtsControl, 1u);

    // "Toggle" (RS-485) is a name of RTS alone.
    EXPECT_EQ(PortSettingsForm::ComboItems(IDC_RTS_CONTROL).size(), 4u);
    EXPECT_EQ(PortSettingsForm::ComboItems(IDC_DTR_CONTROL).size(), 3u);
    form.TextChanged(IDC_RTS_CONTROL, "Toggle");
    form.TextChanged(IDC_DTR_CONTROL, "Toggle");
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_EQ(configuration.portSettings.lineFlags.load().rtsControl, 3u);
    EXPECT_EQ(configuration.portSettings.lineFlags.load().dtrControl, 1u);
    form.ApplyPreset(4);
    EXPECT_EQ(form.TextOf(IDC_RTS_CONTROL), "Toggle") << "Custom shows what is stored";
}

// The byte size is the text's leading number, and OK refuses one that no
// line can have, like the other fields: beep, focus, nothing stored.
TEST_F(SettingsForm, ByteSizeIsTheLeadingNumberFromFiveToEight) {
    Open();
    for (const char* bad : {"9", "4", "eight", ""}) {
        SCOPED_TRACE(bad);
        form.TextChanged(IDC_BYTE_SIZE, bad);
        const FormCheck check = form.Ok();
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.focus, IDC_BYTE_SIZE);
        EXPECT_EQ(configuration.portSettings.byteSize, 8u) << "nothing stored";
    }
    form.TextChanged(IDC_BYTE_SIZE, "7 bits");
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_EQ(configuration.portSettings.byteSize, 7u);
    EXPECT_NE(configuration.summaryText.find("115200,7,None,1"), std::string::npos)
        << configuration.summaryText;
}

TEST_F(SettingsForm, OkWithNothingChangedKeepsTheSettingsAndRebuildsTheSummary) {
    configuration.portSettings.flowControl = 4;
    LineFlags flags = LineFlags::fromWord(0);
    flags.dtrControl = 2;
    flags.outX = 1;
    configuration.portSettings.lineFlags = flags;
    configuration.portSettings.hdTimeout = 1500;
    const std::vector<uint32_t> before = Stored();
    Open();
    EXPECT_TRUE(form.CustomGroupEnabled());
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(configuration.summaryText,
              "Comm setting: 115200,8,None,1   Flow control: Custom   Block size: 1024 bytes   "
              "HD Timeout: 1500 ms");
}

TEST_F(SettingsForm, CheckBoxesStoreTheirLowestBit) {
    configuration.portSettings.flowControl = 4;
    Open();
    form.CheckChanged(IDC_OUTX_CTS_FLOW, 1);
    form.CheckChanged(IDC_OUT_X, 3);
    form.CheckChanged(IDC_IN_X, 2);
    EXPECT_EQ(form.CheckOf(IDC_OUT_X), 0);  // shown as 0 outside 0..2
    EXPECT_EQ(form.CheckOf(IDC_IN_X), 2);
    ASSERT_TRUE(form.Ok().ok);
    const LineFlags stored = configuration.portSettings.lineFlags;
    EXPECT_EQ(stored.outxCtsFlow, 1u);
    EXPECT_EQ(stored.outX, 1u);
    EXPECT_EQ(stored.inX, 0u);
    EXPECT_EQ(stored.reserved, 0u);
}

TEST(SettingsFormNumbers, ReadLikeTheSystemsIntegerReads) {
    uint32_t u = 7;
    EXPECT_TRUE(ReadUnsignedDecimal("  300x", u));
    EXPECT_EQ(u, 300u);
    EXPECT_TRUE(ReadUnsignedDecimal("-1", u));  // wraps, as the unsigned read does
    EXPECT_EQ(u, 0xFFFFFFFFu);
    EXPECT_FALSE(ReadUnsignedDecimal("4294967296", u));
    EXPECT_FALSE(ReadUnsignedDecimal("-", u));
    int32_t s = 7;
    EXPECT_TRUE(ReadSignedDecimal("-2147483648", s));
    EXPECT_EQ(s, INT32_MIN);
    EXPECT_FALSE(ReadSignedDecimal("2147483648", s));
    EXPECT_FALSE(ReadSignedDecimal("99999999999999999999", s));
}
