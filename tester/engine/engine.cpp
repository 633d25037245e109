#include "tester/engine/engine.h"

#include <new>

#include "tester/port/network_library.h"

plat::Event* quitEvent = nullptr;
std::mutex workerReadLock;

bool InitTestEngine() {
    if (!CreateLibraryLock()) return false;
    if (quitEvent) return true;
    auto* event = new (std::nothrow) plat::Event(plat::Event::ManualReset);
    if (!event) return false;
    if (!event->valid()) {
        delete event;
        return false;
    }
    quitEvent = event;
    return true;
}

void SignalQuit() {
    if (quitEvent) quitEvent->set();
}

void WaitForWorkerReaders() {
    std::lock_guard<std::mutex> hold(workerReadLock);
}

void ClearQuitForTesting() {
    if (quitEvent) quitEvent->reset();
}
