// What the metrics cost a session: the refresh thread's processor time for
// one write of the metrics file (the text of every port, a temporary file,
// the rename) at 254 ports with every check known, as a share of one core
// at the interval's beat, and for a refresh tick between writes (nothing
// due). The file goes to a folder on the local disk, as a textfile
// collector's does.
//
// usage: metrics_bench [writes [ports]]   (200 and 254)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tester/report/metrics_file.h"

namespace {

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double WallMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::vector<PortSnapshot> Ports(uint32_t count) {
    std::vector<PortSnapshot> ports(count);
    for (uint32_t i = 0; i < count; ++i) {
        PortSnapshot& p = ports[i];
        p.rowIndex = static_cast<int32_t>(i);
        p.portName = "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS_FT" + std::to_string(100000 + i);
        p.rxRunning = p.txRunning = 1;
        p.bytesRead = p.bytesWritten = 3456000000ull + i;
        p.blocksOk = p.blocksWritten = 3375000 + i;
        p.rxIdleMs = 40;
    }
    return ports;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * (v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t writes = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 200;
    const uint32_t count = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 254;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vesk-metrics-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "vesktest.prom").string();

    std::vector<PortSnapshot> ports = Ports(count);
    std::vector<PortChecks> checks(count);
    for (PortChecks& c : checks)
        for (MetricResult& r : c.of)
            r = MetricResult::Passed;

    std::vector<double> cpu, wall;
    for (uint32_t i = 0; i < writes; ++i) {
        // A fresh file per write: every Sample of a new one is due.
        MetricsFile metrics(path, 1, {"rack3-bench2", "SN-1042"});
        metrics.SetChecks(checks);
        for (PortSnapshot& p : ports)
            p.bytesRead += 11520;
        const double c0 = ThreadCpuMs(), w0 = WallMs();
        metrics.Sample(ports);
        cpu.push_back(ThreadCpuMs() - c0);
        wall.push_back(WallMs() - w0);
        if (metrics.Writes() != 1) {
            std::printf("the write failed: %s\n", metrics.Problem().c_str());
            return 1;
        }
    }
    // A tick between writes: the interval not due.
    MetricsFile metrics(path, 3600, {"rack3-bench2", "SN-1042"});
    metrics.Sample(ports);
    const double c0 = ThreadCpuMs();
    for (uint32_t i = 0; i < 10000; ++i)
        metrics.Sample(ports);
    const double idleTickUs = (ThreadCpuMs() - c0) * 1000 / 10000;

    const double size = static_cast<double>(std::filesystem::file_size(path));
    const double median = Percentile(cpu, 0.5);
    std::printf("metrics of %u ports, every check known: %.0f KB a file, %u writes\n", count,
                size / 1024, writes);
    std::printf("a write: processor %.2f ms median, %.2f ms 99th percentile; wall %.2f ms median\n",
                median, Percentile(cpu, 0.99), Percentile(wall, 0.5));
    std::printf("share of one core: %.3f%% at an interval of 1 s, %.4f%% at 5 s (the default)\n",
                median / 10, median / 50);
    std::printf("a refresh tick with nothing due: %.2f us\n", idleTickUs);
    std::filesystem::remove_all(dir);
    return 0;
}
