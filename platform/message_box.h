// Owner-less message boxes.
//
// Every box goes through a hook so that a front end (or a test) can present
// it its own way. The default hook shows the system's box on Windows
// (MessageBoxA without an owner) and prints "caption: text" to stderr
// elsewhere. The call returns when the box has been closed.
#pragma once

namespace plat {

// flags are the MessageBoxA flags (MB_OK, MB_ICONWARNING...); the result is
// the button chosen (IDOK...).
using MessageBoxHook = int (*)(const char* text, const char* caption, unsigned flags);

int messageBox(const char* text, const char* caption, unsigned flags);

// Installs a hook (null restores the default) and returns the previous one.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

}  // namespace plat
