// The resources as the program carries them: menus, the popup menu, the
// accelerator, the help texts and both dialog templates, read back from
// this test program (which links the same compiled resource script).
#include "platform/win32_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/win32/dialog_template.h"
#include "tester/ui/win32/frame_rules.h"
#include "tester/ui/win32/resource.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

// A menu as text: one line per item, "-" for a separator, "[x]" for a
// check mark, a popup's items indented under its title.
void Describe(HMENU menu, const std::string& indent, std::vector<std::string>& lines) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[256] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, i, TRUE, &info));
        if (info.fType & MFT_SEPARATOR) {
            lines.push_back(indent + "-");
            continue;
        }
        std::string line = indent + text;
        if (info.fState & MFS_CHECKED) line += " [x]";
        if (info.hSubMenu) {
            lines.push_back(line);
            Describe(info.hSubMenu, indent + "  ", lines);
        } else {
            lines.push_back(line + " =" + std::to_string(info.wID));
        }
    }
}

std::vector<std::string> DescribeMenu(const char* name) {
    HMENU menu = LoadMenuA(Self(), name);
    std::vector<std::string> lines;
    if (!menu) return lines;
    Describe(menu, "", lines);
    DestroyMenu(menu);
    return lines;
}

std::string Id(int id) {
    return " =" + std::to_string(id);
}

std::string LoadText(UINT id) {
    char text[1024] = {};
    int n = LoadStringA(Self(), id, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

}  // namespace

TEST(Resources, MenuBarHasTheFourMenusInOrder) {
    std::vector<std::string> expected = {
        "&File",
        "  E&xit" + Id(ID_APP_EXIT),
        "&Ports",
        "  Start/Stop" + Id(ID_PORTS_START_STOP),
        "  -",
        "  Read" + Id(ID_PORTS_READ),
        "  Write" + Id(ID_PORTS_WRITE),
        "  -",
        "  HD Master" + Id(ID_PORTS_HD_MASTER),
        "  HD Slave" + Id(ID_PORTS_HD_SLAVE),
        "  -",
        "  Odd" + Id(ID_PORTS_ODD),
        "  Even" + Id(ID_PORTS_EVEN),
        "  All" + Id(ID_PORTS_ALL),
        "  -",
        "  Clear" + Id(ID_PORTS_CLEAR),
        "  Purge" + Id(ID_PORTS_PURGE),
        "  -",
        "  Ports settings" + Id(ID_PORTS_SETTINGS),
        "&View",
        "  &Status Bar [x]" + Id(ID_VIEW_STATUS_BAR),
        "&Help",
        "  &About vesktestw..." + Id(ID_APP_ABOUT),
    };
    EXPECT_EQ(DescribeMenu(MAKEINTRESOURCEA(IDR_MAINFRAME)), expected);
}

TEST(Resources, ContextMenuIsThePortsMenuWithoutTheSelectionCommands) {
    std::vector<std::string> expected = {
        "",
        "  Start/Stop" + Id(ID_PORTS_START_STOP),
        "  -",
        "  Read" + Id(ID_PORTS_READ),
        "  Write" + Id(ID_PORTS_WRITE),
        "  -",
        "  HD Master" + Id(ID_PORTS_HD_MASTER),
        "  HD Slave" + Id(ID_PORTS_HD_SLAVE),
        "  -",
        "  Clear" + Id(ID_PORTS_CLEAR),
        "  Purge" + Id(ID_PORTS_PURGE),
        "  -",
        "  Ports settings" + Id(ID_PORTS_SETTINGS),
    };
    EXPECT_EQ(DescribeMenu("ContextMenu"), expected);
}

TEST(Resources, TheOnlyAcceleratorIsTheTypedLetterZ) {
    HACCEL table = LoadAcceleratorsA(Self(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(table, nullptr);
    ACCEL entries[4];
    ASSERT_EQ(CopyAcceleratorTableA(table, entries, 4), 1);
    EXPECT_EQ(entries[0].key, 'z');
    // A character, not a virtual key, and no modifier.
    EXPECT_EQ(entries[0].fVirt & (FVIRTKEY | FSHIFT | FCONTROL | FALT), 0);
    EXPECT_EQ(entries[0].cmd, ID_PORTS_HD_PAIRS);
    DestroyAcceleratorTable(table);
}

TEST(Resources, EveryMenuCommandHasItsHelpText) {
    EXPECT_EQ(LoadText(ID_PORTS_START_STOP), "Start/stop read/write operation for selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_READ), "Start/stop read operation for selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_WRITE), "Start/stop write operation for selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_HD_MASTER), "Set Half-Duplex Master mode for selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_HD_SLAVE), "Set Half-Duplex Slave mode for  selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_CLEAR), "Clear stats selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_PURGE), "Purge selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_SETTINGS), "Setting selected ports");
    EXPECT_EQ(LoadText(ID_PORTS_ODD), "Select odd ports");
    EXPECT_EQ(LoadText(ID_PORTS_EVEN), "Select even ports");
    EXPECT_EQ(LoadText(ID_PORTS_ALL), "Select all ports");
    EXPECT_EQ(LoadText(ID_APP_EXIT), "Quit the application; prompts to save documents\nExit");
    EXPECT_EQ(LoadText(ID_VIEW_STATUS_BAR), "Show or hide the status bar\nToggle StatusBar");
    EXPECT_EQ(LoadText(ID_APP_ABOUT),
              "Display program information, version number and copyright\nAbout");
    EXPECT_EQ(LoadText(ID_PORTS_HD_PAIRS), "");
}

TEST(Resources, SystemMenuItemsHaveHelpTextsWhereTheFrameLooksForThem) {
    struct {
        UINT command;
        const char* text;
    } items[] = {
        {SC_SIZE, "Change the window size"},
        {SC_MOVE, "Change the window position"},
        {SC_MINIMIZE, "Reduce the window to an icon"},
        {SC_MAXIMIZE, "Enlarge the window to full size"},
        {SC_NEXTWINDOW, "Switch to the next document window"},
        {SC_PREVWINDOW, "Switch to the previous document window"},
        {SC_CLOSE, "Close the active window and prompts to save the documents"},
        {SC_RESTORE, "Restore the window to normal size"},
        {SC_TASKLIST, "Activate Task List"},
    };
    for (const auto& item : items) {
        SCOPED_TRACE(item.text);
        EXPECT_EQ(LoadText(SystemMenuHelpId(item.command)), item.text);
    }
}
