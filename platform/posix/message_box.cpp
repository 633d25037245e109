#include "platform/message_box.h"

#include "platform/win32_types.h"

#include <atomic>
#include <cstdio>

namespace plat {

namespace {

int printToStderr(const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}

std::atomic<MessageBoxHook> currentHook{printToStderr};

}  // namespace

int messageBox(const char* text, const char* caption, unsigned flags) {
    return currentHook.load()(text, caption, flags);
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
    return currentHook.exchange(hook ? hook : printToStderr);
}

}  // namespace plat
