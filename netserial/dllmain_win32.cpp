// Windows loader entry of qelnet.dll. It runs under the loader's lock, where
// starting Winsock (which loads other DLLs) and showing a box are unsafe, so
// it only notes where the settings file is: "./qelnet.ini" in the current
// directory at load time, the file the library has always read. The sockets
// layer and the file wait for the first QnCreateFile (LibraryStart).
// Thread attach and detach, and process detach, do nothing (Winsock is not
// shut down: connections of a process that unloads the library without
// closing them stay usable until the process ends).
#include "netserial/settings.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH * 4];
        const DWORD length = GetFullPathNameA(".\\qelnet.ini", sizeof path, path, nullptr);
        qelnet::LibraryAttach(length > 0 && length < sizeof path ? path : ".\\qelnet.ini");
    }
    return TRUE;
}
