#include "netserial/settings.h"

#include "netserial/net_socket.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/win32_types.h"

#include <cstdlib>

namespace qelnet {

LibrarySettings gLibrarySettings;

namespace {

constexpr char kSection[] = "General";

int32_t readInt(const char* key, int32_t defaultValue, const char* path) {
    return static_cast<int32_t>(plat::profileReadInt(kSection, key, defaultValue, path));
}

}  // namespace

LibrarySettings ReadLibrarySettings(const char* path) {
    LibrarySettings s;
    s.sendBufSize = readInt("SendBufSize", s.sendBufSize, path);
    s.recvBufSize = readInt("RecvBufSize", s.recvBufSize, path);
    s.tcpNoDelay = readInt("TcpNoDelay", s.tcpNoDelay, path) != 0 ? 1 : 0;
    s.writeBlockSize = readInt("WriteBlockSize", s.writeBlockSize, path);
    if (s.writeBlockSize > kMaxWriteBlockSize) s.writeBlockSize = kMaxWriteBlockSize;
    if (s.writeBlockSize < 1) s.writeBlockSize = 1024;
    s.disableRemoteState = readInt("DisableRemoteState", s.disableRemoteState, path) != 0 ? 1 : 0;
    s.subnegIacDoubling = readInt("SubnegIacDoubling", s.subnegIacDoubling, path) != 0 ? 1 : 0;
    return s;
}

void LibraryAttach() {
    if (!NetStartup()) {
        plat::messageBox("Problem with WinSock2 DLL", "QELNET.DLL", MB_OK);
        std::exit(1);
    }
    gLibrarySettings = ReadLibrarySettings("./qelnet.ini");
}

}  // namespace qelnet
