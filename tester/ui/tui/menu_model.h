// The terminal front end's menus: the window's menu bar and context menu,
// with the same item names and help texts, and the single keys that run
// the same commands without opening a menu.
//
// The Ports items, their help texts and separators are the shared command
// table's (port_commands.h); the File, View and Help items are those of the
// window's frame.
#pragma once

#include <string>
#include <vector>

#include "tester/session/port_commands.h"

enum class UiAction {
    Port,           // a port command over the rows (MenuItem::port)
    PortsSettings,  // the settings form, then the command on the selected rows
    ModemLines,     // the line check of the selected rows, its results in a box
    Conditions,     // the flow, break and parity checks of the selected rows, the same
    StatusBar,      // show or hide the status line
    About,
    Exit,
};

struct MenuItem {
    UiAction action = UiAction::Port;
    PortCommand port = PortCommand::StartStop;  // for UiAction::Port
    const char* text = "";                      // with '&' before the mnemonic letter
    const char* help = "";                      // the status line while highlighted
    int key = 0;                                // the single key, 0 for none
    bool separatorBefore = false;
};

struct Menu {
    const char* title;  // "&File"...
    std::vector<MenuItem> items;
};

// "&File", "&Ports", "&View", "&Help", in that order.
const std::vector<Menu>& MenuBar();

// The context menu: the Ports items without Odd, Even and All.
const std::vector<MenuItem>& ContextMenu();

// The command bound to a single key (HdPairs on 'z' included), or null.
const MenuItem* ItemForKey(int key);

// A menu text without its '&', and the position of the mnemonic letter in
// that text (-1 when there is none).
std::string MenuLabel(const char* text, int* mnemonic = nullptr);

// Whether `key` is the mnemonic of `text` (letters without regard to case).
bool IsMnemonic(const char* text, int key);

// The single keys as shown on screen: "s Start/Stop", "r Read"..., in menu
// order, HdPairs ("z Pairs") after the Ports items.
std::vector<std::string> KeyHints();
