#include "tester/ui/win32/frame_window.h"

#include <commctrl.h>

#include <string>

#include "tester/ui/win32/frame_rules.h"

FrameWindow::~FrameWindow() {
    if (hwnd()) DestroyWindow(hwnd());
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

bool FrameWindow::CreateFrame(const char* className, UINT resourceId, const char* title,
                              DWORD style, DWORD exStyle) {
    HINSTANCE instance = appModule.instance();
    const char* resource = MAKEINTRESOURCEA(resourceId);
    auto icon = [&](int metricX, int metricY) {
        return static_cast<HICON>(LoadImageA(instance, resource, IMAGE_ICON,
                                             GetSystemMetrics(metricX), GetSystemMetrics(metricY),
                                             LR_DEFAULTCOLOR));
    };
    ClassInfo cls{className, CS_DBLCLKS, icon(SM_CXICON, SM_CYICON), icon(SM_CXSMICON, SM_CYSMICON),
                  nullptr};
    if (!accelerators_) accelerators_ = LoadAcceleratorsA(instance, resource);
    HMENU menu = LoadMenuA(instance, resource);
    if (!CreateWindowOf(cls, exStyle, title, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, nullptr, menu)) {
        // A window that was never made does not own its menu.
        if (menu && IsMenu(menu)) DestroyMenu(menu);
        return false;
    }
    return true;
}

bool FrameWindow::PreTranslateMessage(MSG* msg) {
    return hwnd() && accelerators_ && TranslateAcceleratorA(hwnd(), accelerators_, msg);
}

void FrameWindow::SetStatusBar(HWND statusBar, UINT toggleCommand) {
    statusBar_ = statusBar;
    statusBarCommand_ = toggleCommand;
    if (hwnd()) SetToggleCheck(GetMenu(hwnd()));
}

bool FrameWindow::StatusBarShown() const {
    // The bar's own flag: IsWindowVisible also asks the frame, which is
    // still hidden while it is being created.
    return statusBar_ && (GetWindowLongA(statusBar_, GWL_STYLE) & WS_VISIBLE);
}

void FrameWindow::SetToggleCheck(HMENU menu) {
    if (!menu || !statusBarCommand_) return;
    bool visible = StatusBarShown();
    CheckMenuItem(menu, statusBarCommand_, MF_BYCOMMAND | (visible ? MF_CHECKED : MF_UNCHECKED));
}

void FrameWindow::ToggleStatusBar() {
    if (!statusBar_) return;
    ShowWindow(statusBar_, StatusBarShown() ? SW_HIDE : SW_SHOWNOACTIVATE);
    SetToggleCheck(GetMenu(hwnd()));
    UpdateLayout();
}

void FrameWindow::UpdateLayout() {
    RECT area;
    if (!hwnd() || !GetClientRect(hwnd(), &area)) return;
    if (StatusBarShown()) {
        // The status bar places itself along its parent's bottom edge.
        SendMessageA(statusBar_, WM_SIZE, 0, 0);
        RECT bar;
        GetWindowRect(statusBar_, &bar);
        area.bottom -= bar.bottom - bar.top;
        if (area.bottom < area.top) area.bottom = area.top;
    }
    if (client_)
        SetWindowPos(client_, nullptr, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FrameWindow::ShowMenuHelp(UINT item, UINT flags, HMENU menu) {
    if (!statusBar_) return;
    if (flags == 0xFFFF && !menu) {
        // The menu has closed: back to the status bar's own text.
        SendMessageA(statusBar_, SB_SIMPLE, FALSE, 0);
        return;
    }
    std::string text;
    if (!(flags & (MF_POPUP | MF_SEPARATOR))) {
        UINT id = (flags & MF_SYSMENU) ? SystemMenuHelpId(item) : item;
        char loaded[kMenuHelpMaxChars + 1];
        if (id && LoadStringA(appModule.instance(), id, loaded, sizeof loaded) > 0)
            text = MenuHelpLine(loaded);
    }
    SendMessageA(statusBar_, SB_SIMPLE, TRUE, 0);
    SendMessageA(statusBar_, SB_SETTEXTA, SB_SIMPLEID | SBT_NOBORDERS,
                 reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT FrameWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) UpdateLayout();
            break;
        case WM_SETFOCUS:
            if (client_ && IsWindow(client_)) {
                SetFocus(client_);
                return 0;
            }
            break;
        case WM_MENUSELECT:
            ShowMenuHelp(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam));
            return 0;
        case WM_INITMENUPOPUP:
            if (!HIWORD(lParam)) SetToggleCheck(reinterpret_cast<HMENU>(wParam));
            break;
        case WM_DESTROY:
            // The frame of a top-level window ends the thread's loop.
            if (!(GetWindowLongA(hwnd(), GWL_STYLE) & (WS_CHILD | WS_POPUP))) PostQuitMessage(1);
            return 0;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}
