// Whole workers over pseudo-terminal cables, full duplex on every pair:
// - unpaced, 1, 16 and 64 pairs: how many bytes the engine checks per
//   second, and its CPU time per megabyte;
// - paced at 115200 bit/s 8N1 on 127 pairs (254 ports): the engine's share
//   of one core, and every row's CPS against the line's 11520 B/s.
// The cables' own threads exist before the workers are made; every thread
// made after them is counted as the engine's.
//
// usage: engine_line_bench [unpaced-seconds [paced-seconds]]   (5 and 20;
// 0 skips that part)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/session/row_store.h"
#include "tests/support/cable.h"
#include "thread_cpu.h"

namespace {

constexpr uint32_t kBlock = 1024;
constexpr double kLineRate = 11520.0;  // 115200 bit/s, 10 bits a byte

struct Sample {
    uint64_t blocks = 0;
    uint64_t engineNs = 0;
    uint64_t rigNs = 0;
    double processCpu = 0;
    uint32_t tick = 0;
    std::vector<uint64_t> delivered;  // per cable: A to B, then B to A
};

struct Run {
    std::vector<std::unique_ptr<rig::NullModemCable>> cables;
    RowStore rows;
    std::vector<std::unique_ptr<PortWorker>> workers;
    std::set<int> rigThreads;

    Sample Take() const {
        Sample s;
        for (const auto& w : workers)
            s.blocks += w->blocksOk.load(std::memory_order_relaxed);
        for (const auto& [tid, ns] : ThreadCpuNs())
            (rigThreads.count(tid) ? s.rigNs : s.engineNs) += ns;
        for (const auto& c : cables) {
            s.delivered.push_back(c->delivered(rig::Dir::AtoB));
            s.delivered.push_back(c->delivered(rig::Dir::BtoA));
        }
        s.processCpu = ProcessCpuSeconds();
        s.tick = plat::tickCount();
        return s;
    }
};

bool Start(Run& run, int pairs, const rig::Pacing& pacing) {
    for (int i = 0; i < pairs; ++i)
        run.cables.push_back(std::make_unique<rig::NullModemCable>(pacing));
    for (const auto& [tid, ns] : ThreadCpuNs())
        run.rigThreads.insert(tid);
    for (int i = 0; i < pairs; ++i) {
        for (const std::string& path : {run.cables[i]->pathA(), run.cables[i]->pathB()}) {
            auto w = PortWorker::Create(static_cast<int32_t>(run.workers.size()), path.c_str(),
                                        run.rows, configuration.portSettings);
            if (!w || !w->Start(path.c_str())) return false;
            run.workers.push_back(std::move(w));
        }
    }
    const uint32_t start = plat::tickCount();
    for (const auto& w : run.workers) {
        while (w->notReady.load(std::memory_order_relaxed) != 0) {
            if (plat::ticksBetween(start, plat::tickCount()) > 30000) return false;
            plat::sleepMs(5);
        }
    }
    for (const auto& w : run.workers)
        w->ToggleRun();
    return true;
}

void Stop(Run& run) {
    SignalQuit();
    plat::sleepMs(100);
    for (const auto& w : run.workers)
        w->CancelAndPurge();
    plat::sleepMs(100);
    for (auto& w : run.workers) {
        if (!w->JoinThreads(8000)) {
            std::printf("  a worker's thread outlived the shut-down; left allocated\n");
            w.release();
        }
    }
    run.workers.clear();
    ClearQuitForTesting();
}

void Unpaced(int pairs, uint32_t seconds) {
    Run run;
    if (!Start(run, pairs, rig::Pacing::off())) {
        std::printf("%5d  could not start\n", pairs);
        return;
    }
    plat::sleepMs(1000);
    const Sample a = run.Take();
    plat::sleepMs(seconds * 1000);
    const Sample b = run.Take();
    uint32_t errors = 0;
    for (const auto& w : run.workers)
        errors += w->rxErrors.load(std::memory_order_relaxed);
    Stop(run);

    const double secs = plat::ticksBetween(a.tick, b.tick) / 1000.0;
    const double blocks = static_cast<double>(b.blocks - a.blocks);
    const double checkedMB = blocks * kBlock / 1e6;
    const double payloadMB = blocks * (kBlock - kPayloadOffset) / 1e6;
    const double engineCpu = (b.engineNs - a.engineNs) / 1e9;
    const double rigCpu = (b.rigNs - a.rigNs) / 1e9;
    std::printf("%5d  %5d  %12.1f  %12.1f  %10.4f  %10.4f  %11.4f  %6u\n", pairs, 2 * pairs,
                checkedMB / secs, payloadMB / secs, engineCpu / payloadMB, rigCpu / payloadMB,
                (b.processCpu - a.processCpu) / payloadMB, errors);
}

// CPS is each row's own figure: bytes read since its reader started, per
// second. Beside the worst row the bench prints what its cable delivered
// to that port over the same time: a row below the line rate while its
// cable delivered at the line rate is the engine's shortfall; with both
// below, the cable's thread ran late (the machine's other load). The last
// line sets every row against its own cable, which is what the engine
// answers for.
void Paced(int pairs, uint32_t seconds) {
    Run run;
    const rig::Pacing line = rig::Pacing::at(115200, 10);
    if (!Start(run, pairs, line)) {
        std::printf("could not start %d paced pairs\n", pairs);
        return;
    }
    const Sample started = run.Take();
    plat::sleepMs(1000);
    const Sample a = run.Take();
    plat::sleepMs(seconds * 1000);
    const Sample b = run.Take();
    const double runSecs = plat::ticksBetween(started.tick, b.tick) / 1000.0;

    double worst = 2 * kLineRate, best = 0, worstLine = 0, worstOff = 0;
    int worstRow = -1, outside = 0, linesLate = 0, offCable = 0, worstOffRow = -1;
    uint32_t errors = 0;
    for (const auto& w : run.workers) {
        // Row 2i is port A of cable i and reads lane B to A (index 2i + 1).
        const size_t lane = static_cast<size_t>(w->rowIndex) ^ 1u;
        const double delivered = (b.delivered[lane] - started.delivered[lane]) / runSecs;
        const double cps = w->rate.load(std::memory_order_relaxed);
        if (cps < worst) {
            worst = cps;
            worstRow = w->rowIndex;
            worstLine = delivered;
        }
        if (cps > best) best = cps;
        if (cps < kLineRate * 0.98 || cps > kLineRate * 1.02) ++outside;
        if (delivered < kLineRate * 0.98) ++linesLate;
        const double off = delivered > 0 ? cps / delivered - 1 : -1;
        if (off < -0.02 || off > 0.02) ++offCable;
        if (off * off > worstOff * worstOff || worstOffRow < 0) {
            worstOff = off;
            worstOffRow = w->rowIndex;
        }
        errors += w->rxErrors.load(std::memory_order_relaxed);
    }
    Stop(run);

    const double secs = plat::ticksBetween(a.tick, b.tick) / 1000.0;
    std::printf("paced 115200 8N1, %d pairs (%d ports), CPU over %.1f s, CPS over %.1f s:\n", pairs,
                2 * pairs, secs, runSecs);
    std::printf("  CPU as a share of one core: engine %.1f%%, cable rig %.1f%%, process %.1f%%\n",
                100.0 * (b.engineNs - a.engineNs) / 1e9 / secs,
                100.0 * (b.rigNs - a.rigNs) / 1e9 / secs,
                100.0 * (b.processCpu - a.processCpu) / secs);
    std::printf(
        "  worst row %d: CPS %.0f, %.2f%% of %.0f B/s (its cable delivered %.0f B/s);"
        " best row %.0f\n",
        worstRow + 1, worst, 100.0 * worst / kLineRate, kLineRate, worstLine, best);
    std::printf("  rows outside 2%%: %d of %zu; cable lanes below 98%%: %d; receive errors: %u\n",
                outside, 2 * static_cast<size_t>(pairs), linesLate, errors);
    std::printf(
        "  rows more than 2%% off what their cable delivered: %d (farthest: row %d, %+.2f%%)\n",
        offCable, worstOffRow + 1, 100.0 * worstOff);
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t unpacedSeconds = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 5;
    const uint32_t pacedSeconds = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 20;
    if (!InitTestEngine()) return 1;
    PortSettings& s = configuration.portSettings;
    s.blockSize = kBlock;
    s.baudRate = 115200;
    s.byteSize = 8;
    s.parity = NOPARITY;
    s.stopBits = ONESTOPBIT;
    s.lineFlags = LineFlags::fromWord(0);

    if (unpacedSeconds != 0) {
        std::printf("unpaced full duplex, %u-byte blocks, %u s a run; CPU in s per MB of payload\n",
                    kBlock, unpacedSeconds);
        std::printf(
            "pairs  ports  checked MB/s  payload MB/s  engine CPU     rig CPU  process CPU"
            "  errors\n");
        for (int pairs : {1, 16, 64})
            Unpaced(pairs, unpacedSeconds);
        std::printf("\n");
    }
    if (pacedSeconds != 0) Paced(127, pacedSeconds);
    return 0;
}
