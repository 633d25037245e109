#include "tester/ui/tui/modal_messages.h"

#include <new>

#include "platform/message_box.h"
#include "platform/win32_types.h"

int ModalMessages::Show(const char* text, const char* caption, unsigned flags) {
    ModalMessage message{caption ? caption : "", text ? text : "", flags};
    std::unique_lock<std::mutex> hold(lock_);
    if (closed_) {
        unshown_.push_back(std::move(message));
        return IDOK;
    }
    queue_.push_back(std::move(message));
    const uint64_t mine = ++queued_;
    changed_.wait(hold, [&] { return closed_ || dismissed_ >= mine; });
    return IDOK;
}

void ModalMessages::Post(const char* text, const char* caption, unsigned flags) {
    ModalMessage message{caption ? caption : "", text ? text : "", flags};
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) {
        unshown_.push_back(std::move(message));
        return;
    }
    queue_.push_back(std::move(message));
    ++queued_;
}

bool ModalMessages::Front(ModalMessage& out) {
    std::lock_guard<std::mutex> hold(lock_);
    if (queue_.empty()) return false;
    out = queue_.front();
    return true;
}

void ModalMessages::Dismiss() {
    std::lock_guard<std::mutex> hold(lock_);
    if (queue_.empty()) return;
    queue_.pop_front();
    ++dismissed_;
    changed_.notify_all();
}

size_t ModalMessages::Waiting() {
    std::lock_guard<std::mutex> hold(lock_);
    return queue_.size();
}

void ModalMessages::Close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    for (ModalMessage& message : queue_)
        unshown_.push_back(std::move(message));
    dismissed_ += queue_.size();
    queue_.clear();
    changed_.notify_all();
}

void ModalMessages::Reopen() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = false;
}

std::vector<ModalMessage> ModalMessages::TakeUnshown() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<ModalMessage> taken;
    taken.swap(unshown_);
    return taken;
}

ModalMessages& TerminalMessages() {
    static ModalMessages* const messages = new ModalMessages;
    return *messages;
}

namespace {

int ShowInTerminal(const char* text, const char* caption, unsigned flags) {
    return TerminalMessages().Show(text, caption, flags);
}

}  // namespace

void RouteBoxesToTerminal(bool on) {
    plat::setMessageBoxHook(on ? ShowInTerminal : nullptr);
}
