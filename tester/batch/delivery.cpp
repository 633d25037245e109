#include "tester/batch/delivery.h"

#include <algorithm>

#include "tester/batch/rate_check.h"
#include "tester/engine/port_worker.h"

namespace {

constexpr uint32_t kLeastStallMs = 2000;
constexpr uint32_t kStallBlocks = 4;

bool Receiving(const PortSnapshot& port) {
    if (!port.Ready() || port.Down()) return false;
    if (port.mode == ModeMaster) return port.txRunning != 0;
    return port.rxRunning != 0;
}

}  // namespace

void AccountDelivery(std::vector<BatchRow>& rows, const Wiring& wiring) {
    for (size_t r = 0; r < rows.size(); ++r) {
        BatchRow& row = rows[r];
        row.delivery = Delivery();
        const int32_t source = wiring.SourceOf(static_cast<int32_t>(r));
        if (!row.ready || source < 0 || static_cast<size_t>(source) >= rows.size() ||
            !rows[source].ready)
            continue;
        const PortSnapshot& from = rows[source].values;
        const PortSnapshot& to = row.values;
        Delivery& d = row.delivery;
        d.accounted = true;
        d.source = source;
        d.blocksSent = from.blocksWritten;
        d.bytesSent = from.bytesWritten;
        d.blocksArrived = to.blocksOk + to.blocksLost;
        d.bytesArrived = to.bytesRead;
        d.cutShort = to.rxFill < to.blockSize ? to.rxFill : 0;
    }
}

uint32_t DefaultStallLimitMs(const DCB& settings, uint32_t blockSize) {
    const double bytesPerSecond = LineBytesPerSecond(settings);
    const double blocksMs =
        bytesPerSecond > 0 ? kStallBlocks * blockSize * 1000.0 / bytesPerSecond : 0;
    return std::max(kLeastStallMs, static_cast<uint32_t>(blocksMs));
}

void StallMonitor::Poll(const std::vector<PortSnapshot>& ports, uint64_t nowMs) {
    if (watches_.size() < ports.size()) {
        watches_.resize(ports.size());
        stalls_.resize(ports.size());
    }
    for (size_t r = 0; r < ports.size(); ++r) {
        Watch& w = watches_[r];
        const PortSnapshot& port = ports[r];
        w.receiving = Receiving(port);
        if (!w.receiving || port.bytesRead != w.bytes) {
            w.bytes = port.bytesRead;
            w.movedAtMs = nowMs;
            w.stalled = false;
            continue;
        }
        const uint64_t idle = nowMs - w.movedAtMs;
        if (idle <= limitMs_) continue;
        if (!w.stalled) stalls_[r].push_back(Stall{w.movedAtMs, 0});
        w.stalled = true;
        stalls_[r].back().forMs = idle;
    }
}

void StallMonitor::Finish(uint64_t nowMs) {
    for (size_t r = 0; r < watches_.size(); ++r) {
        Watch& w = watches_[r];
        const uint64_t idle = nowMs - w.movedAtMs;
        if (!w.receiving || idle <= limitMs_) continue;
        if (!w.stalled) stalls_[r].push_back(Stall{w.movedAtMs, 0});
        w.stalled = true;
        stalls_[r].back().forMs = idle;
    }
}
