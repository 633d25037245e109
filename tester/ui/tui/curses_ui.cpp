#include "tester/ui/tui/curses_ui.h"

#include <curses.h>

#include <algorithm>

namespace {

bool colours = false;

enum Pair : short {
    kPairTitle = 1,
    kPairHeader,
    kPairSelected,
    kPairStatus,
    kPairBox,
    kPairFocus,
    kPairHint,
};

}  // namespace

CursesSession::CursesSession() {
    // newterm rather than initscr: initscr ends the program when the
    // terminal is unusable, and the caller would rather say why.
    SCREEN* screen = newterm(nullptr, stdout, stdin);
    if (!screen) return;
    ok_ = true;
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    curs_set(0);
    timeout(kKeyWaitMs);
    set_escdelay(25);
    if (has_colors() && start_color() == OK) {
        use_default_colors();
        colours = true;
        init_pair(kPairTitle, COLOR_WHITE, COLOR_BLUE);
        init_pair(kPairHeader, COLOR_YELLOW, -1);
        init_pair(kPairSelected, COLOR_BLACK, COLOR_CYAN);
        init_pair(kPairStatus, COLOR_BLACK, COLOR_WHITE);
        init_pair(kPairBox, COLOR_BLACK, COLOR_WHITE);
        init_pair(kPairFocus, COLOR_WHITE, COLOR_BLUE);
        init_pair(kPairHint, COLOR_CYAN, -1);
    }
}

CursesSession::~CursesSession() {
    if (ok_) endwin();
}

int LookAttr(Look look) {
    switch (look) {
        case Look::Normal:
            return A_NORMAL;
        case Look::Title:
            return colours ? COLOR_PAIR(kPairTitle) | A_BOLD : A_REVERSE;
        case Look::Header:
            return colours ? COLOR_PAIR(kPairHeader) | A_BOLD : A_BOLD | A_UNDERLINE;
        case Look::Selected:
            return colours ? COLOR_PAIR(kPairSelected) : A_REVERSE;
        case Look::Cursor:
            return A_BOLD;
        case Look::Status:
            return colours ? COLOR_PAIR(kPairStatus) : A_REVERSE;
        case Look::Hint:
            return colours ? COLOR_PAIR(kPairHint) : A_DIM;
        case Look::Box:
            return colours ? COLOR_PAIR(kPairBox) : A_NORMAL;
        case Look::Focus:
            return colours ? COLOR_PAIR(kPairFocus) | A_BOLD : A_REVERSE;
        case Look::Disabled:
            return (colours ? COLOR_PAIR(kPairBox) : A_NORMAL) | A_DIM;
        case Look::Mnemonic:
            return A_UNDERLINE | A_BOLD;
    }
    return A_NORMAL;
}

void PutText(int y, int x, const std::string& text, int width, Look look, bool pad) {
    if (y < 0 || y >= LINES || x >= COLS || width <= 0) return;
    if (x < 0) return;
    const int room = std::min(width, COLS - x);
    std::string shown = text.substr(0, static_cast<size_t>(std::max(room, 0)));
    if (pad && static_cast<int>(shown.size()) < room) shown.append(room - shown.size(), ' ');
    attrset(LookAttr(look));
    mvaddnstr(y, x, shown.c_str(), room);
    attrset(A_NORMAL);
}

void DrawFrame(int y, int x, int height, int width, const std::string& title, Look look) {
    if (height < 2 || width < 2) return;
    attrset(LookAttr(look));
    for (int row = y + 1; row < y + height - 1; ++row)
        mvhline(row, x + 1, ' ', width - 2);
    mvaddch(y, x, ACS_ULCORNER);
    mvhline(y, x + 1, ACS_HLINE, width - 2);
    mvaddch(y, x + width - 1, ACS_URCORNER);
    mvvline(y + 1, x, ACS_VLINE, height - 2);
    mvvline(y + 1, x + width - 1, ACS_VLINE, height - 2);
    mvaddch(y + height - 1, x, ACS_LLCORNER);
    mvhline(y + height - 1, x + 1, ACS_HLINE, width - 2);
    mvaddch(y + height - 1, x + width - 1, ACS_LRCORNER);
    if (!title.empty() && static_cast<int>(title.size()) + 4 <= width) {
        const int at = x + (width - static_cast<int>(title.size()) - 2) / 2;
        mvaddstr(y, at, (" " + title + " ").c_str());
    }
    attrset(A_NORMAL);
}

void Bell() {
    beep();
}

int ScreenRows() {
    return LINES;
}

int ScreenCols() {
    return COLS;
}
