// The wiring probe over pseudo-terminal lines paced at 1200 bit/s, as slow
// as the bench's slow lines: a null-modem cable, a loop-back plug, a port
// with nothing on it, and a port that two others talk into at once.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "tester/batch/wiring_probe.h"
#include "tester/config/configuration.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/cable.h"

namespace {

TEST(WiringProbe, LearnsPairsPlugsSilenceAndTwoTalkersAt1200) {
    rig::NullModemCable cable(rig::Pacing::followPort());
    rig::LoopbackPlug plug(rig::Pacing::followPort());
    rig::Pty idle;
    // Ports 5 and 6 both talk into port 7, as two transmitters tied to one
    // receive line would.
    rig::Pty five, six, seven;
    rig::LinePump shared({{five.master(), seven.master()}, {six.master(), seven.master()}},
                         rig::Pacing::followPort());
    EngineHarness engine;
    configuration.portSettings.baudRate = 1200;
    std::vector<PortWorker*> workers;
    for (const std::string& path : {cable.pathA(), cable.pathB(), plug.path(), idle.path(),
                                    five.path(), six.path(), seven.path()})
        workers.push_back(&engine.Add(path));
    // Frames of an earlier run still on their way through the cable are
    // no identification: another run's number.
    uint8_t stale[2 * kProbeFrameBytes];
    EncodeProbeFrame(3, 0x0BADF00D, stale);
    EncodeProbeFrame(3, 0x0BADF00D, stale + kProbeFrameBytes);
    DWORD sent = 0;
    ASSERT_TRUE(workers[0]->WritePort(stale, sizeof stale, &sent));

    DCB line{};
    line.BaudRate = 1200;
    line.ByteSize = 8;
    const ProbeTiming timing = ProbeTimingFor(line);
    const auto start = std::chrono::steady_clock::now();
    const Wiring wiring = RunWiringProbe(workers, timing, 0x5EED5EED, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ info ] the probe took %.1f s at 1200 bit/s\n", seconds);

    EXPECT_EQ(WiringLine(wiring), "1-2, 3 loop, 4 none, 5 none, 6 none, 7 hears 5+6");
    EXPECT_LT(seconds, timing.ListenLimitMs() / 1000.0 + timing.drainLimitMs / 1000.0 + 5)
        << "a hang";
    // Nothing is left on the lines for the test to trip over.
    uint8_t buffer[64];
    for (PortWorker* worker : workers) {
        DWORD got = 0;
        ASSERT_TRUE(worker->ReadPort(buffer, sizeof buffer, &got));
        EXPECT_EQ(got, 0u) << worker->PortName();
    }
}

}  // namespace
