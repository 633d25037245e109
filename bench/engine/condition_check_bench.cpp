// How long the checks of flow control, breaks and parity take with their
// default timing, on the demo's network pair (two ports of the in-process
// device server on a cable paced to their speed, through the network
// library): each check alone, on a pair that honours its settings and on
// one whose server ignores the handshake, drops the break and hides parity
// errors. Prints each port's result and the seconds the check took.
//
// usage: condition_check_bench [SPEED...]   (115200 9600)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"
#include "tester/engine/condition_check.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/session/row_store.h"
#include "tests/support/cable.h"

namespace {

struct Pair {
    explicit Pair(uint32_t baud)
        : line(rig::Pacing::followPort()),
          serverA(line.pathA(), baud, &link, 0),
          serverB(line.pathB(), baud, &link, 1) {}

    rig::NullModemCable line;
    demo::ModemLink link;
    demo::DeviceServer serverA;
    demo::DeviceServer serverB;
};

bool Open(RowStore& rows, std::vector<std::unique_ptr<PortWorker>>& workers, const Pair& pair) {
    for (const std::string& name : {pair.serverA.PortName(), pair.serverB.PortName()}) {
        workers.push_back(PortWorker::Create(static_cast<int32_t>(workers.size()), name.c_str(),
                                             rows, configuration.portSettings));
        if (!workers.back() || !workers.back()->Start(name.c_str())) return false;
    }
    const uint32_t start = plat::tickCount();
    for (auto& w : workers)
        while (w->notReady.load() != 0)
            if (plat::ticksBetween(start, plat::tickCount()) > 10000)
                return false;
            else
                plat::sleepMs(10);
    return true;
}

void ShutDown(std::vector<std::unique_ptr<PortWorker>>& workers) {
    SignalQuit();
    for (auto& w : workers)
        w->CancelAndPurge();
    for (auto& w : workers)
        if (!w->JoinThreads(8000)) (void)w.release();
    workers.clear();
    ClearQuitForTesting();
}

void Measure(uint32_t baud, bool faulty, bool xonXoff) {
    PortSettings& s = configuration.portSettings;
    s.blockSize = 1024;
    s.baudRate = baud;
    s.byteSize = 8;
    s.parity = EVENPARITY;
    s.stopBits = ONESTOPBIT;
    s.hdTimeout = 0;
    s.reconnect = 1;
    LineFlags flags = LineFlags::fromWord(0);
    flags.dtrControl = DTR_CONTROL_ENABLE;
    if (xonXoff) {
        flags.rtsControl = RTS_CONTROL_ENABLE;
        flags.outX = flags.inX = 1;
    } else {
        flags.rtsControl = RTS_CONTROL_HANDSHAKE;
        flags.outxCtsFlow = 1;
    }
    s.lineFlags = flags;

    Pair pair(baud);
    pair.serverA.SetFaultsForTesting({faulty, faulty, faulty});
    pair.serverB.SetFaultsForTesting({faulty, faulty, faulty});
    RowStore rows;
    std::vector<std::unique_ptr<PortWorker>> workers;
    if (!Open(rows, workers, pair)) {
        std::printf("the network pair did not open (is libqelnet.so beside this program?)\n");
        ShutDown(workers);
        return;
    }
    const std::vector<ConditionCheck> checks =
        xonXoff ? std::vector<ConditionCheck>{ConditionCheck::Flow}
                : std::vector<ConditionCheck>{ConditionCheck::Flow, ConditionCheck::Break,
                                              ConditionCheck::Parity};
    for (ConditionCheck check : checks) {
        const uint32_t start = plat::tickCount();
        const std::vector<ConditionRun> runs = RunConditionChecks(
            {{workers[0].get(), workers[1].get()}}, {check}, ConditionTiming(), nullptr);
        const double seconds = plat::ticksBetween(start, plat::tickCount()) / 1000.0;
        std::printf("%7u bit/s %-8s %-7s %-6s %6.1f s\n", baud, xonXoff ? "XON/XOFF" : "RTS/CTS",
                    faulty ? "faulty" : "sound", ConditionCheckName(check), seconds);
        for (const LineCheckOutcome& o : runs[0].outcomes)
            std::printf("    port %d: %s\n", o.worker->rowIndex + 1, o.result.text.c_str());
        std::fflush(stdout);
    }
    ShutDown(workers);
}

}  // namespace

int main(int argc, char** argv) {
    if (!InitTestEngine()) return 1;
    std::vector<uint32_t> speeds;
    for (int i = 1; i < argc; ++i)
        speeds.push_back(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
    if (speeds.empty()) speeds = {115200, 9600};
    std::printf("load average before: ");
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        char text[64] = "";
        if (std::fgets(text, sizeof text, f)) std::printf("%s", text);
        std::fclose(f);
    }
    for (uint32_t baud : speeds)
        for (bool faulty : {false, true})
            for (bool xonXoff : {false, true})
                Measure(baud, faulty, xonXoff);
    return 0;
}
