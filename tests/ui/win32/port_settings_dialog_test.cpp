// The settings dialog as the operator meets it: run modally on this thread
// (Wine on a private display) and worked from a second thread through the
// dialog's controls, as typing and clicking would.
#include "tester/ui/win32/port_settings_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tester/config/configuration.h"
#include "tester/ui/win32/message_loop.h"
#include "tester/ui/win32/resource.h"
#include "tests/ui/win32/window_test.h"

namespace {

class CountingDialog : public PortSettingsDialog {
  public:
    std::atomic<int> beeps{0};
    std::atomic<HWND> dialog{nullptr};

  protected:
    void Beep() override { ++beeps; }
    void OnShown(HWND shown) override { dialog = shown; }
};

// Runs the dialog on this thread while `drive` works it from another; the
// driver must end it (OK or Cancel), and a driver that fails half-way
// cancels it so that the test never hangs.
INT_PTR RunDriven(CountingDialog& dialog, const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
        WaitFor([&] { return dialog.dialog.load() != nullptr; });
        HWND shown = dialog.dialog.load();
        ASSERT_NE(shown, nullptr) << "the dialog never came up";
        drive(shown);
        if (IsWindow(shown)) PostMessageA(shown, WM_COMMAND, IDCANCEL, 0);
    });
    INT_PTR result = dialog.Run(nullptr);
    driver.join();
    return result;
}

HWND Control(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

std::string Text(HWND dialog, int id) {
    char text[256] = {};
    SendMessageA(Control(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

int FocusId(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    HWND focus = info.hwndFocus;
    // A combo box with an edit field gives the focus to that edit, its child.
    if (focus && GetParent(focus) != dialog) focus = GetParent(focus);
    return focus ? GetDlgCtrlID(focus) : 0;
}

// Sets an edit's whole text, as pasting it would: one change.
void SetEdit(HWND dialog, int id, const char* text) {
    SendMessageA(Control(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// Types into an edit after its text, one character at a time.
void Type(HWND dialog, int id, const char* text) {
    HWND edit = Control(dialog, id);
    SendMessageA(edit, EM_SETSEL, 0x7FFF, 0x7FFF);
    for (const char* c = text; *c; ++c)
        SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(*c), 1);
}

// Types over a combo box's text in its edit part, as the operator does.
void TypeCombo(HWND dialog, int id, const char* text) {
    HWND edit = FindWindowExA(Control(dialog, id), nullptr, "Edit", nullptr);
    ASSERT_NE(edit, nullptr);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char* c = text; *c; ++c)
        SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(*c), 1);
}

std::vector<std::string> ListOf(HWND dialog, int id) {
    std::vector<std::string> items;
    HWND combo = Control(dialog, id);
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

bool Checked(HWND dialog, int id) {
    return SendMessageA(Control(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Click(HWND dialog, int id) {
    SendMessageA(Control(dialog, id), BM_CLICK, 0, 0);
}

const int kCustomGroup[] = {IDC_RTS_CONTROL,        IDC_RTS_LABEL, IDC_OUTX_CTS_FLOW,
                            IDC_DTR_CONTROL,        IDC_DTR_LABEL, IDC_OUTX_DSR_FLOW,
                            IDC_DSR_SENSITIVITY,    IDC_OUT_X,     IDC_IN_X,
                            IDC_TX_CONTINUE_ON_XOFF};

std::vector<bool> CustomGroupEnabled(HWND dialog) {
    std::vector<bool> enabled;
    for (int id : kCustomGroup)
        enabled.push_back(IsWindowEnabled(Control(dialog, id)) != FALSE);
    return enabled;
}

class PortSettingsDialogTest : public ::testing::Test {
  protected:
    // The settings of a first start: no file, every default.
    void SetUp() override {
        InitWindowing();
        SetConfigPath("./no_such_settings_file.ini");
        LoadConfiguration();
    }
};

}  // namespace

TEST_F(PortSettingsDialogTest, OpensWithTheStoredSettingsAndTheFixedLists) {
    CountingDialog dialog;
    INT_PTR result = RunDriven(dialog, [&](HWND d) {
        EXPECT_EQ(dialog.beeps.load(), 0);
        EXPECT_EQ(Text(d, IDC_BLOCK_SIZE), "1024");
        EXPECT_EQ(Text(d, IDC_BAUD_RATE), "115200");
        EXPECT_EQ(Text(d, IDC_HD_TIMEOUT), "1");
        EXPECT_EQ(Text(d, IDC_DEFAULT_TIMEOUT), "266");
        EXPECT_EQ(ListOf(d, IDC_BYTE_SIZE), (std::vector<std::string>{"5", "6", "7", "8"}));
        EXPECT_EQ(ListOf(d, IDC_PARITY),
                  (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
        EXPECT_EQ(ListOf(d, IDC_STOP_BITS), (std::vector<std::string>{"1", "1.5", "2"}));
        EXPECT_EQ(ListOf(d, IDC_RTS_CONTROL),
                  (std::vector<std::string>{"Low", "High", "Control", "Toggle"}));
        EXPECT_EQ(ListOf(d, IDC_DTR_CONTROL), (std::vector<std::string>{"Low", "High", "Control"}));
        // Every list opens showing all of its entries, while the closed
        // box keeps the template's height.
        for (int id :
             {IDC_BYTE_SIZE, IDC_PARITY, IDC_STOP_BITS, IDC_RTS_CONTROL, IDC_DTR_CONTROL}) {
            HWND combo = Control(d, id);
            COMBOBOXINFO parts{};
            parts.cbSize = sizeof parts;
            ASSERT_TRUE(GetComboBoxInfo(combo, &parts));
            SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
            RECT list, closed, template13{0, 0, 1, 13};
            GetClientRect(parts.hwndList, &list);
            SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
            LRESULT item = SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0);
            LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
            EXPECT_GE(list.bottom, item * count) << id;
            GetWindowRect(combo, &closed);
            MapDialogRect(d, &template13);
            EXPECT_LE(closed.bottom - closed.top, template13.bottom + 2) << id;
        }
        EXPECT_EQ(Text(d, IDC_BYTE_SIZE), "8");
        EXPECT_EQ(Text(d, IDC_PARITY), "None");
        EXPECT_EQ(Text(d, IDC_STOP_BITS), "1");
        EXPECT_TRUE(Checked(d, IDC_PRESET_NONE));
        EXPECT_EQ(Text(d, IDC_RTS_CONTROL), "Low");
        EXPECT_EQ(CustomGroupEnabled(d), std::vector<bool>(10, false));
        EXPECT_TRUE(IsWindowEnabled(Control(d, IDC_PRESET_CUSTOM)));
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(PortSettingsDialogTest, AStoredBaudRateBelow300BeepsAtOnceWithTheFocusOnIt) {
    configuration.portSettings.baudRate = 200;
    CountingDialog dialog;
    RunDriven(dialog, [&](HWND d) {
        EXPECT_EQ(dialog.beeps.load(), 1);
        EXPECT_EQ(FocusId(d), IDC_BAUD_RATE);
    });
    EXPECT_EQ(configuration.portSettings.baudRate.load(), 200u);
}

TEST_F(PortSettingsDialogTest, TypingABaudRateBeepsUntilItIsInRange) {
    CountingDialog dialog;
    RunDriven(dialog, [&](HWND d) {
        SetEdit(d, IDC_BAUD_RATE, "");  // not a number
        EXPECT_EQ(dialog.beeps.load(), 1);
        Type(d, IDC_BAUD_RATE, "115");  // 1, 11, 115
        EXPECT_EQ(dialog.beeps.load(), 4);
        EXPECT_EQ(FocusId(d), IDC_BAUD_RATE);
        Type(d, IDC_BAUD_RATE, "2");  // 1152: in range
        EXPECT_EQ(dialog.beeps.load(), 4);
        EXPECT_EQ(Text(d, IDC_DEFAULT_TIMEOUT), "26666");
        Type(d, IDC_BAUD_RATE, "00");
        EXPECT_EQ(Text(d, IDC_DEFAULT_TIMEOUT), "266");
        SetEdit(d, IDC_BLOCK_SIZE, "64000");
        SetEdit(d, IDC_BAUD_RATE, "300");
        EXPECT_EQ(Text(d, IDC_DEFAULT_TIMEOUT), "6400000");
        EXPECT_EQ(dialog.beeps.load(), 4);
        SetEdit(d, IDC_BLOCK_SIZE, "31");
        EXPECT_EQ(dialog.beeps.load(), 5);
        EXPECT_EQ(FocusId(d), IDC_BLOCK_SIZE);
    });
}

TEST_F(PortSettingsDialogTest, PresetsFillTheHandshakeAndOnlyCustomEnablesIt) {
    LineFlags stored{};
    stored.rtsControl = 1;  // High
    stored.dtrControl = 2;  // Control
    stored.outX = 1;
    stored.txContinueOnXoff = 1;
    configuration.portSettings.lineFlags = stored;
    CountingDialog dialog;
    RunDriven(dialog, [&](HWND d) {
        Click(d, IDC_PRESET_RTS_CTS);
        EXPECT_EQ(Text(d, IDC_RTS_CONTROL), "Control");
        EXPECT_EQ(Text(d, IDC_DTR_CONTROL), "High");
        EXPECT_TRUE(Checked(d, IDC_OUTX_CTS_FLOW));
        EXPECT_FALSE(Checked(d, IDC_OUT_X));
        EXPECT_EQ(CustomGroupEnabled(d), std::vector<bool>(10, false));
        // Custom shows the stored flags, not what Rts/Cts just showed.
        Click(d, IDC_PRESET_CUSTOM);
        EXPECT_TRUE(Checked(d, IDC_PRESET_CUSTOM));
        EXPECT_FALSE(Checked(d, IDC_PRESET_RTS_CTS));
        EXPECT_EQ(Text(d, IDC_RTS_CONTROL), "High");
        EXPECT_EQ(Text(d, IDC_DTR_CONTROL), "Control");
        EXPECT_FALSE(Checked(d, IDC_OUTX_CTS_FLOW));
        EXPECT_TRUE(Checked(d, IDC_OUT_X));
        EXPECT_FALSE(Checked(d, IDC_IN_X));
        EXPECT_TRUE(Checked(d, IDC_TX_CONTINUE_ON_XOFF));
        EXPECT_EQ(CustomGroupEnabled(d), std::vector<bool>(10, true));
        Click(d, IDC_PRESET_XON_XOFF);
        EXPECT_TRUE(Checked(d, IDC_OUT_X));
        EXPECT_TRUE(Checked(d, IDC_IN_X));
        EXPECT_FALSE(Checked(d, IDC_TX_CONTINUE_ON_XOFF));
        EXPECT_EQ(CustomGroupEnabled(d), std::vector<bool>(10, false));
    });
    EXPECT_EQ(configuration.portSettings.flowControl.load(), 0u);  // cancelled
}

TEST_F(PortSettingsDialogTest, OkRefusesABadTimeoutThenStoresWhatTheControlsHold) {
    CountingDialog dialog;
    INT_PTR result = RunDriven(dialog, [&](HWND d) {
        SetEdit(d, IDC_HD_TIMEOUT, "300001");
        EXPECT_EQ(dialog.beeps.load(), 0);  // checked at OK only
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(dialog.beeps.load(), 1);
        EXPECT_EQ(FocusId(d), IDC_HD_TIMEOUT);
        ASSERT_TRUE(IsWindow(d));
        SetEdit(d, IDC_HD_TIMEOUT, "500");
        // A byte size no line has is refused the same way.
        TypeCombo(d, IDC_BYTE_SIZE, "9");
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(dialog.beeps.load(), 2);
        EXPECT_EQ(FocusId(d), IDC_BYTE_SIZE);
        ASSERT_TRUE(IsWindow(d));
        TypeCombo(d, IDC_BYTE_SIZE, "6");
        TypeCombo(d, IDC_PARITY, "none");  // no entry is equal: parity stays
        // Chosen from the list: the selection notification carries it.
        HWND stopBits = Control(d, IDC_STOP_BITS);
        SendMessageA(stopBits, CB_SETCURSEL, 2, 0);
        SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_STOP_BITS, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(stopBits));
        Click(d, IDC_PRESET_CUSTOM);
        Click(d, IDC_OUTX_DSR_FLOW);
        TypeCombo(d, IDC_DTR_CONTROL, "Control");
        SendMessageA(d, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(result, IDOK);
    const PortSettings& s = configuration.portSettings;
    EXPECT_EQ(s.hdTimeout.load(), 500);
    EXPECT_EQ(s.byteSize.load(), 6u);
    EXPECT_EQ(s.parity.load(), 0u);
    EXPECT_EQ(s.stopBits.load(), 2u);
    EXPECT_EQ(s.flowControl.load(), 4u);
    EXPECT_EQ(s.lineFlags.load().outxDsrFlow, 1u);
    EXPECT_EQ(s.lineFlags.load().dtrControl, 2u);
    EXPECT_EQ(s.baudRate.load(), 115200u);
    EXPECT_NE(configuration.summaryText.find("115200,6,None,2"), std::string::npos)
        << configuration.summaryText;
}

TEST_F(PortSettingsDialogTest, CancelAndTheCloseBoxStoreNothing) {
    for (UINT how : {static_cast<UINT>(IDCANCEL), static_cast<UINT>(SC_CLOSE)}) {
        CountingDialog dialog;
        INT_PTR result = RunDriven(dialog, [&](HWND d) {
            SetEdit(d, IDC_BLOCK_SIZE, "2048");
            SetEdit(d, IDC_HD_TIMEOUT, "700");
            if (how == IDCANCEL)
                SendMessageA(d, WM_COMMAND, IDCANCEL, 0);
            else
                SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(configuration.portSettings.blockSize.load(), 1024u);
        EXPECT_EQ(configuration.portSettings.hdTimeout.load(), 1);
    }
}
