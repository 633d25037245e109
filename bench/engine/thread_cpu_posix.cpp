#include "thread_cpu.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// One field of every thread's schedstat (0: time on a CPU, 2: time slices).
std::map<int, uint64_t> SchedStat(int field) {
    std::map<int, uint64_t> values;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return values;
    while (dirent* entry = readdir(tasks)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0) continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
        if (FILE* f = std::fopen(path, "r")) {
            unsigned long long v[3] = {};
            if (std::fscanf(f, "%llu %llu %llu", &v[0], &v[1], &v[2]) == 3) values[tid] = v[field];
            std::fclose(f);
        }
    }
    closedir(tasks);
    return values;
}

}  // namespace

std::map<int, uint64_t> ThreadCpuNs() {
    return SchedStat(0);
}

std::map<int, uint64_t> ThreadRuns() {
    return SchedStat(2);
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
