// A recursive mutex: its owning thread may take it again (Win32 mutex and
// critical-section semantics). Meets the BasicLockable requirements, so
// std::lock_guard and std::unique_lock work with it.
#pragma once

namespace plat {

class RecursiveMutex {
  public:
    RecursiveMutex();
    ~RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();

    struct Impl;

  private:
    Impl* impl_;
};

}  // namespace plat
