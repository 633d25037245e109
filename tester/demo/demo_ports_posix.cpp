#include "tester/demo/demo_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "tester/demo/cable.h"
#include "tester/demo/device_line.h"
#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"

namespace demo {

namespace {

std::string TempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

// Made atomically (mkdtemp), so that no other user can have prepared it.
bool DemoPorts::MakeDirectory(std::string& error) {
    std::string pattern = TempRoot() + "/vesktest-demo.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = "cannot make a directory in " + TempRoot() + ": " + std::strerror(errno);
        return false;
    }
    directory_ = pattern;
    return true;
}

std::unique_ptr<DemoPorts> DemoPorts::Create(const Options& options, std::string& error) {
    std::unique_ptr<DemoPorts> ports(new DemoPorts);
    try {
        for (uint32_t i = 0; i < options.pairs; ++i) {
            auto cable = std::make_shared<NullModemCable>(Pacing::followPort());
            ports->portNames_.push_back(cable->pathA());
            ports->portNames_.push_back(cable->pathB());
            ports->cables_.push_back(cable);
            ++ports->pairs_;
        }
        if (options.networkPair) {
            // The device server's two serial lines are the two ends of a
            // cable of their own, and its two ports the tester's pair.
            auto line = std::make_shared<NullModemCable>(Pacing::followPort());
            ports->cables_.push_back(line);
            ports->AddNetworkPair(OpenTtyLine(line->pathA(), kDemoBaudRate),
                                  OpenTtyLine(line->pathB(), kDemoBaudRate));
        }
    } catch (const std::exception& e) {
        error = std::string("cannot make the demo lines: ") + e.what();
        return nullptr;
    }
    if (!ports->MakeDirectory(error)) return nullptr;
    ports->configPath_ = ports->directory_ + "/vesktestw.ini";
    if (!ports->WriteConfiguration(error)) return nullptr;
    return ports;
}

}  // namespace demo
