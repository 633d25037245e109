// The field case on one machine: ser2net on 127.0.0.1 serving both ends of
// an unpaced pseudo-terminal cable, and the terminal tester running a
// full-duplex batch between the two network ports. Repeats the run and
// prints, per run, its exit code, how long it took and the rates the
// tester's summary reports; asserts nothing.
//
//   loopback_batch [RUNS [SECONDS [KEY=VALUE...]]]
//
// RUNS defaults to 20, SECONDS (the --batch time) to 5. KEY=VALUE pairs go
// into [General] of the qelnet.ini beside the tester's configuration
// (RecvBufSize=4096, for example); without them the library's defaults
// hold. The tester is the vesktest next to this program ($VESKTEST
// overrides). A run that drains for the tester's whole drain limit has
// stalled.
#include "bench/netserial/tester_run.h"
#include "tests/support/cable.h"
#include "tests/support/ser2net.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    double seconds = 0;
    std::string summary;  // the tester's "vesktest: ..." line
    // Per port (in file order): bytes and blocks received and sent.
    struct Counts {
        unsigned long long rxBytes = 0, rxBlocks = 0, txBytes = 0, txBlocks = 0;
    };
    std::vector<Counts> ports;
};

// A row of the tester's table: "1 127.0.0.1:N rxBytes/rxBlocks txBytes/txBlocks ...".
bool parseRow(const std::string& line, Run::Counts& c) {
    std::istringstream fields(line);
    unsigned number = 0;
    std::string name, rx, tx;
    if (!(fields >> number >> name >> rx >> tx)) return false;
    return std::sscanf(rx.c_str(), "%llu/%llu", &c.rxBytes, &c.rxBlocks) == 2 &&
           std::sscanf(tx.c_str(), "%llu/%llu", &c.txBytes, &c.txBlocks) == 2;
}

// Runs the tester in `dir` and keeps its summary line.
Run runTester(const std::string& tester, const std::string& dir, unsigned seconds) {
    const bench::TesterRun done =
        bench::RunTester(tester, dir, {"--batch", std::to_string(seconds), "ports.ini"});
    Run run;
    run.exitCode = done.exitCode;
    run.seconds = done.seconds;
    for (const std::string& line : done.output)
        if (line.rfind("vesktest:", 0) == 0) {
            run.summary = line.substr(10);
        } else {
            Run::Counts c;
            if (parseRow(line, c)) run.ports.push_back(c);
        }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const unsigned seconds = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 5;
    std::string settings;
    for (int i = 3; i < argc; ++i)
        settings += std::string(argv[i]) + "\n";
    const std::string tester = bench::FindTester();
    if (tester.empty()) return 1;
    if (rig::Ser2net::program().empty()) {
        std::printf("%s\n", rig::Ser2net::missingMessage().c_str());
        return 1;
    }

    rig::NullModemCable cable;
    rig::Ser2net a({cable.pathA(), "115200n81", false});
    rig::Ser2net b({cable.pathB(), "115200n81", false});
    std::string error;
    if (!a.start(&error) || !b.start(&error)) {
        std::printf("ser2net: %s\n", error.c_str());
        return 1;
    }
    char dirTemplate[] = "/tmp/loopback-batch-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    std::ofstream(dir + "/ports.ini")
        << "[Ports]\n127.0.0.1:" << a.telnetPort() << "\n127.0.0.1:" << b.telnetPort()
        << "\n[Serial]\nBaudRate=115200\n";
    if (!settings.empty()) std::ofstream(dir + "/qelnet.ini") << "[General]\n" << settings;

    std::printf(
        "ser2net on 127.0.0.1 serving both ends of an unpaced pty cable; vesktest "
        "--batch %u, %d runs; qelnet.ini: %s\n",
        seconds, runs, settings.empty() ? "none (defaults)" : "");
    if (!settings.empty()) std::printf("%s", settings.c_str());
    int passed = 0;
    double slowest = 0;
    for (int i = 0; i < runs; ++i) {
        const Run run = runTester(tester, dir, seconds);
        // The tester's verdict does not require every block sent to have
        // arrived (a stalled run ends with its drain limit); this does.
        const bool complete = run.ports.size() == 2 &&
                              run.ports[1].rxBlocks == run.ports[0].txBlocks &&
                              run.ports[0].rxBlocks == run.ports[1].txBlocks;
        if (run.exitCode == 0 && complete) ++passed;
        if (run.seconds > slowest) slowest = run.seconds;
        std::printf("run %2d: exit %d, %5.1f s", i + 1, run.exitCode, run.seconds);
        if (run.ports.size() == 2) {
            // Port 1 receives what port 2 sends and the other way round.
            const Run::Counts& p = run.ports[0];
            const Run::Counts& q = run.ports[1];
            std::printf("; blocks 1->2 %llu/%llu, 2->1 %llu/%llu; %.2f MB/s each way", q.rxBlocks,
                        p.txBlocks, p.rxBlocks, q.txBlocks,
                        (p.rxBytes + q.rxBytes) / 2.0 / run.seconds / 1e6);
        }
        std::printf("; %s\n", run.summary.c_str());
        std::fflush(stdout);
    }
    std::printf("%d of %d runs passed (exit 0, every block sent received); slowest %.1f s\n",
                passed, runs, slowest);
    for (const char* f : {"/ports.ini", "/qelnet.ini", "/vesktestw.ini"})
        unlink((dir + f).c_str());
    rmdir(dir.c_str());
    return 0;
}
