// The demo ports of `vesktest --demo`: virtual null-modem pairs, paced to
// each port's speed so that CPS shows the line rate, and a configuration
// listing them in a fresh temporary directory. Everything stays up until
// the object is destroyed, which the caller does only after the tester's
// shut-down.
//
// On Linux (demo_ports_posix.cpp) the pairs are pseudo-terminals, and
// optionally one more pair goes through an in-process RFC 2217 device
// server on 127.0.0.1. On Windows (demo_ports_win32.cpp), which has no
// pseudo-terminals, every pair is such a network pair, its two ports joined
// by a cable inside the program (memory_cable.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace demo {

class DeviceLine;
class DeviceServer;
class ModemLink;

// The line speed the demo configuration sets: fast enough to watch
// traffic flow, slow enough that the pacing shows in CPS.
constexpr uint32_t kDemoBaudRate = 115200;

class DemoPorts {
  public:
    struct Options {
        uint32_t pairs = 2;
        // The network library can be used: on Linux it adds a pair of
        // network ports ("127.0.0.1:n", through the library): the two ports
        // of the device server, one on each end of a cable of their own,
        // whose modem lines the server joins as a null-modem cable would
        // (ModemLink). On Windows every pair is such a pair, and without
        // the library there is no demo.
        bool networkPair = false;
    };

    // Makes the cables (and the device servers), the directory under the
    // system's temporary folder ($TMPDIR or /tmp; on Windows GetTempPath)
    // and the configuration file. Null with a message in `error` when any
    // of it fails; nothing is left behind then.
    static std::unique_ptr<DemoPorts> Create(const Options& options, std::string& error);

    // Stops the device server and the cables, and removes the directory
    // unless KeepDirectory was called.
    ~DemoPorts();
    DemoPorts(const DemoPorts&) = delete;
    DemoPorts& operator=(const DemoPorts&) = delete;

    const std::string& Directory() const { return directory_; }
    const std::string& ConfigPath() const { return configPath_; }
    // The ports in the configuration's order: pair by pair, the network
    // pair last.
    const std::vector<std::string>& PortNames() const { return portNames_; }
    bool HasNetworkPair() const { return networkPairs_ > 0; }

    void KeepDirectory() { keep_ = true; }

  private:
    DemoPorts() = default;
    // Two ports of the device server on the two ends of one line, their
    // modem lines joined by a ModemLink of their own. Throws.
    void AddNetworkPair(std::unique_ptr<DeviceLine> a, std::unique_ptr<DeviceLine> b);
    // A fresh directory of our own for the configuration (platform).
    bool MakeDirectory(std::string& error);
    bool WriteConfiguration(std::string& error);

    // The pseudo-terminal cables (Linux), each kept as what it is.
    std::vector<std::shared_ptr<void>> cables_;
    std::vector<std::unique_ptr<ModemLink>> links_;
    std::vector<std::unique_ptr<DeviceServer>> servers_;  // after the links: they use them
    uint32_t pairs_ = 0;                                  // pairs of pseudo-terminals
    uint32_t networkPairs_ = 0;
    std::vector<std::string> portNames_;
    std::string directory_;
    std::string configPath_;
    bool keep_ = false;
};

// The configuration file's text for these ports (`pairs` of pseudo-
// terminals, then `networkPairs` through the device server): a comment,
// [Ports] with one name a line, [Serial] with the demo's speed, and [Misc]
// with the computed half-duplex time-out (0).
std::string DemoConfigurationText(const std::vector<std::string>& portNames, uint32_t pairs,
                                  uint32_t networkPairs);

}  // namespace demo
