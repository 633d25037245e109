// The main window in this process (Wine on a private display): built from
// a configuration file, worked from a second thread while this one runs
// the message loop, closed, and the file read back. Its ports do not
// exist, so every row ends "Not open"; the smoke test runs live ports.
#include "tester/ui/win32/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tester/version/version.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/ui/win32/frame_rules.h"
#include "tester/ui/win32/resource.h"
#include "tests/ui/win32/window_test.h"

namespace {

const char kIniPath[] = "./main_window_test.ini";

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Sections(const std::string& text) {
    std::vector<std::string> names;
    std::regex header(R"(^\[([^\]]+)\])", std::regex::multiline);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), header);
         it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

int IniInt(const char* section, const char* key) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, -12345, kIniPath));
}

std::string Cell(HWND list, int row, int column) {
    char text[256] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

bool Selected(HWND list, int row) {
    return SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED;
}

HWND ListOf(HWND main) {
    return FindWindowExA(main, nullptr, WC_LISTVIEWA, nullptr);
}

HWND StatusOf(HWND main) {
    return FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);
}

// The client rectangle of `child` in its parent's client coordinates.
RECT InParent(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Part 0's text; in simple mode the simple text, which the status bar
// reports as part 0. `noBorders` tells whether it is drawn without them.
std::string StatusText(HWND status, bool* noBorders = nullptr) {
    char text[512] = {};
    LRESULT r = SendMessageA(status, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    if (noBorders) *noBorders = HIWORD(r) & SBT_NOBORDERS;
    return text;
}

bool MenuChecked(HWND main, UINT command) {
    return GetMenuState(GetMenu(main), command, MF_BYCOMMAND) & MF_CHECKED;
}

// A dialog of the system's dialog class with this caption, once it is up:
// a modal dialog is shown only after its initialisation, which fills the
// controls (and would overwrite what a test had typed before).
HWND ShownDialog(const char* caption) {
    HWND dialog = FindWindowA("#32770", caption);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

// A popup menu on screen (the system's menu window class).
bool PopupMenuShown() {
    HWND popup = FindWindowA("#32768", nullptr);
    return popup && IsWindowVisible(popup);
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitWindowing();
        ASSERT_TRUE(appModule.AddMessageLoop(&loop_));
        SetVersionFromWords(0x00010001, 0x00020001);
        std::remove(kIniPath);
        SetConfigPath(kIniPath);
    }
    void TearDown() override {
        appModule.RemoveMessageLoop();
        ClearQuitForTesting();
        std::remove(kIniPath);
    }

    void WriteIni(const std::string& text) {
        std::ofstream out(kIniPath, std::ios::binary);
        out << text;
    }

    // Creates the window, runs the loop on this thread while `drive` works
    // the window from another, and returns the loop's exit code. The
    // driver's last act is a close request (made for it if it returns).
    int RunDriven(const std::function<void(HWND)>& drive) {
        auto* window = new MainWindow;
        if (!window->Create()) {
            ADD_FAILURE() << "the window was not created";
            return -1;
        }
        HWND main = window->hwnd();
        ShowWindow(main, SW_SHOWNORMAL);
        std::thread driver([&] {
            drive(main);
            PostMessageA(main, WM_CLOSE, 0, 0);
        });
        int code = loop_.Run();
        driver.join();
        EXPECT_FALSE(IsWindow(main));
        EXPECT_TRUE(window->SafeToDestroy());
        if (window->SafeToDestroy()) delete window;
        return code;
    }

    MessageLoop loop_;
};

}  // namespace

TEST_F(MainWindowTest, IsBuiltFromTheConfigurationAndSavesItOnClose) {
    WriteIni(
        "[Ports]\r\nCOM200\r\ncom201\r\n"
        "[Window]\r\nLeft=120\r\nTop=80\r\nRight=720\r\nBottom=480\r\n"
        "[Columns]\r\nColumnWidth1=90\r\nColumnWidth3=-1\r\n");
    int code = RunDriven([](HWND main) {
        char title[128] = {};
        GetWindowTextA(main, title, sizeof title);
        EXPECT_STREQ(title, "VeskTest (Win32) - ver 1.1.2 (build 001)");
        RECT frame;
        GetWindowRect(main, &frame);
        EXPECT_EQ(frame.left, 120);
        EXPECT_EQ(frame.top, 80);
        EXPECT_EQ(frame.right - frame.left, 600);
        EXPECT_EQ(frame.bottom - frame.top, 400);

        HWND list = ListOf(main);
        ASSERT_NE(list, nullptr);
        LONG style = GetWindowLongA(list, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
        EXPECT_FALSE(style & LVS_SINGLESEL);
        EXPECT_FALSE(style & LVS_SORTASCENDING);
        EXPECT_TRUE(GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        LRESULT extended = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        EXPECT_EQ(extended & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
                  LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

        const char* titles[] = {"#",    "Name",    "Rx#",  "Tx#",  "CPS",
                                "Err#", "ErrDesc", "Time", "State"};
        for (int i = 0; i < 9; ++i) {
            char text[32] = {};
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_FMT;
            column.pszText = text;
            column.cchTextMax = sizeof text;
            ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
            EXPECT_STREQ(text, titles[i]);
            // The first column of a list view is always left-aligned.
            if (i > 0) {
                EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT) << i;
            }
        }
        EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), 40);
        EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0), 90);
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 7, 77);  // as if dragged

        LOGFONTA standard{}, shown{};
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof standard, &standard);
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        GetObjectA(font, sizeof shown, &shown);
        EXPECT_EQ(shown.lfHeight, EnlargedFontHeight(standard.lfHeight));

        HWND status = StatusOf(main);
        ASSERT_NE(status, nullptr);
        EXPECT_TRUE(IsWindowVisible(status));
        EXPECT_EQ(StatusText(status), configuration.summaryText);
        EXPECT_TRUE(MenuChecked(main, ID_VIEW_STATUS_BAR));
        // The list fills the client area above the status bar.
        RECT client, listRect = InParent(list), statusRect = InParent(status);
        GetClientRect(main, &client);
        EXPECT_EQ(listRect.left, 0);
        EXPECT_EQ(listRect.top, 0);
        EXPECT_EQ(listRect.right, client.right);
        EXPECT_EQ(listRect.bottom, statusRect.top);
        EXPECT_EQ(statusRect.bottom, client.bottom);

        // The port threads make the rows; the names are upper-cased.
        ASSERT_TRUE(WaitFor([&] {
            return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2 &&
                   Cell(list, 0, 8) == "Not open" && Cell(list, 1, 8) == "Not open";
        }));
        EXPECT_EQ(Cell(list, 0, 0), "1");
        EXPECT_EQ(Cell(list, 0, 1), "COM200");
        EXPECT_EQ(Cell(list, 1, 0), "2");
        EXPECT_EQ(Cell(list, 1, 1), "COM201");
        EXPECT_EQ(Cell(list, 1, 2), "");  // never refreshed
    });
    EXPECT_EQ(code, 1);

    const std::string saved = ReadFile(kIniPath);
    EXPECT_EQ(Sections(saved),
              (std::vector<std::string>{"Ports", "Window", "Columns", "Misc", "Serial"}));
    EXPECT_NE(saved.find("[Ports]\r\nCOM200\r\ncom201\r\n"), std::string::npos) << saved;
    EXPECT_EQ(IniInt("Window", "Left"), 120);
    EXPECT_EQ(IniInt("Window", "Top"), 80);
    EXPECT_EQ(IniInt("Window", "Right"), 720);
    EXPECT_EQ(IniInt("Window", "Bottom"), 480);
    EXPECT_EQ(IniInt("Columns", "ColumnWidth1"), 90);
    EXPECT_EQ(IniInt("Columns", "ColumnWidth7"), 77);
    EXPECT_EQ(IniInt("Columns", "ColumnWidth8"), 40);
    EXPECT_NE(IniInt("Columns", "ColumnWidth3"), -12345);
    EXPECT_EQ(IniInt("Misc", "BlockSize"), 1024);
}

TEST_F(MainWindowTest, WithoutAFileStartsWithDefaultsAndWritesTheFourSections) {
    WriteIni("[Ports]\r\nCOM200\r\n");
    std::remove(kIniPath);  // no file at all: 255 COM ports, defaults
    int code = RunDriven([](HWND main) {
        HWND list = ListOf(main);
        EXPECT_TRUE(WaitFor([&] {
            return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 255 &&
                   Cell(list, 254, 8) == "Not open";
        }));
        EXPECT_EQ(Cell(list, 254, 1), "COM255");
        RECT frame;
        GetWindowRect(main, &frame);
        EXPECT_EQ(frame.right - frame.left, 599);
        EXPECT_EQ(frame.bottom - frame.top, 399);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Sections(ReadFile(kIniPath)),
              (std::vector<std::string>{"Misc", "Serial", "Window", "Columns"}));
}

TEST_F(MainWindowTest, StatusBarToggleAndMenuHelp) {
    WriteIni("[Ports]\r\nCOM200\r\n");
    RunDriven([](HWND main) {
        HWND list = ListOf(main), status = StatusOf(main);
        RECT client;
        GetClientRect(main, &client);

        SendMessageA(main, WM_COMMAND, ID_VIEW_STATUS_BAR, 0);
        EXPECT_FALSE(IsWindowVisible(status));
        EXPECT_FALSE(MenuChecked(main, ID_VIEW_STATUS_BAR));
        EXPECT_EQ(InParent(list).bottom, client.bottom);  // the list takes the room
        SendMessageA(main, WM_COMMAND, ID_VIEW_STATUS_BAR, 0);
        EXPECT_TRUE(IsWindowVisible(status));
        EXPECT_TRUE(MenuChecked(main, ID_VIEW_STATUS_BAR));
        EXPECT_EQ(InParent(list).bottom, InParent(status).top);

        // The check mark is set again from the visibility when the menu opens.
        HMENU view = GetSubMenu(GetMenu(main), 2);
        CheckMenuItem(view, ID_VIEW_STATUS_BAR, MF_BYCOMMAND | MF_UNCHECKED);
        SendMessageA(main, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), MAKELPARAM(2, FALSE));
        EXPECT_TRUE(MenuChecked(main, ID_VIEW_STATUS_BAR));

        // Menu help: the first line of the item's text, in simple mode.
        HMENU file = GetSubMenu(GetMenu(main), 0);
        SendMessageA(main, WM_MENUSELECT, MAKEWPARAM(ID_APP_EXIT, MF_HILITE),
                     reinterpret_cast<LPARAM>(file));
        EXPECT_TRUE(SendMessageA(status, SB_ISSIMPLE, 0, 0));
        bool noBorders = false;
        EXPECT_EQ(StatusText(status, &noBorders),
                  "Quit the application; prompts to save documents");
        EXPECT_TRUE(noBorders);
        SendMessageA(main, WM_MENUSELECT, MAKEWPARAM(ID_PORTS_HD_SLAVE, MF_HILITE),
                     reinterpret_cast<LPARAM>(file));
        EXPECT_EQ(StatusText(status), "Set Half-Duplex Slave mode for  selected ports");
        HMENU system = GetSystemMenu(main, FALSE);
        SendMessageA(main, WM_MENUSELECT, MAKEWPARAM(SC_CLOSE, MF_HILITE | MF_SYSMENU),
                     reinterpret_cast<LPARAM>(system));
        EXPECT_EQ(StatusText(status), "Close the active window and prompts to save the documents");
        SendMessageA(main, WM_MENUSELECT, MAKEWPARAM(1, MF_HILITE | MF_POPUP),
                     reinterpret_cast<LPARAM>(GetMenu(main)));
        EXPECT_EQ(StatusText(status), "");
        // The menu closes: the summary again.
        SendMessageA(main, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
        EXPECT_FALSE(SendMessageA(status, SB_ISSIMPLE, 0, 0));
        EXPECT_EQ(StatusText(status), configuration.summaryText);
    });
}

// Every text of a dialog's static controls (a message box's text among
// them), one after the other.
std::string StaticTexts(HWND dialog) {
    std::string texts;
    for (HWND child = FindWindowExA(dialog, nullptr, "Static", nullptr); child;
         child = FindWindowExA(dialog, child, "Static", nullptr)) {
        char text[512] = {};
        GetWindowTextA(child, text, sizeof text);
        texts += text;
    }
    return texts;
}

TEST_F(MainWindowTest, KeyZTheSelectionCommandsAndTheChecksReachTheRows) {
    WriteIni("[Ports]\r\nCOM200\r\nCOM201\r\nCOM202\r\n");
    RunDriven([](HWND main) {
        HWND list = ListOf(main);
        ASSERT_TRUE(WaitFor([&] {
            return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 3 &&
                   Cell(list, 2, 8) == "Not open";
        }));
        // A capital Z is another character: no command.
        PostMessageA(list, WM_CHAR, 'Z', 1);
        Sleep(300);
        EXPECT_FALSE(Selected(list, 0) || Selected(list, 1) || Selected(list, 2));
        // The typed z goes through the loop's filter to HdPairs.
        PostMessageA(list, WM_CHAR, 'z', 1);
        EXPECT_TRUE(
            WaitFor([&] { return Selected(list, 0) && Selected(list, 1) && Selected(list, 2); }));
        SendMessageA(main, WM_COMMAND, ID_PORTS_EVEN, 0);
        EXPECT_FALSE(Selected(list, 0));
        EXPECT_TRUE(Selected(list, 1));
        EXPECT_FALSE(Selected(list, 2));
        SendMessageA(main, WM_COMMAND, ID_PORTS_ODD, 0);
        EXPECT_TRUE(Selected(list, 0));
        EXPECT_FALSE(Selected(list, 1));
        EXPECT_TRUE(Selected(list, 2));

        // Modem lines on rows 1 and 3: neither has its partner selected, so
        // each is checked with a loop-back plug; the check runs aside and
        // its results come in a box over the window.
        PostMessageA(main, WM_COMMAND, ID_PORTS_MODEM_LINES, 0);
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = ShownDialog("Modem lines")) != nullptr; }));
        EXPECT_EQ(GetWindow(box, GW_OWNER), main);
        EXPECT_EQ(StaticTexts(box),
                  "1 COM200 (loop-back): not open\n3 COM202 (loop-back): not open");
        SendMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        EXPECT_EQ(StatusText(StatusOf(main)), configuration.summaryText);

        // Flow, break and parity the same way, a line per check.
        PostMessageA(main, WM_COMMAND, ID_PORTS_LINE_CONDITIONS, 0);
        ASSERT_TRUE(WaitFor([&] { return (box = ShownDialog("Flow, break, parity")) != nullptr; }));
        EXPECT_EQ(GetWindow(box, GW_OWNER), main);
        EXPECT_EQ(StaticTexts(box),
                  "1 COM200 (loop-back)\n  flow: not open\n  break: not open\n  parity: not open\n"
                  "3 COM202 (loop-back)\n  flow: not open\n  break: not open\n  parity: not open");
        SendMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        EXPECT_EQ(StatusText(StatusOf(main)), configuration.summaryText);
    });
}

TEST_F(MainWindowTest, ThePopupMenuOpensOnlyWithTheCursorOverTheList) {
    WriteIni("[Ports]\r\nCOM200\r\n");
    RunDriven([](HWND main) {
        HWND list = ListOf(main), status = StatusOf(main);
        RECT over;
        GetWindowRect(status, &over);
        SetCursorPos((over.left + over.right) / 2, (over.top + over.bottom) / 2);
        PostMessageA(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(status), -1);
        Sleep(500);
        EXPECT_FALSE(PopupMenuShown());

        GetWindowRect(list, &over);
        SetCursorPos((over.left + over.right) / 2, (over.top + over.bottom) / 2);
        // The message's own position (the keyboard's -1) does not count.
        PostMessageA(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
        EXPECT_TRUE(WaitFor(PopupMenuShown, 5000));
        PostMessageA(main, WM_CANCELMODE, 0, 0);
        EXPECT_TRUE(WaitFor([] { return !PopupMenuShown(); }, 5000));
    });
}

TEST_F(MainWindowTest, TheAboutBoxOpensCentredOverTheWindow) {
    WriteIni("[Ports]\r\nCOM200\r\n[Window]\r\nLeft=200\r\nTop=150\r\nRight=800\r\nBottom=550\r\n");
    RunDriven([](HWND main) {
        PostMessageA(main, WM_COMMAND, ID_APP_ABOUT, 0);
        HWND about = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (about = ShownDialog("About")) != nullptr; }));
        EXPECT_EQ(GetWindow(about, GW_OWNER), main);
        RECT owner, box;
        GetWindowRect(main, &owner);
        GetWindowRect(about, &box);
        EXPECT_NEAR((box.left + box.right) / 2, (owner.left + owner.right) / 2, 1);
        EXPECT_NEAR((box.top + box.bottom) / 2, (owner.top + owner.bottom) / 2, 1);
        char text[128] = {};
        GetWindowTextA(
            FindWindowExA(about, nullptr, "Static", "vesktestw v1.1.2\n\nSerial line tester"), text,
            sizeof text);
        EXPECT_EQ(std::string(text).rfind("vesktestw v1.1.2", 0), 0u);
        SendMessageA(about, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
    });
}

TEST_F(MainWindowTest, ConfirmedPortsSettingsReachTheStatusBarAndTheFile) {
    WriteIni("[Ports]\r\nCOM200\r\n");
    int code = RunDriven([](HWND main) {
        PostMessageA(main, WM_COMMAND, ID_PORTS_SETTINGS, 0);
        HWND dialog = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (dialog = ShownDialog("Ports settings")) != nullptr; }));
        SendDlgItemMessageA(dialog, IDC_BLOCK_SIZE, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>("2048"));
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        bool noBorders = false;
        std::string summary = StatusText(StatusOf(main), &noBorders);
        EXPECT_NE(summary.find("Block size: 2048 bytes"), std::string::npos) << summary;
        EXPECT_TRUE(noBorders);

        // Cancelled: nothing changes.
        PostMessageA(main, WM_COMMAND, ID_PORTS_SETTINGS, 0);
        ASSERT_TRUE(WaitFor([&] { return (dialog = ShownDialog("Ports settings")) != nullptr; }));
        SendDlgItemMessageA(dialog, IDC_BLOCK_SIZE, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>("4096"));
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        EXPECT_EQ(StatusText(StatusOf(main)), summary);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(IniInt("Misc", "BlockSize"), 2048);
}
