// The device server of a build without the network library: the demo then
// offers no network pair, and asking for one fails here.
#include <cerrno>
#include <system_error>

#include "tester/demo/device_server.h"

namespace demo {

bool DeviceServerAvailable() {
    return false;
}

DeviceServer::DeviceServer(std::unique_ptr<DeviceLine>, uint32_t, ModemLink*, int) {
    throw std::system_error(ENOTSUP, std::generic_category(),
                            "this build has no network library for a device server");
}

DeviceServer::DeviceServer(const std::string&, uint32_t baudRate, ModemLink* link, int side)
    : DeviceServer(std::unique_ptr<DeviceLine>(), baudRate, link, side) {}

DeviceServer::~DeviceServer() = default;

std::string DeviceServer::PortName() const {
    return std::string();
}

void DeviceServer::SetFaultsForTesting(const LineFaults&) {}

void DeviceServer::Run() {}

}  // namespace demo
