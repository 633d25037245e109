// The library against two more real RFC 2217 servers, each serving one end
// of a pseudo-terminal null-modem cable on 127.0.0.1: pyserial's example
// server and sredird (what each needs is in tests/support/rfc2217_servers.h).
// Through each: the line speed reaches the served pty, and blocks go both
// ways at once, with runs of 255, unchanged. Linux only.
#include "tests/netserial/duplex_transfer.h"
#include "tests/support/cable.h"
#include "tests/support/rfc2217_servers.h"

using namespace qtest;

namespace {

HANDLE openPort(uint16_t port) {
    return QnCreateFile(("127.0.0.1:" + std::to_string(port)).c_str(), GENERIC_READ | GENERIC_WRITE,
                        0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class RealServer : public NetTest {};

}  // namespace

TEST_F(RealServer, PyserialServesTheLineAndBlocksBothWays) {
    if (rig::PyserialServer::script().empty())
        GTEST_SKIP() << rig::PyserialServer::missingMessage();
    rig::NullModemCable cable;
    rig::PyserialServer server(cable.pathA());
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    FarEnd far(cable.pathB());
    ASSERT_TRUE(far.opened());
    HANDLE h = openPort(server.port());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(setUpLine(h, 57600));
    EXPECT_TRUE(waitTtySpeed(cable.pathA(), B57600)) << "the pty has " << ttySpeed(cable.pathA());
    ExpectBothWaysIntact(h, far, 512 * 1024, 4096, 60000);
    EXPECT_TRUE(QnCloseHandle(h));
    EXPECT_TRUE(far.read(1, 200).empty()) << "bytes after the transfer";
    if (HasFailure()) std::printf("pyserial's server said:\n%s\n", server.log().c_str());
}

// sredird moves device data with a buffer that overflows when an unpaced
// device fills it with bytes that double when escaped (255): on an
// unpaced pty it drops kilobytes of such data. The line runs at 115200, as
// a real UART would, where it keeps up. A paced line backs up too while
// the library holds sredird off (FLOWCONTROL-SUSPEND, sent when the
// reader falls 8 KB behind, as a loaded machine makes it), and the backlog
// it reads after FLOWCONTROL-RESUME overflows its buffer the same way
// (reproduced by a reader held back 8 s: kilobytes lost in 64). So the
// device sends no 255 here; the 255s the client sends are still escaped
// on the way in, and the library's undoing of escapes in device data is
// proven against ser2net and pyserial's server.
TEST_F(RealServer, SredirdServesThePacedLineAndBlocksBothWays) {
    if (rig::Sredird::program().empty()) GTEST_SKIP() << rig::Sredird::missingMessage();
    // sredird counts the value bytes of a subnegotiation: 255 goes single.
    qelnet::gLibrarySettings.subnegIacDoubling = 0;
    rig::NullModemCable cable(rig::Pacing::at(115200));
    rig::Sredird server(cable.pathA());
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    FarEnd far(cable.pathB());
    ASSERT_TRUE(far.opened());
    HANDLE h = openPort(server.port());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(setUpLine(h, 57600));
    EXPECT_TRUE(waitTtySpeed(cable.pathA(), B57600)) << "the pty has " << ttySpeed(cable.pathA());
    ExpectBothWaysIntact(h, far, 64 * 1024, 4096, 60000, false);
    EXPECT_TRUE(QnCloseHandle(h));
    EXPECT_EQ(server.served(), 1);
    if (HasFailure()) std::printf("the accepter said:\n%s\n", server.log().c_str());
}
