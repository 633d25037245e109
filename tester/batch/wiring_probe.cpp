#include "tester/batch/wiring_probe.h"

#include <chrono>
#include <map>
#include <memory>
#include <random>

#include "platform/clock.h"
#include "platform/thread.h"
#include "tester/batch/rate_check.h"
#include "tester/engine/port_worker.h"

namespace {

// The frame's bytes (wiring_probe.h): its start, its end, the first symbol.
enum FrameByte : uint8_t { kStart1 = 0x1E, kStart2 = 0x1C, kEnd = 0x1D, kSymbolBase = 0x01 };
constexpr size_t kSymbols = 12;
constexpr uint32_t kReadChunk = 512;
// Beyond the listening and the drain, what a thread may take to let go
// (a last read returning) before the probe stops waiting for it.
constexpr uint32_t kJoinSlackMs = 3000;
// How late a slot's copies may go out (a thread's wake-up, the other
// ports' writes before them): each slot is that much longer than a frame.
constexpr uint32_t kSlotLatenessMs = 5;

uint8_t Crc8(const uint8_t* bytes, size_t count) {
    uint8_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

void FrameBytes(uint32_t row, uint32_t nonce, uint8_t bytes[5]) {
    bytes[0] = static_cast<uint8_t>(row);
    for (int i = 0; i < 4; ++i)
        bytes[1 + i] = static_cast<uint8_t>(nonce >> (24 - 8 * i));
}

// One port's listening: it gathers the copies it hears, then drops what
// is left on its line.
struct PortProbe {
    PortWorker* worker = nullptr;
    uint32_t row = 0;
    uint32_t nonce = 0;
    // Copies: a thread that outlives the probe's wait keeps using them.
    ProbeTiming timing;
    std::function<bool()> stop;
    std::map<uint32_t, uint32_t> copies;  // by sending row
    plat::Thread thread;

    bool Stopped() const { return stop && stop(); }

    void Run() {
        ProbeScanner scanner;
        uint8_t buffer[kReadChunk];
        const uint32_t start = plat::tickCount();
        uint32_t lastByte = start;
        bool heard = false;
        for (;;) {
            const uint32_t now = plat::tickCount();
            const uint32_t spent = plat::ticksBetween(start, now);
            if (spent >= timing.ListenLimitMs() || Stopped()) break;
            if (heard && spent >= timing.SendMs() &&
                plat::ticksBetween(lastByte, now) >= timing.quietMs)
                break;
            DWORD got = 0;
            if (!worker->ReadPort(buffer, kReadChunk, &got)) return;
            if (got == 0) continue;
            lastByte = plat::tickCount();
            scanner.Feed(buffer, got, [&](uint32_t from, uint32_t number) {
                if (number != nonce) return;
                ++copies[from];
                heard = true;
            });
        }
        Drain(buffer);
    }

    void Drain(uint8_t* buffer) {
        const uint32_t start = plat::tickCount();
        uint32_t lastByte = start;
        while (plat::ticksBetween(start, plat::tickCount()) < timing.drainLimitMs &&
               plat::ticksBetween(lastByte, plat::tickCount()) < timing.quietMs && !Stopped()) {
            DWORD got = 0;
            if (!worker->ReadPort(buffer, kReadChunk, &got)) return;
            if (got != 0) lastByte = plat::tickCount();
        }
    }

    static void Entry(void* self) { static_cast<PortProbe*>(self)->Run(); }
};

constexpr uint32_t kSlotModuli[kProbeCopies] = {5, 7, 11, 13};
constexpr uint32_t kSlotBases[kProbeCopies] = {0, 5, 12, 23};

// Sends every port's copies, slot by slot, from the calling thread.
void SendCopies(const std::vector<PortWorker*>& workers, const ProbeTiming& timing, uint32_t nonce,
                const std::function<bool()>& stop) {
    const uint32_t start = plat::tickCount();
    for (uint32_t slot = 0; slot < kProbeSlots; ++slot) {
        const uint32_t due = slot * timing.slotMs;
        const uint32_t spent = plat::ticksBetween(start, plat::tickCount());
        if (spent < due) plat::sleepMs(due - spent);
        if (stop && stop()) return;
        for (size_t r = 0; r < workers.size(); ++r) {
            if (!workers[r]) continue;
            for (uint32_t copy = 0; copy < kProbeCopies; ++copy) {
                if (ProbeSlot(copy, static_cast<uint32_t>(r)) != slot) continue;
                uint8_t frame[kProbeFrameBytes];
                EncodeProbeFrame(static_cast<uint32_t>(r), nonce, frame);
                DWORD sent = 0;
                workers[r]->WritePort(frame, sizeof frame, &sent);
            }
        }
    }
}

}  // namespace

void EncodeProbeFrame(uint32_t row, uint32_t nonce, uint8_t frame[kProbeFrameBytes]) {
    uint8_t bytes[5];
    FrameBytes(row, nonce, bytes);
    const uint8_t crc = Crc8(bytes, sizeof bytes);
    frame[0] = kStart1;
    frame[1] = kStart2;
    size_t at = 2;
    for (uint8_t byte : {bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], crc}) {
        frame[at++] = static_cast<uint8_t>(kSymbolBase + (byte >> 4));
        frame[at++] = static_cast<uint8_t>(kSymbolBase + (byte & 0x0F));
    }
    frame[at] = kEnd;
}

void ProbeScanner::Feed(const uint8_t* bytes, size_t count,
                        const std::function<void(uint32_t row, uint32_t nonce)>& found) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (state_ == 2 && symbols_ < kSymbols && b >= kSymbolBase && b < kSymbolBase + 16) {
            nibbles_[symbols_++] = static_cast<uint8_t>(b - kSymbolBase);
            continue;
        }
        if (state_ == 2 && symbols_ == kSymbols && b == kEnd) {
            uint8_t decoded[6];
            for (size_t k = 0; k < 6; ++k)
                decoded[k] = static_cast<uint8_t>(nibbles_[2 * k] << 4 | nibbles_[2 * k + 1]);
            if (Crc8(decoded, 5) == decoded[5]) {
                const uint32_t nonce = uint32_t{decoded[1]} << 24 | uint32_t{decoded[2]} << 16 |
                                       uint32_t{decoded[3]} << 8 | decoded[4];
                found(decoded[0], nonce);
            }
            state_ = 0;
            continue;
        }
        if (state_ == 1 && b == kStart2) {
            state_ = 2;
            symbols_ = 0;
            continue;
        }
        // Anything else ends a frame; a start may begin the next at once.
        state_ = b == kStart1 ? 1 : 0;
    }
}

uint32_t ProbeSlot(uint32_t copy, uint32_t row) {
    return kSlotBases[copy] + row % kSlotModuli[copy];
}

ProbeTiming ProbeTimingFor(const DCB& settings) {
    ProbeTiming timing;
    const double bytesPerSecond = LineBytesPerSecond(settings);
    // An unknown speed is taken as the slowest the settings accept.
    const double rate = bytesPerSecond > 0 ? bytesPerSecond : 30;
    timing.frameMs = static_cast<uint32_t>(kProbeFrameBytes * 1000 / rate) + 1;
    const uint32_t quarter = timing.frameMs / 4;
    timing.slotMs = timing.frameMs + (quarter > kSlotLatenessMs ? quarter : kSlotLatenessMs);
    return timing;
}

Wiring RunWiringProbe(const std::vector<PortWorker*>& workers, const ProbeTiming& timing,
                      uint32_t nonce, const std::function<bool()>& stop) {
    Wiring wiring;
    wiring.heard.assign(workers.size(), {});
    wiring.probed.assign(workers.size(), false);
    // Every port forgets what it holds before any port sends: a purge after
    // a far end's copies had come would lose them.
    for (PortWorker* worker : workers)
        if (worker)
            worker->OnPort(
                [](PortAccess& port, HANDLE handle) { return port.Purge(handle, PURGE_RXCLEAR); });

    std::vector<std::unique_ptr<PortProbe>> probes;
    for (size_t r = 0; r < workers.size(); ++r) {
        if (!workers[r]) continue;
        auto probe = std::make_unique<PortProbe>();
        probe->worker = workers[r];
        probe->row = static_cast<uint32_t>(r);
        probe->nonce = nonce;
        probe->timing = timing;
        probe->stop = stop;
        probes.push_back(std::move(probe));
    }
    for (auto& probe : probes)
        if (!probe->thread.start(PortProbe::Entry, probe.get())) probe->worker = nullptr;
    SendCopies(workers, timing, nonce, stop);
    const uint32_t bound = timing.ListenLimitMs() + timing.drainLimitMs + kJoinSlackMs;
    bool allEnded = true;
    for (auto& probe : probes) {
        if (!probe->worker) continue;
        if (!probe->thread.join(bound)) {
            allEnded = false;
            continue;
        }
        wiring.probed[probe->row] = true;
        for (const auto& [from, copies] : probe->copies)
            if (copies >= kProbeCopiesNeeded && from < workers.size())
                wiring.heard[probe->row].push_back(static_cast<int32_t>(from));
    }
    // A thread that outlived its bound (a driver that ignores its time-outs)
    // still uses its probe: those are left to it.
    if (!allEnded)
        for (auto& probe : probes)
            if (probe->thread.running()) (void)probe.release();
    return wiring;
}

uint32_t DrawProbeNonce() {
    std::random_device device;
    const auto now = static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFFFFu);
    return device() ^ now;
}
