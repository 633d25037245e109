#include "tester/demo/demo_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>

#include "tester/demo/cable.h"
#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"

namespace demo {

namespace {

std::string TempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// A new directory of our own, made atomically (mkdtemp), so that no other
// user can have prepared it.
bool MakeDirectory(std::string& path, std::string& error) {
    std::string pattern = TempRoot() + "/vesktest-demo.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = "cannot make a directory in " + TempRoot() + ": " + std::strerror(errno);
        return false;
    }
    path = pattern;
    return true;
}

}  // namespace

std::string DemoConfigurationText(const std::vector<std::string>& portNames, uint32_t pairs,
                                  bool networkPair) {
    std::string text = "; Demo ports of vesktest --demo: " + std::to_string(pairs) +
                       " null-modem pair(s) of pseudo-terminals (ports 1 and 2, 3 and 4...)";
    text +=
        networkPair ? ", then one pair through an RFC 2217 device server on 127.0.0.1.\n" : ".\n";
    text += "; Every line is paced to the speed its sending port is set to.\n";
    text += "[Ports]\n";
    for (const std::string& name : portNames)
        text += name + "\n";
    text += "[Serial]\nBaudRate=" + std::to_string(kDemoBaudRate) + "\n";
    // The computed reply time-out (three block times) instead of the
    // built-in 1 ms, so that half-duplex pairs work out of the box.
    text += "[Misc]\nHDTimeout=0\n";
    return text;
}

std::unique_ptr<DemoPorts> DemoPorts::Create(const Options& options, std::string& error) {
    std::unique_ptr<DemoPorts> ports(new DemoPorts);
    try {
        for (uint32_t i = 0; i < options.pairs; ++i) {
            ports->cables_.push_back(std::make_unique<NullModemCable>(Pacing::followPort()));
            ports->portNames_.push_back(ports->cables_.back()->pathA());
            ports->portNames_.push_back(ports->cables_.back()->pathB());
        }
        if (options.networkPair) {
            // The device server's two serial lines are the two ends of a
            // cable of their own, and its two ports the tester's pair.
            ports->cables_.push_back(std::make_unique<NullModemCable>(Pacing::followPort()));
            const NullModemCable& line = *ports->cables_.back();
            ports->link_ = std::make_unique<ModemLink>();
            const std::string ends[2] = {line.pathA(), line.pathB()};
            for (int side = 0; side < 2; ++side) {
                ports->servers_.push_back(std::make_unique<DeviceServer>(ends[side], kDemoBaudRate,
                                                                         ports->link_.get(), side));
                ports->portNames_.push_back(ports->servers_.back()->PortName());
            }
        }
    } catch (const std::exception& e) {
        error = std::string("cannot make the demo lines: ") + e.what();
        return nullptr;
    }
    if (!MakeDirectory(ports->directory_, error)) return nullptr;
    ports->configPath_ = ports->directory_ + "/vesktestw.ini";
    if (!ports->WriteConfiguration(error)) return nullptr;
    return ports;
}

bool DemoPorts::WriteConfiguration(std::string& error) {
    const uint32_t pairs = static_cast<uint32_t>(cables_.size()) - (HasNetworkPair() ? 1 : 0);
    std::ofstream file(configPath_, std::ios::binary);
    file << DemoConfigurationText(portNames_, pairs, HasNetworkPair());
    file.close();
    if (!file) {
        error = "cannot write " + configPath_;
        return false;
    }
    return true;
}

DemoPorts::~DemoPorts() {
    servers_.clear();
    link_.reset();
    cables_.clear();
    if (!keep_ && !directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

}  // namespace demo
