// The demo ports of `vesktest --demo`: virtual null-modem pairs out of
// pseudo-terminals, paced to each port's speed so that CPS shows the line
// rate, optionally one pair through an in-process RFC 2217 device server on
// 127.0.0.1, and a configuration listing them in a fresh temporary
// directory. Everything stays up until the object is destroyed, which the
// caller does only after the tester's shut-down. Linux only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace demo {

class NullModemCable;
class DeviceServer;
class ModemLink;

// The line speed the demo configuration sets: fast enough to watch
// traffic flow, slow enough that the pacing shows in CPS.
constexpr uint32_t kDemoBaudRate = 115200;

class DemoPorts {
  public:
    struct Options {
        uint32_t pairs = 2;
        // Adds a pair of network ports ("127.0.0.1:n", through the network
        // library): the two ports of the device server, one on each end of
        // a cable of their own, whose modem lines the server joins as a
        // null-modem cable would (ModemLink).
        bool networkPair = false;
    };

    // Makes the cables (and the device server), the directory under
    // $TMPDIR (or /tmp) and the configuration file. Null with a message in
    // `error` when any of it fails; nothing is left behind then.
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
    bool HasNetworkPair() const { return !servers_.empty(); }

    void KeepDirectory() { keep_ = true; }

  private:
    DemoPorts() = default;
    bool WriteConfiguration(std::string& error);

    std::vector<std::unique_ptr<NullModemCable>> cables_;
    std::unique_ptr<ModemLink> link_;
    std::vector<std::unique_ptr<DeviceServer>> servers_;  // after the link: they use it
    std::vector<std::string> portNames_;
    std::string directory_;
    std::string configPath_;
    bool keep_ = false;
};

// The configuration file's text for these ports: a comment, [Ports] with
// one name a line, [Serial] with the demo's speed, and [Misc] with the
// computed half-duplex time-out (0).
std::string DemoConfigurationText(const std::vector<std::string>& portNames, uint32_t pairs,
                                  bool networkPair);

}  // namespace demo
