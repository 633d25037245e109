#include "tester/port/network_library.h"

#include <mutex>
#include <new>
#include <string>

#include "platform/dynlib.h"
#include "platform/message_box.h"

LibraryExports libraryExports{};
std::atomic<bool> libraryLoaded{false};
bool libraryWarned = false;
plat::RecursiveMutex* libraryLock = nullptr;

namespace {

// Written only by tests, while no port is being opened.
std::string libraryName = "qelnet";

template <typename Fn>
bool bind(plat::LibraryHandle library, const char* symbol, Fn& slot) {
    slot = reinterpret_cast<Fn>(plat::findSymbol(library, symbol));
    return slot != nullptr;
}

// The nine data exports all or nothing: a library that lacks one is of no
// use, and a slot left null would be called.
bool bindAll(plat::LibraryHandle library, LibraryExports& e) {
    bool ok = bind(library, "QnCreateFile", e.QnCreateFile);
    ok = bind(library, "QnCloseHandle", e.QnCloseHandle) && ok;
    ok = bind(library, "QnReadFile", e.QnReadFile) && ok;
    ok = bind(library, "QnWriteFile", e.QnWriteFile) && ok;
    ok = bind(library, "QnSetCommState", e.QnSetCommState) && ok;
    ok = bind(library, "QnGetCommState", e.QnGetCommState) && ok;
    ok = bind(library, "QnSetCommTimeouts", e.QnSetCommTimeouts) && ok;
    ok = bind(library, "QnPurgeComm", e.QnPurgeComm) && ok;
    ok = bind(library, "QnClearCommError", e.QnClearCommError) && ok;
    // Only the modem-line check uses these; without them it says "not
    // supported" on network ports, and everything else works as before.
    bind(library, "QnEscapeCommFunction", e.QnEscapeCommFunction);
    bind(library, "QnGetCommModemStatus", e.QnGetCommModemStatus);
    // The break check's: without them it says "not supported" on network
    // ports.
    bind(library, "QnSetCommBreak", e.QnSetCommBreak);
    bind(library, "QnClearCommBreak", e.QnClearCommBreak);
    return ok;
}

}  // namespace

bool CreateLibraryLock() {
    if (!libraryLock) libraryLock = new (std::nothrow) plat::RecursiveMutex;
    return libraryLock != nullptr;
}

bool BindNetworkLibrary() {
    if (!libraryLock) return false;
    std::lock_guard<plat::RecursiveMutex> hold(*libraryLock);
    if (libraryLoaded.load(std::memory_order_acquire)) return true;

    plat::LibraryHandle library = plat::loadLibrary(libraryName.c_str());
    LibraryExports found{};
    if (library && bindAll(library, found)) {
        libraryExports = found;
        libraryWarned = false;
        libraryLoaded.store(true, std::memory_order_release);
        return true;
    }
    // A library without all its exports stays loaded but unused: it may have
    // started something at load that unloading would pull away under it.
    if (!libraryWarned) {
        plat::messageBox("Not found qelnet.dll", "DLL Loading", MB_OK | MB_ICONWARNING);
        libraryWarned = true;
    }
    return false;
}

void UseNetworkLibraryForTesting(const char* baseName) {
    CreateLibraryLock();
    std::lock_guard<plat::RecursiveMutex> hold(*libraryLock);
    libraryName = baseName;
    libraryLoaded.store(false, std::memory_order_release);
    libraryExports = LibraryExports{};
    libraryWarned = false;
}
