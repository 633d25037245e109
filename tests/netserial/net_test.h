// What the library's network tests share: a fixture that starts the
// sockets layer and restores the library settings, and a connected port on
// a device server with its opening negotiation already consumed.
#pragma once

#include "netserial/net_port.h"
#include "netserial/qelnet.h"
#include "netserial/settings.h"
#include "tests/netserial/device_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace qtest {

class NetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(qelnet::NetStartup(), 0u);
        qelnet::gLibrarySettings = qelnet::LibrarySettings();
    }
    void TearDown() override { qelnet::gLibrarySettings = qelnet::LibrarySettings(); }

    // Opens a port on `server`, accepts it and waits for the opening
    // negotiation, which is then forgotten. Fails the test on any of it.
    HANDLE openOn(DeviceServer& server) {
        HANDLE h = QnCreateFile(server.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(server.accept());
        EXPECT_TRUE(server.waitRaw(openingSize()));
        server.forget();
        return h;
    }

    size_t openingSize() const {
        const qelnet::LibrarySettings& s = qelnet::gLibrarySettings;
        return s.disableRemoteState == 0 && s.subnegIacDoubling ? 38 : 36;
    }

    static bool setTimeouts(HANDLE h, DWORD interval, DWORD multiplier, DWORD constant,
                            DWORD writeMultiplier = 0, DWORD writeConstant = 0) {
        COMMTIMEOUTS t{interval, multiplier, constant, writeMultiplier, writeConstant};
        return QnSetCommTimeouts(h, &t) != 0;
    }
};

// Milliseconds since construction.
class Stopwatch {
  public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long long ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

// Deterministic test data: every byte value, 0xFF runs included.
inline std::vector<uint8_t> testPattern(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> data(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = (i / 97) % 5 == 0 ? 0xFF : static_cast<uint8_t>(x >> 16);
    }
    return data;
}

// The NetPort behind a live handle, for the tests that look inside. The
// handle's own reference keeps it alive until the test closes the handle.
inline qelnet::NetPort& portOf(HANDLE h) {
    qelnet::PortRef port(h);
    EXPECT_TRUE(port) << "not a live handle";
    return *port;
}

// Waits until the server's suspend has reached the port.
inline bool waitSuspended(HANDLE h, bool suspended = true) {
    Stopwatch clock;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(portOf(h).txLock);
            if (portOf(h).txFlowAllowed != suspended) return true;
        }
        if (clock.ms() > kLong) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace qtest
