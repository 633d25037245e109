// A window object: one HWND whose messages go to a virtual handler.
//
// The object must outlive its window (destroy the window first, or let the
// destructor do it on the window's thread). Messages that arrive before
// WM_NCCREATE, such as WM_GETMINMAXINFO, get the default handling.
#pragma once

#include "platform/win32_types.h"

class Window {
  public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND hwnd() const { return hwnd_; }

  protected:
    struct ClassInfo {
        const char* name;
        UINT style;
        HICON icon;  // may be null
        HICON smallIcon;
        HBRUSH background;  // may be null (the client covers the window)
    };

    // Registers the class on first use (per process) and creates the
    // window, with this object receiving its messages. The window exists
    // (or has failed) when this returns; null on failure, including a
    // creation handler that refused (WM_CREATE returning -1).
    HWND CreateWindowOf(const ClassInfo& cls, DWORD exStyle, const char* title, DWORD style, int x,
                        int y, int width, int height, HWND parent, HMENU menu);

    // The object's message handler; the default is DefWindowProcA.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Called after WM_NCDESTROY has been handled; the window is gone.
    virtual void OnFinalMessage() {}

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};
