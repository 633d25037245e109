// Windows loader entry of qelnet.dll: the library starts Winsock and reads
// its settings when it is attached to a process. Thread attach and detach,
// and process detach, do nothing (Winsock is not shut down: connections of a
// process that unloads the library without closing them stay usable until
// the process ends).
#include "netserial/settings.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) qelnet::LibraryAttach();
    return TRUE;
}
