// Many network ports at once: the tester's engine with one worker per port
// of the demo's RFC 2217 device servers, through the network library, as a
// bench with a few hundred device-server ports would run it.
//
// Each pair of ports is two device servers on the two ends of a
// pseudo-terminal cable paced at 115200 bit/s 8N1, so the line, not the
// machine, sets the rate, and every port runs full duplex. Prints:
// - how long the ports take to open (every worker's QnCreateFile, line
//   settings and time-outs, all workers at once) and the processor time
//   that took;
// - the processor time of a running port, for the engine (the workers'
//   threads) and the library (its I/O threads) together, and for the rig
//   (device servers and cables) apart, by the threads that exist before
//   the workers are made; and how often the library's and the workers'
//   threads were put on a processor (their wake-ups);
// - every row's CPS against what its own cable delivered;
// - the threads and descriptors the process holds, and the TCP segments
//   the machine sent a second (nearly all of them the rig's and the
//   library's, over loopback).
// Asserts nothing.
//
// usage: net_ports_bench [pairs [seconds]]   (127 pairs, 254 ports; 20 s)
//        net_ports_bench --compare [seconds [rounds]]
//
// --compare runs 32, 128 and 254 ports with a thread per connection
// (IoThreads=-1) and with the library's pool of I/O loops (the default),
// each run a process of its own in a folder whose qelnet.ini says which,
// the two taking turns so that the machine's other load falls on both
// alike; a table at the end gives every run with the load average at its
// start.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/demo/device_server.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/session/row_store.h"
#include "tests/support/cable.h"
#include "thread_cpu.h"

namespace {

constexpr uint32_t kBlock = 1024;
constexpr uint32_t kBaud = 115200;
constexpr double kLineRate = kBaud / 10.0;

// The threads' kinds: the rig's (there before the workers), the
// library's connection threads (which raise their priority, where the
// system lets them) and the workers'.
enum class Kind { Rig, Library, Worker };

// A thread's nice value, from /proc; 0 when it cannot be read.
int ThreadNice(int tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t name = text.rfind(')');
    if (name == std::string::npos) return 0;
    std::istringstream fields(text.substr(name + 2));
    std::string field;
    for (int i = 3; i <= 19 && fields >> field; ++i)
        if (i == 19) return std::atoi(field.c_str());
    return 0;
}

std::map<int, Kind> Kinds(const std::set<int>& rig) {
    std::map<int, Kind> kinds;
    const int own = ThreadNice(static_cast<int>(getpid()));
    for (const auto& [tid, ns] : ThreadCpuNs())
        kinds[tid] = rig.count(tid)          ? Kind::Rig
                     : ThreadNice(tid) < own ? Kind::Library
                                             : Kind::Worker;
    return kinds;
}

uint64_t Sum(const std::map<int, uint64_t>& cpu, const std::map<int, Kind>& kinds, Kind kind) {
    uint64_t ns = 0;
    for (const auto& [tid, t] : cpu) {
        const auto k = kinds.find(tid);
        if (k != kinds.end() && k->second == kind) ns += t;
    }
    return ns;
}

// The process's threads and open descriptors.
int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// A few hundred ports need a few thousand descriptors: the workers' and
// the library's sockets, the servers' listeners and connections, the
// cables' ptys.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// TCP segments the machine has sent, from /proc/net/snmp; 0 when unknown.
uint64_t TcpSegmentsSent() {
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
        if (names.rfind("Tcp:", 0) != 0) continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "OutSegs") return std::strtoull(value.c_str(), nullptr, 10);
    }
    return 0;
}

double LoadAverage() {
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

// One run's figures, as the child of --compare reports them.
struct Figures {
    double load = 0;
    int ports = 0;
    uint32_t openMs = 0;
    double engine = 0, workers = 0, library = 0, rig = 0;  // shares of a core
    double libraryRuns = 0, workerRuns = 0;                // per second
    int offCable = 0;
    int threads = 0, fds = 0;  // the tester's (beyond the rig's)
    double segments = 0;       // per second, the whole machine
};

int Measure(int pairs, uint32_t seconds, Figures& f) {
    f.load = LoadAverage();
    RaiseDescriptorLimit();
    if (!InitTestEngine()) return 1;
    PortSettings& s = configuration.portSettings;
    s.blockSize = kBlock;
    s.baudRate = kBaud;
    s.byteSize = 8;
    s.parity = NOPARITY;
    s.stopBits = ONESTOPBIT;
    s.lineFlags = LineFlags::fromWord(0);

    std::vector<std::unique_ptr<rig::NullModemCable>> cables;
    std::vector<std::unique_ptr<demo::DeviceServer>> servers;
    try {
        for (int i = 0; i < pairs; ++i) {
            cables.push_back(std::make_unique<rig::NullModemCable>(rig::Pacing::at(kBaud, 10)));
            for (const std::string& end : {cables.back()->pathA(), cables.back()->pathB()})
                servers.push_back(std::make_unique<demo::DeviceServer>(end, kBaud));
        }
    } catch (const std::exception& e) {
        std::printf("net_ports_bench: the rig could not be made after %zu servers: %s\n",
                    servers.size(), e.what());
        return 1;
    }
    std::set<int> rig;
    for (const auto& [tid, ns] : ThreadCpuNs())
        rig.insert(tid);
    const int rigThreads = CountEntries("/proc/self/task");
    const int rigFds = CountEntries("/proc/self/fd");

    // Open every port at once, as the tester's start does.
    RowStore rows;
    std::vector<std::unique_ptr<PortWorker>> workers;
    const double openCpuFrom = ProcessCpuSeconds();
    const uint32_t openFrom = plat::tickCount();
    for (size_t i = 0; i < servers.size(); ++i) {
        const std::string name = servers[i]->PortName();
        auto w = PortWorker::Create(static_cast<int32_t>(i), name.c_str(), rows,
                                    configuration.portSettings);
        if (!w || !w->Start(name.c_str())) {
            std::printf("net_ports_bench: worker %zu could not start\n", i + 1);
            return 1;
        }
        workers.push_back(std::move(w));
    }
    size_t notOpen = 0;
    for (const auto& w : workers) {
        while (w->notReady.load(std::memory_order_relaxed) != 0 &&
               plat::ticksBetween(openFrom, plat::tickCount()) < 60000)
            plat::sleepMs(1);
        notOpen += w->notReady.load(std::memory_order_relaxed) != 0;
    }
    const uint32_t openMs = plat::ticksBetween(openFrom, plat::tickCount());
    const double openCpu = ProcessCpuSeconds() - openCpuFrom;

    for (const auto& w : workers)
        w->ToggleRun();
    std::vector<uint64_t> deliveredFrom;
    for (const auto& c : cables)
        for (rig::Dir d : {rig::Dir::AtoB, rig::Dir::BtoA})
            deliveredFrom.push_back(c->delivered(d));
    const uint32_t runFrom = plat::tickCount();
    plat::sleepMs(1000);
    const auto cpuA = ThreadCpuNs();
    const auto runsA = ThreadRuns();
    const uint64_t segmentsA = TcpSegmentsSent();
    const double processA = ProcessCpuSeconds();
    const uint32_t a = plat::tickCount();
    plat::sleepMs(seconds * 1000);
    const auto cpuB = ThreadCpuNs();
    const auto runsB = ThreadRuns();
    const uint64_t segmentsB = TcpSegmentsSent();
    const double processB = ProcessCpuSeconds();
    const uint32_t b = plat::tickCount();
    const int threads = CountEntries("/proc/self/task");
    const int fds = CountEntries("/proc/self/fd");
    const std::map<int, Kind> kinds = Kinds(rig);

    const double runSecs = plat::ticksBetween(runFrom, b) / 1000.0;
    int offCable = 0, farthestRow = -1;
    double farthest = 0, slowest = 2 * kLineRate;
    uint32_t errors = 0, drops = 0;
    for (const auto& w : workers) {
        // Port 2i is the server on cable i's end A and reads lane B to A.
        const size_t lane = static_cast<size_t>(w->rowIndex) ^ 1u;
        const size_t cable = lane / 2;
        const uint64_t now = cables[cable]->delivered(lane % 2 ? rig::Dir::BtoA : rig::Dir::AtoB);
        const double delivered = (now - deliveredFrom[lane]) / runSecs;
        const double cps = w->rate.load(std::memory_order_relaxed);
        const double off = delivered > 0 ? cps / delivered - 1 : -1;
        if (off < -0.02 || off > 0.02) ++offCable;
        if (farthestRow < 0 || off * off > farthest * farthest) {
            farthest = off;
            farthestRow = w->rowIndex;
        }
        if (cps < slowest) slowest = cps;
        errors += w->rxErrors.load(std::memory_order_relaxed) +
                  w->txErrors.load(std::memory_order_relaxed);
        drops += w->drops.load(std::memory_order_relaxed);
    }

    SignalQuit();
    plat::sleepMs(100);
    for (const auto& w : workers)
        w->CancelAndPurge();
    plat::sleepMs(100);
    for (auto& w : workers)
        if (!w->JoinThreads(8000)) w.release();  // a thread still uses it: left allocated
    workers.clear();

    const double secs = plat::ticksBetween(a, b) / 1000.0;
    auto share = [&](Kind kind) {
        return (Sum(cpuB, kinds, kind) - Sum(cpuA, kinds, kind)) / 1e9 / secs;
    };
    const double workersCpu = share(Kind::Worker);
    const double libraryCpu = share(Kind::Library);
    const double engine = workersCpu + libraryCpu;
    const double rigCpu = share(Kind::Rig);
    const size_t ports = servers.size();
    auto runs = [&](Kind kind) {
        return (Sum(runsB, kinds, kind) - Sum(runsA, kinds, kind)) / secs;
    };
    f.ports = static_cast<int>(ports);
    f.openMs = openMs;
    f.engine = 100 * engine;
    f.workers = 100 * workersCpu;
    f.library = 100 * libraryCpu;
    f.rig = 100 * rigCpu;
    f.libraryRuns = runs(Kind::Library);
    f.workerRuns = runs(Kind::Worker);
    f.offCable = offCable;
    f.threads = threads - rigThreads;
    f.fds = fds - rigFds;
    f.segments = (segmentsB - segmentsA) / secs;
    std::printf(
        "%zu network ports (%d device-server pairs over paced pty cables, %u bit/s 8N1),"
        " full duplex, %u-byte blocks\n",
        ports, pairs, kBaud, kBlock);
    std::printf("  open: %zu ports in %u ms (%zu not open), %.2f CPU-s, %.2f ms a port\n",
                ports - notOpen, openMs, notOpen, openCpu, 1000.0 * openCpu / ports);
    std::printf(
        "  running, CPU over %.1f s as a share of one core: engine and library %.1f%% (%.3f%% a "
        "port; workers %.1f%%, library threads %.1f%%), device servers and cables %.1f%%, "
        "process %.1f%%\n",
        secs, 100 * engine, 100 * engine / ports, 100 * workersCpu, 100 * libraryCpu, 100 * rigCpu,
        100 * (processB - processA) / secs);
    std::printf(
        "  rows more than 2%% off what their cable delivered: %d (farthest: row %d, %+.2f%%); "
        "slowest row %.0f B/s; errors %u, drops %u\n",
        offCable, farthestRow + 1, 100 * farthest, slowest, errors, drops);
    std::printf("  threads %d (rig %d), descriptors %d (rig %d)\n", threads, rigThreads, fds,
                rigFds);
    std::printf(
        "  put on a processor a second: library threads %.0f, workers %.0f; TCP segments sent a "
        "second (whole machine) %.0f\n",
        f.libraryRuns, f.workerRuns, f.segments);
    return 0;
}

const char* const kFiguresTag = "figures:";

void PrintFigures(const Figures& f) {
    std::printf("%s %f %d %u %f %f %f %f %f %f %d %d %d %f\n", kFiguresTag, f.load, f.ports,
                f.openMs, f.engine, f.workers, f.library, f.rig, f.libraryRuns, f.workerRuns,
                f.offCable, f.threads, f.fds, f.segments);
    std::fflush(stdout);
}

bool ParseFigures(const std::string& line, Figures& f) {
    if (line.rfind(kFiguresTag, 0) != 0) return false;
    return std::sscanf(line.c_str() + std::strlen(kFiguresTag),
                       "%lf %d %u %lf %lf %lf %lf %lf %lf %d %d %d %lf", &f.load, &f.ports,
                       &f.openMs, &f.engine, &f.workers, &f.library, &f.rig, &f.libraryRuns,
                       &f.workerRuns, &f.offCable, &f.threads, &f.fds, &f.segments) == 13;
}

// Runs this program as a child in `folder` (where its qelnet.ini is) for
// one set of ports; its report goes to our output, its figures to `f`.
bool RunChild(const std::string& folder, int pairs, uint32_t seconds, Figures& f) {
    int out[2];
    if (pipe(out) != 0) return false;
    const std::string pairsText = std::to_string(pairs), secondsText = std::to_string(seconds);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        if (chdir(folder.c_str()) != 0) _exit(127);
        execl("/proc/self/exe", "net_ports_bench", "--child", pairsText.c_str(),
              secondsText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    if (child < 0) {
        close(out[0]);
        return false;
    }
    bool got = false;
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (ParseFigures(line, f)) {
            got = true;
        } else {
            std::printf("%s\n", line.c_str());
        }
        line.clear();
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Compare(uint32_t seconds, int rounds) {
    struct Design {
        const char* name;
        const char* setting;
        std::string folder;
    };
    Design designs[] = {{"thread per connection", "IoThreads=-1", ""},
                        {"pool of I/O loops", "IoThreads=0", ""}};
    for (Design& d : designs) {
        char folder[] = "/tmp/net_ports_bench_XXXXXX";
        if (!mkdtemp(folder)) return 1;
        d.folder = folder;
        std::ofstream(d.folder + "/qelnet.ini") << "[General]\n" << d.setting << "\n";
    }
    struct Row {
        const Design* design;
        Figures f;
    };
    std::vector<Row> rows;
    for (int round = 0; round < rounds; ++round) {
        for (int pairs : {16, 64, 127}) {
            for (int i = 0; i < 2; ++i) {
                // The two take turns at going first.
                const Design& d = designs[(i + round) % 2];
                std::printf("-- %s, %d ports (round %d)\n", d.name, 2 * pairs, round + 1);
                Figures f;
                if (!RunChild(d.folder, pairs, seconds, f)) {
                    std::printf("net_ports_bench: the run failed\n");
                    continue;
                }
                rows.push_back({&d, f});
            }
        }
    }
    for (const Design& d : designs) {
        std::remove((d.folder + "/qelnet.ini").c_str());
        rmdir(d.folder.c_str());
    }
    std::printf(
        "\n| ports | library | load | open all | engine and library, %% of a core | workers | "
        "library | library wake-ups/s | threads | descriptors | rows > 2%% off | rig, %% of a core "
        "| TCP segments/s |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int ports : {32, 128, 254}) {
        for (const Row& r : rows) {
            if (r.f.ports != ports) continue;
            std::printf(
                "| %d | %s | %.2f | %u ms | %.1f | %.1f | %.1f | %.0f | %d | %d | %d | %.1f | "
                "%.0f |\n",
                r.f.ports, r.design->name, r.f.load, r.f.openMs, r.f.engine, r.f.workers,
                r.f.library, r.f.libraryRuns, r.f.threads, r.f.fds, r.f.offCable, r.f.rig,
                r.f.segments);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--compare") == 0) {
        const uint32_t seconds = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 20;
        const int rounds = argc > 3 ? std::atoi(argv[3]) : 2;
        if (seconds < 1 || rounds < 1) {
            std::printf("usage: net_ports_bench --compare [seconds [rounds]]\n");
            return 2;
        }
        return Compare(seconds, rounds);
    }
    const bool child = argc > 1 && std::strcmp(argv[1], "--child") == 0;
    const int first = child ? 2 : 1;
    const int pairs = argc > first ? std::atoi(argv[first]) : 127;
    const uint32_t seconds =
        argc > first + 1 ? static_cast<uint32_t>(std::atoi(argv[first + 1])) : 20;
    if (pairs < 1 || seconds < 1) {
        std::printf("usage: net_ports_bench [pairs [seconds]]\n");
        return 2;
    }
    Figures f;
    const int result = Measure(pairs, seconds, f);
    if (result == 0 && child) PrintFigures(f);
    return result;
}
