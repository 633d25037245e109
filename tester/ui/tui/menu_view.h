// The menu bar (F10, or Esc and a title's letter as Alt sends it) with its
// drop-down menus, and the context menu of the port list, drawn over the
// main screen. While one is open it takes every key, and the status line
// shows the help text of the highlighted item.
#pragma once

#include <string>

#include "tester/ui/tui/menu_model.h"

class MenuView {
  public:
    bool IsOpen() const { return mode_ != Mode::Closed; }

    // Drops down menu `menu` of the bar (0 "File", 1 "Ports"...).
    void OpenBar(int menu);
    // Opens the context menu with its top-left corner at (y, x).
    void OpenContext(int y, int x);
    void Close() { mode_ = Mode::Closed; }

    // A key while open. Returns the item chosen (the menu has then closed),
    // or null: the key moved the highlight, switched menus, closed the
    // menu (Esc, F10) or meant nothing here.
    const MenuItem* HandleKey(int key);

    // The help text of the highlighted item, cut at its first line break.
    std::string Help() const;

    // The bar's titles on the menu bar line, the open one highlighted.
    void DrawBar() const;
    // The open menu, if any, over whatever is drawn. `statusBarShown`
    // decides the check mark of "Status Bar".
    void DrawOpenMenu(bool statusBarShown) const;

    // The first column of each title on the bar (for the drop-down's place).
    static int TitleColumn(int menu);

  private:
    enum class Mode { Closed, Bar, Context };
    const std::vector<MenuItem>& Items() const;
    void Move(int step);

    Mode mode_ = Mode::Closed;
    int menu_ = 0;
    int item_ = 0;
    int contextY_ = 0;
    int contextX_ = 0;
};
