// The window's small rules that need no window system: how a menu's help
// text is cut for the status bar, where a system-menu item's help text is,
// how much larger the port list's font is, where a popup menu goes when the
// cursor is on no monitor, and the window rectangle from the settings.
// Portable; the Win32 window code calls these and only translates.
#pragma once

#include <cstdint>
#include <string>

// The longest help text the status bar shows.
constexpr size_t kMenuHelpMaxChars = 255;

// A menu item's help text as the status bar shows it: up to the first line
// break (the rest is for a tool tip we do not have), at most
// kMenuHelpMaxChars characters. Null gives an empty text.
std::string MenuHelpLine(const char* text);

// System-menu commands (SC_SIZE 0xF000 up to SC_TASKLIST 0xF130, 16 apart)
// keep their help texts in the string table at kSystemMenuHelpFirst plus
// (command - 0xF000) / 16. The low four bits of a system command are the
// system's own and are ignored. Returns 0 for anything that is not a system
// command.
constexpr uint32_t kSystemMenuHelpFirst = 0xEF00;
uint32_t SystemMenuHelpId(uint32_t command);

// The port list's font height: the default GUI font's height with its
// magnitude grown by 4. A positive height (cell height) gains 4; zero or a
// negative height (character height) loses 4, so the font always comes
// out 4 units larger.
int32_t EnlargedFontHeight(int32_t height);

// x moved into [left, right) of a work area: the left edge when it lies
// left of it, the last column when it lies right of it, unchanged inside.
// Used for a popup menu whose point lies on no monitor; y stays as it is.
int32_t KeepXInWorkArea(int32_t x, int32_t left, int32_t right);

// The main window's rectangle as the settings store it (edges), as the
// window system places it (origin and size).
struct WindowPlacement {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};
WindowPlacement PlacementFromEdges(int32_t left, int32_t top, int32_t right, int32_t bottom);

// A screen rectangle, edges as the window system gives them (right and
// bottom exclusive).
struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Where a window of `width` x `height` goes to be centred over `owner`
// while staying inside `workArea`: centred first, then pushed back inside
// from the right and bottom, then from the left and top (so a window larger
// than the work area shows its top left corner). Returns the new left, top.
struct ScreenPoint {
    int32_t x;
    int32_t y;
};
ScreenPoint CenteredOrigin(int32_t width, int32_t height, const ScreenRect& owner,
                           const ScreenRect& workArea);
