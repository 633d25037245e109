#include "tester/demo/demo_ports.h"

#include <exception>
#include <string>

#include "platform/last_error.h"
#include "platform/win32_types.h"
#include "tester/demo/device_line.h"
#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"
#include "tester/demo/memory_cable.h"

namespace demo {

// CreateDirectoryA fails on a name that is there already, so a directory
// it makes is ours alone; the name is tried again with another number.
bool DemoPorts::MakeDirectory(std::string& error) {
    char root[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof root, root);
    if (length == 0 || length > MAX_PATH) {
        error = "cannot find the temporary folder: " + plat::errorText(GetLastError());
        return false;
    }
    DWORD number = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < 100; ++attempt, number = number * 69069u + 1) {
        const std::string path = std::string(root) + "vesktest-demo." + std::to_string(number);
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            directory_ = path;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            error = "cannot make a directory in " + std::string(root) + ": " +
                    plat::errorText(GetLastError());
            return false;
        }
    }
    error = "cannot make a directory of a new name in " + std::string(root);
    return false;
}

std::unique_ptr<DemoPorts> DemoPorts::Create(const Options& options, std::string& error) {
    if (!options.networkPair) {
        error =
            "the demo's ports are network ports of a device server inside the program, reached "
            "through qelnet.dll, which is not beside vesktest.exe";
        return nullptr;
    }
    std::unique_ptr<DemoPorts> ports(new DemoPorts);
    try {
        for (uint32_t i = 0; i < options.pairs; ++i) {
            auto ends = MakeMemoryCable(kDemoBaudRate);
            ports->AddNetworkPair(std::move(ends.first), std::move(ends.second));
        }
    } catch (const std::exception& e) {
        error = std::string("cannot make the demo lines: ") + e.what();
        return nullptr;
    }
    if (!ports->MakeDirectory(error)) return nullptr;
    ports->configPath_ = ports->directory_ + "\\vesktestw.ini";
    if (!ports->WriteConfiguration(error)) return nullptr;
    return ports;
}

}  // namespace demo
