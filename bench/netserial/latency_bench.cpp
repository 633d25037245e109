// Round trips of the half-duplex test as the tester measures them: min,
// median, 99th percentile and max per master, in milliseconds, from the
// tester's own CSV report of an unattended --pairs run. Two pairs:
// - a cable pair: both ends local ports on a pseudo-terminal cable paced to
//   the line's speed (115200 bit/s 8N1);
// - a network pair: the master through ser2net on 127.0.0.1, which serves
//   one end of such a cable, the slave on the cable's other end.
// A 1024-byte block crosses a 115200 bit/s line in 88.9 ms, so no round
// trip can be shorter than about 178 ms; what is above it is the engine's,
// the library's and the server's. Prints; asserts nothing.
//
//   latency_bench [SECONDS [RUNS]]   (the --batch time, 20; runs per pair, 1)
#include "bench/netserial/tester_run.h"
#include "tests/support/cable.h"
#include "tests/support/ser2net.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// One CSV record (RFC 4180 quoting) into fields.
std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r' || quoted) {
            fields.back() += c;
        }
    }
    return fields;
}

struct Pair {
    const char* what;
    std::string master, slave;
};

void RunPair(const std::string& tester, const std::string& dir, const Pair& pair,
             unsigned seconds) {
    std::ofstream(dir + "/ports.ini") << "[Ports]\n"
                                      << pair.master << "\n"
                                      << pair.slave << "\n[Serial]\nBaudRate=115200\n"
                                      << "[Misc]\nHDTimeout=0\n";
    const bench::TesterRun run = bench::RunTester(
        tester, dir,
        {"--batch", std::to_string(seconds), "--pairs", "--report", "report.csv", "ports.ini"});
    std::ifstream csv(dir + "/report.csv");
    std::string headerLine, masterLine;
    std::getline(csv, headerLine);
    std::getline(csv, masterLine);
    const std::vector<std::string> header = SplitCsv(headerLine);
    const std::vector<std::string> master = SplitCsv(masterLine);
    auto field = [&](const char* title) {
        for (size_t i = 0; i < header.size() && i < master.size(); ++i)
            if (header[i] == title) return master[i];
        return std::string("?");
    };
    std::printf("%-8s exit %d, %4.1f s: blocks %s, round trip ms min %s, p50 %s, p99 %s, max %s\n",
                pair.what, run.exitCode, run.seconds, field("Tx#").c_str(),
                field("RttMinMs").c_str(), field("RttP50Ms").c_str(), field("RttP99Ms").c_str(),
                field("RttMaxMs").c_str());
    if (run.exitCode != 0)
        for (const std::string& line : run.output)
            if (line.rfind("vesktest:", 0) == 0) std::printf("         %s\n", line.c_str());
    std::fflush(stdout);
    unlink((dir + "/report.csv").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned seconds = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 20;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    const std::string tester = bench::FindTester();
    if (tester.empty()) return 1;
    if (rig::Ser2net::program().empty()) {
        std::printf("%s\n", rig::Ser2net::missingMessage().c_str());
        return 1;
    }
    char dirTemplate[] = "/tmp/latency-bench-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;

    std::printf(
        "vesktest --batch %u --pairs, 1024-byte blocks at 115200 bit/s 8N1 (a block "
        "each way is 177.8 ms on the line)\n",
        seconds);
    for (int i = 0; i < runs; ++i) {
        rig::NullModemCable cable(demo::Pacing::followPort());
        RunPair(tester, dir, {"cable", cable.pathA(), cable.pathB()}, seconds);
    }
    for (int i = 0; i < runs; ++i) {
        rig::NullModemCable cable(demo::Pacing::followPort());
        rig::Ser2net server({cable.pathA(), "115200n81", false});
        std::string error;
        if (!server.start(&error)) {
            std::printf("ser2net: %s\n", error.c_str());
            return 1;
        }
        RunPair(tester, dir,
                {"network", "127.0.0.1:" + std::to_string(server.telnetPort()), cable.pathB()},
                seconds);
    }
    for (const char* f : {"/ports.ini", "/vesktestw.ini"})
        unlink((dir + f).c_str());
    rmdir(dir.c_str());
    return 0;
}
