#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"

void BoxEvents::LineStateUnreadable(int32_t, const std::string& portName) {
    plat::messageBox(("Error 'GETCOMMSTATE' for " + portName).c_str(), "Error", MB_OK);
}

void UseDefaultTestSettings() {
    PortSettings& s = configuration.portSettings;
    s.blockSize = 1024;
    s.baudRate = 115200;
    s.byteSize = 8;
    s.parity = NOPARITY;
    s.stopBits = ONESTOPBIT;
    s.flowControl = 0;
    s.lineFlags = LineFlags::fromWord(0);
    s.hdTimeout = 0;
    s.reconnect = 1;
}

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = plat::tickCount();
    for (;;) {
        if (done()) return true;
        if (plat::ticksBetween(start, plat::tickCount()) > timeoutMs) return false;
        plat::sleepMs(2);
    }
}

bool WaitSettled(const std::function<uint64_t()>& changes, uint32_t quietMs, uint32_t timeoutMs) {
    const uint32_t start = plat::tickCount();
    uint64_t seen = changes();
    uint32_t since = start;
    for (;;) {
        plat::sleepMs(10);
        const uint32_t now = plat::tickCount();
        const uint64_t value = changes();
        if (value != seen) {
            seen = value;
            since = now;
        } else if (plat::ticksBetween(since, now) >= quietMs) {
            return true;
        }
        if (plat::ticksBetween(start, now) > timeoutMs) return false;
    }
}

bool WaitSenderStopped(PortWorker& worker, uint32_t timeoutMs) {
    return WaitUntil(
        [&] {
            const PortSnapshot s = worker.Snapshot();
            return s.txRunning == 0 && !s.txBusy;
        },
        timeoutMs);
}

BusyThreads::BusyThreads(int count) {
    for (int i = 0; i < count; ++i)
        threads_.emplace_back([this] {
            volatile uint64_t spins = 0;
            while (!stop_.load(std::memory_order_relaxed))
                spins = spins + 1;
        });
}

BusyThreads::~BusyThreads() {
    stop_ = true;
    for (std::thread& t : threads_)
        t.join();
}

EngineHarness::EngineHarness() {
    EXPECT_TRUE(InitTestEngine());
    ClearQuitForTesting();
    UseDefaultTestSettings();
}

EngineHarness::~EngineHarness() {
    if (!shutDown_) {
        EXPECT_EQ(ShutDown(), 0) << "a worker's thread outlived the shut-down";
    }
}

PortWorker& EngineHarness::Add(const std::string& portName, bool waitReady) {
    const auto row = static_cast<int32_t>(workers.size());
    std::unique_ptr<PortWorker> worker =
        PortWorker::Create(row, portName.c_str(), rows, configuration.portSettings, &events);
    EXPECT_TRUE(worker);
    EXPECT_TRUE(worker->Start(portName.c_str()));
    PortWorker& added = *worker;
    workers.push_back(std::move(worker));
    if (waitReady) {
        EXPECT_TRUE(WaitUntil(
            [&] { return Get(added.notReady) == 0 && added.State() != PortState::Opening; }, 5000))
            << portName << " never became ready";
    }
    return added;
}

int EngineHarness::ShutDown(uint32_t boundMs) {
    shutDown_ = true;
    SignalQuit();
    plat::sleepMs(100);
    for (auto& w : workers)
        w->CancelAndPurge();
    plat::sleepMs(100);
    int alive = 0;
    for (auto& w : workers) {
        if (w->JoinThreads(boundMs)) {
            w.reset();
        } else {
            w.release();  // its thread still uses it: left allocated
            ++alive;
        }
    }
    workers.clear();
    ClearQuitForTesting();
    return alive;
}
