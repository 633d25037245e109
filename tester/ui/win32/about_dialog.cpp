#include "tester/ui/win32/about_dialog.h"

#include "tester/ui/win32/frame_rules.h"
#include "tester/ui/win32/message_loop.h"
#include "tester/ui/win32/resource.h"

namespace {

ScreenRect ToScreenRect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CenterOverOwner(dialog);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

void RunAboutDialog(HWND owner) {
    DialogBoxParamA(appModule.instance(), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, AboutProcedure, 0);
}

void CenterOverOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    HMONITOR monitor = MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT self;
    if (!GetMonitorInfoA(monitor, &info) || !GetWindowRect(dialog, &self)) return;
    RECT over = info.rcWork;
    // A minimised owner sits off screen; centre over the work area then.
    if (owner && !IsIconic(owner)) GetWindowRect(owner, &over);
    ScreenPoint at = CenteredOrigin(self.right - self.left, self.bottom - self.top,
                                    ToScreenRect(over), ToScreenRect(info.rcWork));
    SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
