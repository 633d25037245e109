#include "platform/message_box.h"

#include "platform/win32_types.h"

#include <atomic>

namespace plat {

namespace {

int systemBox(const char* text, const char* caption, unsigned flags) {
    return MessageBoxA(nullptr, text, caption, flags);
}

std::atomic<MessageBoxHook> currentHook{systemBox};

}  // namespace

int messageBox(const char* text, const char* caption, unsigned flags) {
    return currentHook.load()(text, caption, flags);
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
    return currentHook.exchange(hook ? hook : systemBox);
}

}  // namespace plat
