// The device server on a tty: an end of a pseudo-terminal cable.
#include "tester/demo/device_server.h"

namespace demo {

DeviceServer::DeviceServer(const std::string& linePath, uint32_t baudRate, ModemLink* link,
                           int side)
    : DeviceServer(OpenTtyLine(linePath, baudRate), baudRate, link, side) {}

}  // namespace demo
