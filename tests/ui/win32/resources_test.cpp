// The resources as the program carries them: menus, the popup menu, the
// accelerator, the help texts and both dialog templates, read back from
// this test program (which links the same compiled resource script).
#include "platform/win32_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/ui/win32/dialog_template.h"
#include "tester/session/port_commands.h"
#include "tester/ui/win32/frame_rules.h"
#include "tester/ui/win32/resource.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

// A menu as text: one line per item, "-" for a separator, "[x]" after a
// checked item, a popup's items indented under its title.
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
            lines.push_back(line);
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

std::string LoadText(UINT id) {
    char text[1024] = {};
    int n = LoadStringA(Self(), id, text, sizeof text);
    return std::string(text, n > 0 ? n : 0);
}

// The Ports menu as the shared command table describes it (texts and
// separators); the popup menu leaves out the commands marked so.
std::vector<std::string> CommandLines(bool contextMenu) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < kPortCommandCount; ++i) {
        const PortCommandInfo& info = kPortCommands[i];
        if (info.command == PortCommand::HdPairs) continue;  // key z only
        if (contextMenu && !info.inContextMenu) continue;
        if (SeparatorBefore(info.command)) lines.push_back("  -");
        lines.push_back(std::string("  ") + info.menuText);
    }
    return lines;
}

// The item ids of a popup, in order, separators left out.
std::vector<UINT> CommandIds(HMENU popup) {
    std::vector<UINT> ids;
    for (int i = 0; i < GetMenuItemCount(popup); ++i)
        if (!(GetMenuState(popup, i, MF_BYPOSITION) & MF_SEPARATOR))
            ids.push_back(GetMenuItemID(popup, i));
    return ids;
}

}  // namespace

TEST(Resources, MenuBarHasTheFourMenusInOrder) {
    std::vector<std::string> expected = {"&File", "  E&xit", "&Ports"};
    for (const std::string& line : CommandLines(false))
        expected.push_back(line);
    for (const char* line : {"&View", "  &Status Bar [x]", "&Help", "  &About vesktestw..."})
        expected.push_back(line);
    EXPECT_EQ(DescribeMenu(MAKEINTRESOURCEA(IDR_MAINFRAME)), expected);
}

TEST(Resources, ContextMenuIsThePortsMenuWithoutTheSelectionCommands) {
    std::vector<std::string> expected = {""};
    for (const std::string& line : CommandLines(true))
        expected.push_back(line);
    EXPECT_EQ(DescribeMenu("ContextMenu"), expected);
    // And its items are the Ports menu's commands.
    HMENU bar = LoadMenuA(Self(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    HMENU popup = LoadMenuA(Self(), "ContextMenu");
    std::vector<UINT> ports = CommandIds(GetSubMenu(bar, 1));
    std::vector<UINT> context = CommandIds(GetSubMenu(popup, 0));
    for (UINT id : {ID_PORTS_ODD, ID_PORTS_EVEN, ID_PORTS_ALL})
        ports.erase(std::find(ports.begin(), ports.end(), static_cast<UINT>(id)));
    EXPECT_EQ(context, ports);
    DestroyMenu(bar);
    DestroyMenu(popup);
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
    // The Ports commands' texts are the shared table's, by menu position.
    HMENU bar = LoadMenuA(Self(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    std::vector<UINT> ports = CommandIds(GetSubMenu(bar, 1));
    DestroyMenu(bar);
    size_t at = 0;
    for (size_t i = 0; i < kPortCommandCount; ++i) {
        if (kPortCommands[i].command == PortCommand::HdPairs) continue;
        ASSERT_LT(at, ports.size());
        EXPECT_EQ(LoadText(ports[at++]), kPortCommands[i].helpText);
    }
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
