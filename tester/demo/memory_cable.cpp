#include "tester/demo/memory_cable.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "tester/demo/line_format.h"
#include "tester/demo/pacer.h"

namespace demo {

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One direction: what its sender wrote and the line has not taken yet,
// and what has arrived at the far end and has not been read.
struct Lane {
    std::vector<uint8_t> waiting;
    size_t waitingPos = 0;
    std::vector<uint8_t> arrived;
    size_t arrivedPos = 0;
    Pacer pacer;
    int64_t charNs = 0;
    uint32_t baud = 0;
    uint32_t stopBits = 1;

    size_t Waiting() const { return waiting.size() - waitingPos; }
    size_t Arrived() const { return arrived.size() - arrivedPos; }
    void SetFormat(uint32_t newBaud, uint32_t newStopBits) {
        baud = newBaud;
        stopBits = newStopBits;
        charNs = charTimeNs(baud, frameBits(8, false, stopBits));
    }

    // The chunks the line has carried by `now`. True when the far end had
    // nothing to read before and now has.
    bool Advance(int64_t now) {
        const bool had = Arrived() > 0;
        while (Waiting() > 0 && pacer.ready(now)) {
            const size_t budget = pacer.allowance(now, charNs);
            const size_t n = std::min(budget, Waiting());
            const auto from = waiting.begin() + static_cast<ptrdiff_t>(waitingPos);
            arrived.insert(arrived.end(), from, from + static_cast<ptrdiff_t>(n));
            waitingPos += n;
            pacer.sent(now, n, charNs, n < budget);
        }
        if (Waiting() == 0) {
            waiting.clear();
            waitingPos = 0;
        }
        return !had && Arrived() > 0;
    }
};

struct Cable {
    std::mutex mutex;
    Lane lanes[2];   // lanes[s]: what side s sends
    Wakeup wake[2];  // wake[s]: side s has something to read, or to look at
};

class MemoryEnd : public DeviceLine {
  public:
    MemoryEnd(std::shared_ptr<Cable> cable, int side) : cable_(std::move(cable)), side_(side) {}

    long Read(uint8_t* buffer, size_t size) override {
        // Cleared before looking: a Set after this is seen by the next wait.
        cable_->wake[side_].Clear();
        std::lock_guard<std::mutex> lock(cable_->mutex);
        Lane& in = In();
        in.Advance(NowNs());
        const size_t n = std::min(size, in.Arrived());
        std::copy_n(in.arrived.begin() + static_cast<ptrdiff_t>(in.arrivedPos), n, buffer);
        in.arrivedPos += n;
        if (in.Arrived() == 0) {
            in.arrived.clear();
            in.arrivedPos = 0;
        }
        return static_cast<long>(n);
    }

    long Write(const uint8_t* bytes, size_t count) override {
        bool wake = false;
        size_t n = 0;
        {
            std::lock_guard<std::mutex> lock(cable_->mutex);
            Lane& out = Out();
            const int64_t now = NowNs();
            wake = out.Advance(now);
            n = std::min(count, kLineBuffer - std::min(kLineBuffer, out.Waiting()));
            // The far end looks again when the line has something for it:
            // at once when an idle line takes the first chunk now, else by
            // the time its Prepare finds the line busy.
            wake = wake || (n > 0 && out.Waiting() == 0);
            out.waiting.insert(out.waiting.end(), bytes, bytes + n);
            wake = out.Advance(now) || wake;
        }
        if (wake) cable_->wake[side_ ^ 1].Set();
        return static_cast<long>(n);
    }

    bool SetSpeed(uint32_t baud) override {
        std::lock_guard<std::mutex> lock(cable_->mutex);
        Out().SetFormat(baud, Out().stopBits);
        return true;
    }

    void SetStopBits(uint8_t stopBits) override {
        std::lock_guard<std::mutex> lock(cable_->mutex);
        Out().SetFormat(Out().baud, stopBits == 2 ? 2 : 1);
    }

    void Purge(bool received, bool unsent) override {
        std::lock_guard<std::mutex> lock(cable_->mutex);
        if (received) {
            In().arrived.clear();
            In().arrivedPos = 0;
        }
        if (unsent) {
            Out().waiting.clear();
            Out().waitingPos = 0;
        }
    }

    void Prepare(bool wantWrite, Watch& watch, int64_t& dueNs) override {
        watch.handle = cable_->wake[side_].Handle();
        watch.read = true;
        watch.write = false;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(cable_->mutex);
            const int64_t now = NowNs();
            Lane& in = In();
            Lane& out = Out();
            in.Advance(now);
            wake = out.Advance(now);
            auto by = [&](int64_t at) { dueNs = dueNs < 0 ? at : std::min(dueNs, at); };
            if (in.Arrived() > 0) by(now);
            if (in.Waiting() > 0) by(in.pacer.freeAt());
            if (wantWrite) by(out.Waiting() < kLineBuffer ? now : out.pacer.freeAt());
        }
        if (wake) cable_->wake[side_ ^ 1].Set();
    }

  private:
    Lane& In() { return cable_->lanes[side_ ^ 1]; }
    Lane& Out() { return cable_->lanes[side_]; }

    std::shared_ptr<Cable> cable_;
    const int side_;
};

}  // namespace

std::pair<std::unique_ptr<DeviceLine>, std::unique_ptr<DeviceLine>> MakeMemoryCable(
    uint32_t baudRate) {
    auto cable = std::make_shared<Cable>();
    for (Lane& lane : cable->lanes)
        lane.SetFormat(baudRate, 1);
    return {std::make_unique<MemoryEnd>(cable, 0), std::make_unique<MemoryEnd>(cable, 1)};
}

}  // namespace demo
