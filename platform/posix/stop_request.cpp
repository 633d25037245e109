#include "platform/stop_request.h"

#include <csignal>

namespace plat {

namespace {

volatile std::sig_atomic_t stopRequestedFlag = 0;
bool installed = false;

// The first signal asks for the orderly stop; the handler then gives way
// to the default, so that a second one ends a program that does not stop.
extern "C" void OnStopSignal(int signal) {
    stopRequestedFlag = 1;
    std::signal(signal, SIG_DFL);
}

}  // namespace

void catchStopRequests() {
    if (installed) return;
    installed = true;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGHUP, OnStopSignal);
}

bool stopRequested() {
    return stopRequestedFlag != 0;
}

}  // namespace plat
