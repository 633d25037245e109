#include "tester/port/port_guard.h"

#include <chrono>

void PortGuard::opened(intptr_t handle) {
    std::lock_guard<std::mutex> hold(lock_);
    handle_ = handle;
    open_ = true;
    closing_ = false;
}

bool PortGuard::enter(intptr_t handle) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_ || closing_ || handle != handle_) return false;
    ++inside_;
    return true;
}

void PortGuard::leave() {
    std::lock_guard<std::mutex> hold(lock_);
    if (--inside_ == 0) idle_.notify_all();
}

bool PortGuard::beginClose(intptr_t handle) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_ || closing_ || handle != handle_) return false;
    closing_ = true;
    return true;
}

bool PortGuard::waitIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    return idle_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                          [this] { return inside_ == 0; });
}

void PortGuard::closed() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = false;
    closing_ = false;
    handle_ = -1;
}

bool PortGuard::closing() const {
    std::lock_guard<std::mutex> hold(lock_);
    return closing_;
}
