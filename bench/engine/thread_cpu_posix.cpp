#include "thread_cpu.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

std::map<int, uint64_t> ThreadCpuNs() {
    std::map<int, uint64_t> cpu;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return cpu;
    while (dirent* entry = readdir(tasks)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0) continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
        if (FILE* f = std::fopen(path, "r")) {
            unsigned long long ns = 0;
            if (std::fscanf(f, "%llu", &ns) == 1) cpu[tid] = ns;
            std::fclose(f);
        }
    }
    closedir(tasks);
    return cpu;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
