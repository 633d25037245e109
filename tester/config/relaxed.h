// A 32-bit value that one thread writes and others read without a lock.
//
// The settings record and the workers' counters are plain words that the
// window's thread, the port threads and the refresh timer share. Relaxed
// atomics give exactly the machine code of a plain word on x86 and make the
// sharing defined behaviour (ThreadSanitizer checks it). Unlike std::atomic
// the wrapper copies (as a load and a store), so records made of such fields
// stay copyable: the settings dialog edits a copy and assigns it back.
//
// Only a whole value is atomic: a reader may combine fields written at
// slightly different moments, which the design accepts.
#pragma once

#include <atomic>
#include <type_traits>

template <typename T>
class Relaxed {
    static_assert(std::is_trivially_copyable<T>::value && sizeof(T) <= 4,
                  "one machine word, copied whole");

  public:
    constexpr Relaxed() : value_() {}
    // cppcheck-suppress passedByValue ; one machine word
    constexpr Relaxed(T v) : value_(v) {}  // NOLINT: converts like the plain word it replaces
    Relaxed(const Relaxed& other) : value_(other.load()) {}
    Relaxed& operator=(const Relaxed& other) {
        store(other.load());
        return *this;
    }
    // cppcheck-suppress passedByValue ; one machine word
    Relaxed& operator=(T v) {
        store(v);
        return *this;
    }
    operator T() const { return load(); }  // NOLINT

    T load() const { return value_.load(std::memory_order_relaxed); }
    void store(T v) { value_.store(v, std::memory_order_relaxed); }

  private:
    std::atomic<T> value_;
};
