// What the window tests share: the common controls and the module record
// set up as the program's entry sets them up, and a bounded wait.
#pragma once

#include "platform/win32_types.h"

#include <commctrl.h>

#include "tester/ui/win32/message_loop.h"

inline void InitWindowing() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    appModule.Init(GetModuleHandleA(nullptr));
}

// Polls `done` from a thread that serves no window of the test (a driver
// thread) until it holds; false after `timeoutMs`.
template <typename Pred>
bool WaitFor(Pred done, DWORD timeoutMs = 20000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}
