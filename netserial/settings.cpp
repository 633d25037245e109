#include "netserial/settings.h"

#include "netserial/io_loop.h"
#include "netserial/net_socket.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/win32_types.h"

#include <cstdint>
#include <cstring>
#include <mutex>

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
    s.serverLostTimeout = readInt("ServerLostTimeout", s.serverLostTimeout, path);
    if (s.serverLostTimeout < 0) s.serverLostTimeout = kDefaultServerLostTimeout;
    if (s.serverLostTimeout > kMaxServerLostTimeout) s.serverLostTimeout = kMaxServerLostTimeout;
    s.ioThreads = readInt("IoThreads", s.ioThreads, path);
    if (s.ioThreads < -1) s.ioThreads = 0;
    if (s.ioThreads > kMaxIoLoops) s.ioThreads = kMaxIoLoops;
    return s;
}

int32_t SocketBufferFor(int32_t configured, int32_t segmentSize) {
    constexpr int32_t kSegments = 2;
    const int32_t least =
        segmentSize > 0 && segmentSize < INT32_MAX / kSegments ? kSegments * segmentSize : 0;
    return configured > least ? configured : least;
}

int32_t PathSegmentSize(int32_t reported, uint32_t remoteAddress) {
    // Linux's loopback MTU is 65536 (a segment of 65483 bytes with
    // timestamps), Windows' 65495.
    constexpr int32_t kLoopbackSegment = 65483;
    if (reported > 0) return reported;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&remoteAddress);
    return bytes[0] == 127 ? kLoopbackSegment : 0;
}

namespace {

// The settings file's path, as LibraryAttach found it.
char settingsFile[4096];

uint32_t (*startSockets)() = NetStartup;

enum class StartState { NotTried, Started, Failed };
std::mutex startLock;
StartState startState = StartState::NotTried;
uint32_t startError = 0;

}  // namespace

void LibraryAttach(const char* settingsPath) {
    settingsFile[0] = '\0';
    if (!settingsPath) return;
    const size_t length = std::strlen(settingsPath);
    if (length < sizeof settingsFile) std::memcpy(settingsFile, settingsPath, length + 1);
}

uint32_t LibraryStart() {
    std::lock_guard<std::mutex> hold(startLock);
    if (startState == StartState::NotTried) {
        startError = startSockets();
        if (startError == 0) {
            // Read before the start counts as done: should reading fail
            // (for want of memory), the next first use reads again.
            if (settingsFile[0]) gLibrarySettings = ReadLibrarySettings(settingsFile);
            startState = StartState::Started;
        } else {
            // Shown once, while the lock holds back the other first callers:
            // they fail with the same error when the box is closed.
            startState = StartState::Failed;
            plat::messageBox("Problem with WinSock2 DLL", "QELNET.DLL", MB_OK);
        }
    }
    return startState == StartState::Started ? 0 : startError;
}

void ResetLibraryStart(uint32_t (*startup)()) {
    std::lock_guard<std::mutex> hold(startLock);
    startState = StartState::NotTried;
    startError = 0;
    startSockets = startup ? startup : NetStartup;
}

}  // namespace qelnet
