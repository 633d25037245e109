#include "tester/ui/tui/menu_model.h"

#include <cctype>

namespace {

// The single key of each port command. Letters of the command's name where
// they are free; 'l' for HD Slave ('s' is Start/Stop), 't' for the
// settings form ('p' is Purge), 'd' for Modem lines ('m' and 'o' are
// taken), 'f' for Flow, break, parity.
int KeyOf(PortCommand command) {
    switch (command) {
        case PortCommand::StartStop:
            return 's';
        case PortCommand::Read:
            return 'r';
        case PortCommand::Write:
            return 'w';
        case PortCommand::HdMaster:
            return 'm';
        case PortCommand::HdSlave:
            return 'l';
        case PortCommand::Odd:
            return 'o';
        case PortCommand::Even:
            return 'e';
        case PortCommand::All:
            return 'a';
        case PortCommand::HdPairs:
            return 'z';
        case PortCommand::Clear:
            return 'c';
        case PortCommand::Purge:
            return 'p';
        case PortCommand::ModemLines:
            return 'd';
        case PortCommand::Conditions:
            return 'f';
        case PortCommand::ApplySettings:
            return 't';
    }
    return 0;
}

MenuItem PortItem(const PortCommandInfo& info) {
    MenuItem item;
    item.action = info.command == PortCommand::ApplySettings ? UiAction::PortsSettings
                  : info.command == PortCommand::ModemLines  ? UiAction::ModemLines
                  : info.command == PortCommand::Conditions  ? UiAction::Conditions
                                                             : UiAction::Port;
    item.port = info.command;
    item.text = info.menuText;
    item.help = info.helpText;
    item.key = KeyOf(info.command);
    item.separatorBefore = SeparatorBefore(info.command);
    return item;
}

MenuItem FrameItem(UiAction action, const char* text, const char* help, int key) {
    MenuItem item;
    item.action = action;
    item.text = text;
    item.help = help;
    item.key = key;
    return item;
}

std::vector<Menu> BuildMenuBar() {
    Menu ports{"&Ports", {}};
    for (size_t i = 0; i < kPortCommandCount; ++i)
        if (kPortCommands[i].command != PortCommand::HdPairs)
            ports.items.push_back(PortItem(kPortCommands[i]));
    return {
        {"&File",
         {FrameItem(UiAction::Exit, "E&xit", "Quit the application; prompts to save documents",
                    'q')}},
        ports,
        {"&View",
         {FrameItem(UiAction::StatusBar, "&Status Bar", "Show or hide the status bar", 'b')}},
        {"&Help",
         {FrameItem(UiAction::About, "&About vesktest...",
                    "Display program information, version number and copyright", '?')}},
    };
}

std::vector<MenuItem> BuildContextMenu() {
    std::vector<MenuItem> items;
    for (size_t i = 0; i < kPortCommandCount; ++i)
        if (kPortCommands[i].inContextMenu) items.push_back(PortItem(kPortCommands[i]));
    return items;
}

}  // namespace

const std::vector<Menu>& MenuBar() {
    static const std::vector<Menu> menus = BuildMenuBar();
    return menus;
}

const std::vector<MenuItem>& ContextMenu() {
    static const std::vector<MenuItem> items = BuildContextMenu();
    return items;
}

const MenuItem* ItemForKey(int key) {
    if (key <= 0) return nullptr;
    for (const Menu& menu : MenuBar())
        for (const MenuItem& item : menu.items)
            if (item.key == key) return &item;
    static const MenuItem pairs = PortItem(InfoOf(PortCommand::HdPairs));
    return key == pairs.key ? &pairs : nullptr;
}

std::string MenuLabel(const char* text, int* mnemonic) {
    std::string label;
    int at = -1;
    for (const char* p = text; *p; ++p) {
        if (*p == '&' && p[1] != '\0') {
            ++p;
            if (*p != '&' && at < 0) at = static_cast<int>(label.size());
        }
        label += *p;
    }
    if (mnemonic) *mnemonic = at;
    return label;
}

bool IsMnemonic(const char* text, int key) {
    int at = -1;
    const std::string label = MenuLabel(text, &at);
    if (at < 0 || key <= 0 || key > 255) return false;
    return std::tolower(static_cast<unsigned char>(label[at])) == std::tolower(key);
}

std::vector<std::string> KeyHints() {
    std::vector<std::string> hints;
    auto add = [&](const MenuItem& item, const std::string& name) {
        if (item.key > 0) hints.push_back(std::string(1, static_cast<char>(item.key)) + " " + name);
    };
    for (const MenuItem& item : MenuBar()[1].items)
        add(item, MenuLabel(item.text));
    add(*ItemForKey('z'), "Pairs");
    for (size_t m = 2; m < MenuBar().size(); ++m)
        for (const MenuItem& item : MenuBar()[m].items)
            add(item, MenuLabel(item.text));
    for (const MenuItem& item : MenuBar()[0].items)
        add(item, MenuLabel(item.text));
    return hints;
}
