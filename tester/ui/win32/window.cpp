#include "tester/ui/win32/window.h"

#include "tester/ui/win32/message_loop.h"

Window::~Window() {
    if (hwnd_) DestroyWindow(hwnd_);
}

HWND Window::CreateWindowOf(const ClassInfo& cls, DWORD exStyle, const char* title, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu) {
    HINSTANCE instance = appModule.instance() ? appModule.instance() : GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    if (!GetClassInfoExA(instance, cls.name, &wc)) {
        wc = WNDCLASSEXA{};
        wc.cbSize = sizeof wc;
        wc.style = cls.style;
        wc.lpfnWndProc = Procedure;
        wc.hInstance = instance;
        wc.hIcon = cls.icon;
        wc.hIconSm = cls.smallIcon;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = cls.background;
        wc.lpszClassName = cls.name;
        if (!RegisterClassExA(&wc)) return nullptr;
    }
    // On success hwnd_ was set by WM_NCCREATE; after a refused creation the
    // window has been destroyed again and WM_NCDESTROY has cleared it.
    HWND made = CreateWindowExA(exStyle, cls.name, title, style, x, y, width, height, parent, menu,
                                instance, this);
    return made ? hwnd_ : nullptr;
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* self;
    if (message == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    LRESULT result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->OnFinalMessage();
    }
    return result;
}
