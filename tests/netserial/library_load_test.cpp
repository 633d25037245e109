// The built library itself (qelnet.dll or libqelnet.so), loaded at run time
// by name the way the tester binds it: it reads ./qelnet.ini once when it is
// loaded, exports the nineteen functions by their plain names, and works
// through them against the device server.
#include "netserial/qelnet.h"
#include "platform/dynlib.h"
#include "tests/netserial/device_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace qtest;
namespace fs = std::filesystem;

namespace {

const char* const kExports[] = {
    "QnCreateFile",     "QnCloseHandle",        "QnReadFile",           "QnWriteFile",
    "QnSetCommState",   "QnGetCommState",       "QnSetCommTimeouts",    "QnGetCommTimeouts",
    "QnPurgeComm",      "QnClearCommError",     "QnSetCommMask",        "QnGetCommMask",
    "QnWaitCommEvent",  "QnGetCommModemStatus", "QnEscapeCommFunction", "QnSetCommBreak",
    "QnClearCommBreak", "QnSetupComm",          "QnSetCommConfig"};

// Runs the test in a folder of its own holding the library's settings file,
// and goes back afterwards.
class LibraryFolder {
  public:
    explicit LibraryFolder(const std::string& ini)
        : home_(fs::current_path()), dir_(home_ / "library_load_test") {
        fs::create_directories(dir_);
        std::ofstream(dir_ / "qelnet.ini") << ini;
        fs::current_path(dir_);
    }
    ~LibraryFolder() {
        fs::current_path(home_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

  private:
    fs::path home_;
    fs::path dir_;
};

}  // namespace

TEST(QelnetLibrary, LoadsReadsItsSettingsAndServesTheBoundExports) {
    // The masks of the opening negotiation show that the file was read.
    LibraryFolder folder("[General]\nDisableRemoteState=1\nWriteBlockSize=100\n");
    plat::LibraryHandle lib = plat::loadLibrary("qelnet");
    ASSERT_NE(lib, nullptr);
    for (const char* name : kExports)
        EXPECT_NE(plat::findSymbol(lib, name), nullptr) << name;

    auto create = reinterpret_cast<QnCreateFileFn>(plat::findSymbol(lib, "QnCreateFile"));
    auto close = reinterpret_cast<QnCloseHandleFn>(plat::findSymbol(lib, "QnCloseHandle"));
    auto read = reinterpret_cast<QnReadFileFn>(plat::findSymbol(lib, "QnReadFile"));
    auto write = reinterpret_cast<QnWriteFileFn>(plat::findSymbol(lib, "QnWriteFile"));
    auto setState = reinterpret_cast<QnSetCommStateFn>(plat::findSymbol(lib, "QnSetCommState"));
    auto getState = reinterpret_cast<QnGetCommStateFn>(plat::findSymbol(lib, "QnGetCommState"));
    auto setTimeouts =
        reinterpret_cast<QnSetCommTimeoutsFn>(plat::findSymbol(lib, "QnSetCommTimeouts"));
    auto purge = reinterpret_cast<QnPurgeCommFn>(plat::findSymbol(lib, "QnPurgeComm"));
    auto clearError =
        reinterpret_cast<QnClearCommErrorFn>(plat::findSymbol(lib, "QnClearCommError"));
    ASSERT_TRUE(create && close && read && write && setState && getState && setTimeouts && purge &&
                clearError);

    DeviceServer server;
    HANDLE h = create(server.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(server.waitRaw(33));
    const std::vector<uint8_t> opening = server.raw();
    EXPECT_EQ(opening.size(), 33u);
    EXPECT_EQ(opening[13], 0);
    EXPECT_EQ(opening[20], 0);
    server.forget();

    DCB dcb{};
    ASSERT_TRUE(getState(h, &dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_TRUE(setState(h, &dcb));
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 100, 0, 0};
    ASSERT_TRUE(setTimeouts(h, &t));
    std::vector<uint8_t> block(1000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    DWORD count = 0;
    ASSERT_TRUE(write(h, block.data(), static_cast<DWORD>(block.size()), &count, nullptr));
    EXPECT_EQ(count, block.size());
    ASSERT_TRUE(server.waitPayload(block.size()));
    EXPECT_EQ(server.payload(), block);
    ASSERT_TRUE(server.waitCommands(7));
    EXPECT_EQ(server.commands()[0], Command(1, {0, 0, 0x4B, 0}));

    ASSERT_TRUE(server.sendPayload({1, 255, 3}));
    std::vector<uint8_t> got;
    while (got.size() < 3) {
        uint8_t buffer[16];
        ASSERT_TRUE(read(h, buffer, sizeof buffer, &count, nullptr));
        got.insert(got.end(), buffer, buffer + count);
    }
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 255, 3}));
    DWORD errors = 1;
    COMSTAT stat{};
    ASSERT_TRUE(clearError(h, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(purge(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_TRUE(close(h));
    EXPECT_TRUE(server.waitClientClosed());
}
