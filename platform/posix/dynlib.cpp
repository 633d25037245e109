#include "platform/dynlib.h"

#include <dlfcn.h>
#include <limits.h>
#include <string>
#include <unistd.h>

namespace plat {

namespace {

std::string programFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    path[n] = '\0';
    std::string s(path);
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? std::string() : s.substr(0, slash);
}

}  // namespace

LibraryHandle loadLibrary(const char* name) {
    if (!name || !*name) return nullptr;
    std::string file = std::string("lib") + name + ".so";
    std::string folder = programFolder();
    if (!folder.empty()) {
        std::string beside = folder + "/" + file;
        if (access(beside.c_str(), F_OK) == 0) return loadLibraryPath(beside.c_str());
    }
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

LibraryHandle loadLibraryPath(const char* path) {
    if (!path || !*path) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(LibraryHandle library, const char* symbol) {
    if (!library || !symbol) return nullptr;
    return dlsym(library, symbol);
}

void unloadLibrary(LibraryHandle library) {
    if (library) dlclose(library);
}

}  // namespace plat
