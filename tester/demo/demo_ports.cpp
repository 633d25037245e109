#include "tester/demo/demo_ports.h"

#include <filesystem>
#include <fstream>

#include "tester/demo/device_line.h"
#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"

namespace demo {

std::string DemoConfigurationText(const std::vector<std::string>& portNames, uint32_t pairs,
                                  uint32_t networkPairs) {
    std::string text = "; Demo ports of vesktest --demo: ";
    if (pairs > 0) {
        text += std::to_string(pairs) +
                " null-modem pair(s) of pseudo-terminals (ports 1 and 2, 3 and 4...)";
        text += networkPairs > 0
                    ? ", then one pair through an RFC 2217 device server on 127.0.0.1.\n"
                    : ".\n";
    } else {
        text += std::to_string(networkPairs) +
                " null-modem pair(s) through an RFC 2217 device server on 127.0.0.1 (ports 1 "
                "and 2, 3 and 4...).\n";
    }
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

void DemoPorts::AddNetworkPair(std::unique_ptr<DeviceLine> a, std::unique_ptr<DeviceLine> b) {
    links_.push_back(std::make_unique<ModemLink>());
    std::unique_ptr<DeviceLine> ends[2] = {std::move(a), std::move(b)};
    for (int side = 0; side < 2; ++side) {
        servers_.push_back(std::make_unique<DeviceServer>(std::move(ends[side]), kDemoBaudRate,
                                                          links_.back().get(), side));
        portNames_.push_back(servers_.back()->PortName());
    }
    ++networkPairs_;
}

bool DemoPorts::WriteConfiguration(std::string& error) {
    std::ofstream file(configPath_, std::ios::binary);
    file << DemoConfigurationText(portNames_, pairs_, networkPairs_);
    file.close();
    if (!file) {
        error = "cannot write " + configPath_;
        return false;
    }
    return true;
}

DemoPorts::~DemoPorts() {
    servers_.clear();
    links_.clear();
    cables_.clear();
    if (!keep_ && !directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

}  // namespace demo
