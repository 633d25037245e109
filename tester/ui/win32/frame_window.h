// A top-level frame window: a menu bar, an accelerator table, an icon, a
// client control that fills the window above an optional status bar, the
// status bar's menu help and show/hide toggle, and the end of the thread's
// message loop when the frame is destroyed.
//
// A derived window handles its own messages first and passes the rest (and
// those it wants the frame's handling for too, such as WM_DESTROY) on to
// FrameWindow::HandleMessage.
#pragma once

#include "tester/ui/win32/message_loop.h"
#include "tester/ui/win32/window.h"

class FrameWindow : public Window, public MessageFilter {
  public:
    ~FrameWindow() override;

    // Translates the frame's accelerators for every message of the
    // thread's loop (registered by the derived window as a filter).
    bool PreTranslateMessage(MSG* msg) override;

    HWND statusBar() const { return statusBar_; }

  protected:
    // Creates the window of class `className` with the menu bar,
    // accelerator table and icon of resource `resourceId`, at the system's
    // default place and size. False when the window was not created.
    bool CreateFrame(const char* className, UINT resourceId, const char* title, DWORD style,
                     DWORD exStyle);

    void SetClient(HWND client) { client_ = client; }
    // The status bar, and the menu command whose check mark follows its
    // visibility (0 for none).
    void SetStatusBar(HWND statusBar, UINT toggleCommand);

    // Shows a hidden status bar (without activating it) or hides a visible
    // one, sets the toggle command's check mark, and lays the window out.
    void ToggleStatusBar();

    // The status bar, when visible, along the bottom; the client above it.
    void UpdateLayout();

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    bool StatusBarShown() const;
    void ShowMenuHelp(UINT item, UINT flags, HMENU menu);
    void SetToggleCheck(HMENU menu);

    HACCEL accelerators_ = nullptr;
    HWND client_ = nullptr;
    HWND statusBar_ = nullptr;
    UINT statusBarCommand_ = 0;
};
