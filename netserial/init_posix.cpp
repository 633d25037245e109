// Load-time initialiser of libqelnet.so, the counterpart of the Windows
// build's DllMain: it notes where "./qelnet.ini" is (the current directory
// at load time); the file is read at the first QnCreateFile.
#include "netserial/settings.h"

#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

__attribute__((constructor)) void attachLibrary() {
    char path[PATH_MAX];
    const char kName[] = "/qelnet.ini";
    if (getcwd(path, sizeof path) && std::strlen(path) + sizeof kName <= sizeof path) {
        std::strcat(path, kName);
        qelnet::LibraryAttach(path);
    } else {
        qelnet::LibraryAttach("./qelnet.ini");
    }
}

}  // namespace
