#include "tester/ui/tui/menu_view.h"

#include <curses.h>

#include <algorithm>

#include "tester/ui/tui/curses_ui.h"
#include "tester/ui/tui/main_screen.h"

namespace {

constexpr int kEscape = 27;

// "Start/Stop" and its key, laid out in a menu of `width` inner cells.
std::string ItemLine(const MenuItem& item, int width, bool checked) {
    std::string line = checked ? "* " : "  ";
    line += MenuLabel(item.text);
    std::string key = item.key > 0 ? std::string(1, static_cast<char>(item.key)) + " " : "";
    const int fill = width - static_cast<int>(line.size() + key.size());
    if (fill > 0) line.append(fill, ' ');
    return line + key;
}

int InnerWidth(const std::vector<MenuItem>& items) {
    int width = 0;
    for (const MenuItem& item : items)
        width = std::max(width, static_cast<int>(MenuLabel(item.text).size()) + 2 + 4);
    return width;
}

}  // namespace

int MenuView::TitleColumn(int menu) {
    int x = 1;
    for (int m = 0; m < menu && m < static_cast<int>(MenuBar().size()); ++m)
        x += static_cast<int>(MenuLabel(MenuBar()[m].title).size()) + 2;
    return x;
}

void MenuView::OpenBar(int menu) {
    const int count = static_cast<int>(MenuBar().size());
    mode_ = Mode::Bar;
    menu_ = (menu % count + count) % count;
    item_ = 0;
}

void MenuView::OpenContext(int y, int x) {
    mode_ = Mode::Context;
    item_ = 0;
    contextY_ = y;
    contextX_ = x;
}

const std::vector<MenuItem>& MenuView::Items() const {
    return mode_ == Mode::Context ? ContextMenu() : MenuBar()[menu_].items;
}

void MenuView::Move(int step) {
    const int count = static_cast<int>(Items().size());
    if (count > 0) item_ = ((item_ + step) % count + count) % count;
}

const MenuItem* MenuView::HandleKey(int key) {
    if (mode_ == Mode::Closed) return nullptr;
    const std::vector<MenuItem>& items = Items();
    switch (key) {
        case kEscape:
        case KEY_F(10):
            Close();
            return nullptr;
        case KEY_UP:
            Move(-1);
            return nullptr;
        case KEY_DOWN:
            Move(1);
            return nullptr;
        case KEY_HOME:
            item_ = 0;
            return nullptr;
        case KEY_END:
            item_ = static_cast<int>(items.size()) - 1;
            return nullptr;
        case KEY_LEFT:
        case KEY_RIGHT:
            if (mode_ == Mode::Bar) OpenBar(menu_ + (key == KEY_LEFT ? -1 : 1));
            return nullptr;
        case '\r':
        case '\n':
        case KEY_ENTER:
        case ' ': {
            const MenuItem* chosen = &items[item_];
            Close();
            return chosen;
        }
        default:
            break;
    }
    // A mnemonic letter, or the item's single key shown at its right.
    for (const MenuItem& item : items) {
        if (IsMnemonic(item.text, key) || (item.key > 0 && item.key == key)) {
            Close();
            return &item;
        }
    }
    if (mode_ == Mode::Bar) {
        for (size_t m = 0; m < MenuBar().size(); ++m)
            if (IsMnemonic(MenuBar()[m].title, key)) OpenBar(static_cast<int>(m));
    }
    return nullptr;
}

std::string MenuView::Help() const {
    if (mode_ == Mode::Closed) return std::string();
    const std::string help = Items()[item_].help;
    return help.substr(0, help.find('\n'));
}

void MenuView::DrawBar() const {
    PutText(kMenuBarLine, 0, "", ScreenCols(), Look::Title, true);
    for (size_t m = 0; m < MenuBar().size(); ++m) {
        int mnemonic = -1;
        const std::string label = MenuLabel(MenuBar()[m].title, &mnemonic);
        const int x = TitleColumn(static_cast<int>(m));
        const bool open = mode_ == Mode::Bar && menu_ == static_cast<int>(m);
        PutText(kMenuBarLine, x, " " + label + " ", static_cast<int>(label.size()) + 2,
                open ? Look::Focus : Look::Title);
        if (mnemonic >= 0)
            PutText(kMenuBarLine, x + 1 + mnemonic, label.substr(mnemonic, 1), 1, Look::Mnemonic);
    }
}

void MenuView::DrawOpenMenu(bool statusBarShown) const {
    if (mode_ == Mode::Closed) return;
    const std::vector<MenuItem>& items = Items();
    const int inner = InnerWidth(items);
    int separators = 0;
    for (const MenuItem& item : items)
        separators += item.separatorBefore ? 1 : 0;
    const int height = static_cast<int>(items.size()) + separators + 2;
    int y = mode_ == Mode::Bar ? kMenuBarLine + 1 : contextY_;
    int x = mode_ == Mode::Bar ? TitleColumn(menu_) - 1 : contextX_;
    // Kept on the screen, as the window keeps a popup on its monitor.
    y = std::max(0, std::min(y, ScreenRows() - height));
    x = std::max(0, std::min(x, ScreenCols() - inner - 2));
    DrawFrame(y, x, height, inner + 2, "", Look::Box);
    int line = y + 1;
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        if (item.separatorBefore) {
            attrset(LookAttr(Look::Box));
            mvaddch(line, x, ACS_LTEE);
            mvhline(line, x + 1, ACS_HLINE, inner);
            mvaddch(line, x + inner + 1, ACS_RTEE);
            attrset(A_NORMAL);
            ++line;
        }
        const bool checked = item.action == UiAction::StatusBar && statusBarShown;
        const bool current = static_cast<int>(i) == item_;
        PutText(line, x + 1, ItemLine(item, inner, checked), inner,
                current ? Look::Focus : Look::Box);
        int mnemonic = -1;
        MenuLabel(item.text, &mnemonic);
        if (mnemonic >= 0)
            PutText(line, x + 3 + mnemonic, MenuLabel(item.text).substr(mnemonic, 1), 1,
                    Look::Mnemonic);
        ++line;
    }
}
