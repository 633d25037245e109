// Load-time initialiser of libqelnet.so: the library reads its settings when
// it is loaded into a process, as the Windows build does from DllMain.
#include "netserial/settings.h"

namespace {

__attribute__((constructor)) void attachLibrary() {
    qelnet::LibraryAttach();
}

}  // namespace
