// A fault trigger for allocation: the Nth allocation a thread makes through
// operator new (any form: plain, array, nothrow) fails, so that the failure
// paths of the code under test run for real. Linking this rig replaces the
// program's global operator new and delete; link it only into a test
// program of its own.
//
//   rig::AllocTrigger::arm(n);      // this thread's nth allocation from now fails
//   ... code under test ...
//   bool hit = rig::AllocTrigger::disarm();  // did it fail one?
//
// Walk n = 1, 2, ... until disarm() says the trigger was not reached: then
// every allocation of the path has failed once. Only the arming thread's
// allocations count and fail; other threads allocate as usual.
// live() counts blocks allocated and not yet freed, over all threads, so
// that a test can see a failure path leak.
#pragma once

#include <cstdint>

namespace rig {

class AllocTrigger {
  public:
    static void arm(uint32_t nth);
    // Stops failing allocations; true when one was failed since arm().
    static bool disarm();
    // Allocations the arming thread made since arm(), the failed one included.
    static uint32_t counted();
    static long long live();
};

}  // namespace rig
