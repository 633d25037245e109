#include "tester/ui/tui/menu_model.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::vector<std::string> Labels(const std::vector<MenuItem>& items) {
    std::vector<std::string> labels;
    for (const MenuItem& item : items)
        labels.push_back(item.text);
    return labels;
}

TEST(MenuModel, TheWindowsMenuBarWithItsNamesAndHelpTexts) {
    const std::vector<Menu>& bar = MenuBar();
    ASSERT_EQ(bar.size(), 4u);
    EXPECT_STREQ(bar[0].title, "&File");
    EXPECT_STREQ(bar[1].title, "&Ports");
    EXPECT_STREQ(bar[2].title, "&View");
    EXPECT_STREQ(bar[3].title, "&Help");

    EXPECT_EQ(Labels(bar[0].items), (std::vector<std::string>{"E&xit"}));
    EXPECT_STREQ(bar[0].items[0].help, "Quit the application; prompts to save documents");
    EXPECT_EQ(Labels(bar[1].items),
              (std::vector<std::string>{"Start/Stop", "Read", "Write", "HD Master", "HD Slave",
                                        "Odd", "Even", "All", "Clear", "Purge", "Modem lines",
                                        "Flow, break, parity", "Ports settings"}));
    EXPECT_STREQ(bar[1].items[4].help, "Set Half-Duplex Slave mode for  selected ports");
    EXPECT_EQ(bar[1].items[10].action, UiAction::ModemLines);
    EXPECT_EQ(bar[1].items[10].key, 'd');
    EXPECT_EQ(bar[1].items[11].action, UiAction::Conditions);
    EXPECT_EQ(bar[1].items[11].key, 'f');
    EXPECT_STREQ(bar[1].items[12].help, "Setting selected ports");
    EXPECT_EQ(bar[1].items[12].action, UiAction::PortsSettings);
    EXPECT_EQ(Labels(bar[2].items), (std::vector<std::string>{"&Status Bar"}));
    EXPECT_STREQ(bar[2].items[0].help, "Show or hide the status bar");
    // The terminal program names itself; the help text is the window's.
    EXPECT_EQ(Labels(bar[3].items), (std::vector<std::string>{"&About vesktest..."}));
    EXPECT_STREQ(bar[3].items[0].help, "Display program information, version number and copyright");

    // Separators where the window has them: before Read, HD Master, Odd,
    // Clear and Ports settings.
    std::vector<std::string> before;
    for (const MenuItem& item : bar[1].items)
        if (item.separatorBefore) before.push_back(item.text);
    EXPECT_EQ(before,
              (std::vector<std::string>{"Read", "HD Master", "Odd", "Clear", "Ports settings"}));
}

TEST(MenuModel, TheContextMenuLeavesOutTheSelectionCommands) {
    EXPECT_EQ(Labels(ContextMenu()),
              (std::vector<std::string>{"Start/Stop", "Read", "Write", "HD Master", "HD Slave",
                                        "Clear", "Purge", "Modem lines", "Flow, break, parity",
                                        "Ports settings"}));
}

TEST(MenuModel, EveryCommandHasItsOwnSingleKey) {
    std::set<int> keys;
    size_t items = 0;
    for (const Menu& menu : MenuBar()) {
        for (const MenuItem& item : menu.items) {
            ++items;
            ASSERT_GT(item.key, 0) << item.text;
            keys.insert(item.key);
            EXPECT_EQ(ItemForKey(item.key), &item) << item.text;
        }
    }
    EXPECT_EQ(keys.size(), items);
    const MenuItem* pairs = ItemForKey('z');
    ASSERT_NE(pairs, nullptr);
    EXPECT_EQ(pairs->port, PortCommand::HdPairs);
    EXPECT_EQ(keys.count('z'), 0u);       // in no menu, as on Windows
    EXPECT_EQ(ItemForKey(' '), nullptr);  // Space selects the row under the cursor

    // Every key is on the screen.
    const std::vector<std::string> hints = KeyHints();
    EXPECT_EQ(hints.size(), items + 1);
    EXPECT_EQ(hints.front(), "s Start/Stop");
    EXPECT_NE(std::find(hints.begin(), hints.end(), "z Pairs"), hints.end());
    EXPECT_NE(std::find(hints.begin(), hints.end(), "q Exit"), hints.end());
}

TEST(MenuModel, MnemonicsAreTheLettersAfterTheAmpersand) {
    int at = -2;
    EXPECT_EQ(MenuLabel("E&xit", &at), "Exit");
    EXPECT_EQ(at, 1);
    EXPECT_EQ(MenuLabel("Start/Stop", &at), "Start/Stop");
    EXPECT_EQ(at, -1);
    EXPECT_EQ(MenuLabel("Salt && &Pepper", &at), "Salt & Pepper");
    EXPECT_EQ(at, 7);
    EXPECT_TRUE(IsMnemonic("E&xit", 'x'));
    EXPECT_TRUE(IsMnemonic("E&xit", 'X'));
    EXPECT_FALSE(IsMnemonic("E&xit", 'e'));
    EXPECT_FALSE(IsMnemonic("Start/Stop", 's'));
}

}  // namespace
