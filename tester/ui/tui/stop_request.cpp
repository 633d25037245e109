#include "tester/ui/tui/stop_request.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
bool installed = false;

extern "C" void OnStopSignal(int) {
    stopRequested = 1;
}

}  // namespace

void CatchStopSignals() {
    if (installed) return;
    installed = true;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGHUP, OnStopSignal);
}

bool StopRequested() {
    return stopRequested != 0;
}
