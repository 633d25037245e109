// The console's control events. Windows calls the handler on a thread of
// its own; the flag is all it touches.
#include "platform/stop_request.h"

#include <atomic>

#include "platform/win32_types.h"

namespace plat {

namespace {

std::atomic<bool> stopRequestedFlag{false};
std::atomic<bool> installed{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // The second interrupt goes on to the default handler, which
            // ends the process, as a second SIGINT does on POSIX.
            return stopRequestedFlag.exchange(true) ? FALSE : TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // Windows ends the process as soon as this handler returns, so
            // it does not: the program finishes its stop meanwhile and
            // exits by itself, or the system ends it after its grace time.
            stopRequestedFlag.store(true);
            for (;;)
                Sleep(INFINITE);
        default:
            return FALSE;
    }
}

}  // namespace

void catchStopRequests() {
    if (installed.exchange(true)) return;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool stopRequested() {
    return stopRequestedFlag.load();
}

}  // namespace plat
