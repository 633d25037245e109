// The built library itself (qelnet.dll or libqelnet.so), loaded at run time
// by name the way the tester binds it: it reads the qelnet.ini of the folder
// that was current when it was loaded, once, exports the nineteen functions
// by their plain names, and works through them against the device server.
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

// A folder of the test's own holding a settings file; the current
// directory goes back to where it was at the end.
class LibraryFolder {
  public:
    LibraryFolder(const std::string& name, const std::string& ini)
        : home_(fs::current_path()), dir_(home_ / name) {
        fs::create_directories(dir_);
        write(ini);
    }
    ~LibraryFolder() {
        fs::current_path(home_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    void enter() const { fs::current_path(dir_); }
    void write(const std::string& ini) const { std::ofstream(dir_ / "qelnet.ini") << ini; }

  private:
    fs::path home_;
    fs::path dir_;
};

// The mask bytes of the opening negotiation on a fresh connection: 0 with
// DisableRemoteState=1, 255 (doubled) without.
std::vector<uint8_t> openingMasks(QnCreateFileFn create, QnCloseHandleFn close) {
    DeviceServer server;
    HANDLE h = create(server.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h == INVALID_HANDLE_VALUE) return {};
    EXPECT_TRUE(server.accept());
    EXPECT_TRUE(server.waitRaw(36));
    const std::vector<uint8_t> raw = server.raw();
    close(h);
    if (raw.size() < 21) return {};
    return {raw[13], raw[20]};
}

}  // namespace

TEST(QelnetLibrary, LoadsReadsItsSettingsAndServesTheBoundExports) {
    // The masks of the opening negotiation show which file was read. The
    // library is loaded in one folder and first used in another: the
    // settings are those of the folder it was loaded in, read once.
    LibraryFolder loadedIn("library_load_test", "[General]\nDisableRemoteState=1\n");
    LibraryFolder usedIn("library_use_test", "[General]\nDisableRemoteState=0\n");
    loadedIn.enter();
    plat::LibraryHandle lib = plat::loadLibrary("qelnet");
    ASSERT_NE(lib, nullptr);
    usedIn.enter();
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
    EXPECT_EQ(openingMasks(create, close), (std::vector<uint8_t>{0, 0}));
    loadedIn.write("[General]\nDisableRemoteState=0\n");
    EXPECT_EQ(openingMasks(create, close), (std::vector<uint8_t>{0, 0})) << "read again";

    DeviceServer server;
    HANDLE h = create(server.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(server.waitRaw(36));
    const std::vector<uint8_t> opening = server.raw();
    EXPECT_EQ(opening.size(), 36u);
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
