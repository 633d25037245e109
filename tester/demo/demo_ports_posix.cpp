#include "tester/demo/demo_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>

#include "tester/demo/cable.h"
#include "tester/demo/device_server.h"

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
            // The device server's serial line is end A of a cable of its
            // own; the tester's second port of the pair is end B.
            ports->cables_.push_back(std::make_unique<NullModemCable>(Pacing::followPort()));
            const NullModemCable& line = *ports->cables_.back();
            ports->server_ = std::make_unique<DeviceServer>(line.pathA(), kDemoBaudRate);
            ports->portNames_.push_back(ports->server_->PortName());
            ports->portNames_.push_back(line.pathB());
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
    const uint32_t pairs = static_cast<uint32_t>(cables_.size()) - (server_ ? 1 : 0);
    std::ofstream file(configPath_, std::ios::binary);
    file << DemoConfigurationText(portNames_, pairs, server_ != nullptr);
    file.close();
    if (!file) {
        error = "cannot write " + configPath_;
        return false;
    }
    return true;
}

DemoPorts::~DemoPorts() {
    server_.reset();
    cables_.clear();
    if (!keep_ && !directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

}  // namespace demo
