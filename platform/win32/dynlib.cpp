#include "platform/dynlib.h"

#include "platform/win32_types.h"

namespace plat {

LibraryHandle loadLibrary(const char* name) {
    if (!name || !*name) return nullptr;
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(name));
}

LibraryHandle loadLibraryPath(const char* path) {
    return loadLibrary(path);
}

void* findSymbol(LibraryHandle library, const char* symbol) {
    if (!library || !symbol) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), symbol));
}

void unloadLibrary(LibraryHandle library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace plat
