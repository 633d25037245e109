// CPU time of the process's threads, so that a benchmark can tell the
// engine's threads from the test rig's: note the threads that exist before
// the engine starts, and count every other one as the engine's.
#pragma once

#include <cstdint>
#include <map>

// Nanoseconds on a CPU so far, per thread id of this process.
std::map<int, uint64_t> ThreadCpuNs();

// Times each thread of this process was put on a CPU so far: its wake-ups,
// in effect (schedstat's count of time slices).
std::map<int, uint64_t> ThreadRuns();

// The process's CPU time (all threads, user and system), in seconds.
double ProcessCpuSeconds();
