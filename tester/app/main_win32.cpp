// The Windows program's entry: platform set-up, the version for the title,
// the configuration path from the command line, the main window and the
// message loop. Exit code: 1 after a normal close, 0 when the main window
// cannot be created.
#include "platform/win32_types.h"

#include <commctrl.h>
#include <objbase.h>

#include <new>

#include "tester/version/version.h"
#include "tester/config/configuration.h"
#include "tester/ui/win32/main_window.h"
#include "tester/ui/win32/message_loop.h"

namespace {

int RunProgram(const char* commandLine, int showCommand) {
    MessageLoop loop;
    appModule.AddMessageLoop(&loop);
    int exitCode = 0;
    auto* window = new (std::nothrow) MainWindow;
    if (window) {
        SetConfigPath(commandLine);
        if (window->Create()) {
            ShowWindow(window->hwnd(), showCommand);
            exitCode = loop.Run();
        }
        // A port thread that outlived the shut-down may still write its
        // row in the window's list: then the window stays allocated until
        // the process ends, a moment from now.
        if (window->SafeToDestroy()) delete window;
    }
    appModule.RemoveMessageLoop();
    return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    appModule.Init(instance);
    ReadProgramVersion();
    int exitCode = RunProgram(commandLine ? commandLine : "", showCommand);
    appModule.Term();
    CoUninitialize();
    return exitCode;
}
