// The terminal itself: the curses session and the few drawing helpers the
// screens share. Only the front end's thread calls any of this.
#pragma once

#include <string>

// Attributes the screens use; colour where the terminal has it, plain
// video attributes otherwise, so that a monochrome terminal still shows
// the selection, the cursor and the focus.
enum class Look {
    Normal,
    Title,     // title line and menu bar
    Header,    // column titles
    Selected,  // a selected row
    Cursor,    // the row under the cursor
    Status,    // status line
    Hint,      // key hints
    Box,       // a box's frame and body
    Focus,     // the focused field or item of a box or menu
    Disabled,  // a field of the form that is disabled
    Mnemonic,  // a menu's mnemonic letter
};

// Owns the curses session: raw keys with function keys, no echo, a
// 100 ms wait for keys so the screen keeps refreshing, a short wait after
// Esc. The destructor gives the terminal back in its normal state.
class CursesSession {
  public:
    CursesSession();
    ~CursesSession();
    CursesSession(const CursesSession&) = delete;
    CursesSession& operator=(const CursesSession&) = delete;

    // False when the terminal could not be set up (no terminal, unknown
    // type); nothing else may be called then.
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
};

// How long getch waits for a key before the screen is drawn again.
constexpr int kKeyWaitMs = 100;

int LookAttr(Look look);

// Text at (y, x), cut at `width` cells (and at the screen's edge), with
// `look`; pads with blanks to `width` when `pad` is set.
void PutText(int y, int x, const std::string& text, int width, Look look, bool pad = false);

// A frame with `title` centred in its top edge; the inside is cleared.
void DrawFrame(int y, int x, int height, int width, const std::string& title, Look look);

// The terminal bell: the form's answer to invalid input, as the window
// answers with the system's simple beep.
void Bell();

int ScreenRows();
int ScreenCols();
