#include "tests/support/rfc2217_servers.h"

#include "tests/support/find_program.h"
#include "tests/support/socket_shim.h"

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace rig {

namespace {

constexpr int kListenTimeoutMs = 10000;
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kPyserialExample = "/usr/share/doc/python3-serial/examples/rfc2217_server.py";

bool readable(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

// Runs the example server unchanged, with three things a pty and a test
// need: it listens on 127.0.0.1 on a port the system picks and says which
// on standard output; and a modem-control ioctl that fails for want of
// modem lines (ENOTTY, EINVAL) reads as "line off" instead of an error.
constexpr const char* kPyserialWrapper = R"PY(
import errno, runpy, socket, sys
import serial.serialposix as sp

def tolerant(call):
    def run(*args, **kwargs):
        try:
            return call(*args, **kwargs)
        except OSError as e:
            if e.errno in (errno.ENOTTY, errno.EINVAL):
                return False
            raise
    return run

for name in ('_update_rts_state', '_update_dtr_state'):
    setattr(sp.Serial, name, tolerant(getattr(sp.Serial, name)))
for name in ('cts', 'dsr', 'ri', 'cd'):
    setattr(sp.Serial, name, property(tolerant(getattr(sp.Serial, name).fget)))

bind, listen = socket.socket.bind, socket.socket.listen
socket.socket.bind = lambda self, address: bind(self, ('127.0.0.1', 0))
def announce(self, *args):
    listen(self, *args)
    print('listening', self.getsockname()[1], flush=True)
socket.socket.listen = announce

script, device = sys.argv[1], sys.argv[2]
sys.argv = [script, device]
runpy.run_path(script, run_name='__main__')
)PY";

}  // namespace

std::string PyserialServer::script() {
    const char* forced = std::getenv("PYSERIAL_RFC2217_SERVER");
    const std::string path = forced && *forced ? forced : kPyserialExample;
    if (!readable(path) || !IsExecutable(kPython)) return std::string();
    return path;
}

std::string PyserialServer::missingMessage() {
    return std::string(
               "pyserial's RFC 2217 example server is not installed (apt-get install "
               "python3-serial; ") +
           kPyserialExample + "); skipping the test that runs it";
}

PyserialServer::PyserialServer(std::string device) : device_(std::move(device)) {}

PyserialServer::~PyserialServer() {
    stop();
}

std::string PyserialServer::log() const {
    return dir_.path().empty() ? std::string() : readTextFile(dir_.path() + "/server.log");
}

bool PyserialServer::start(std::string* error) {
    const std::string path = script();
    if (path.empty()) {
        *error = missingMessage();
        return false;
    }
    if (dir_.path().empty()) {
        *error = "no scratch folder";
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const bool started = child_.start({kPython, "-u", "-c", kPyserialWrapper, path, device_}, -1,
                                      pipeFds[1], dir_.path() + "/server.log", error);
    ::close(pipeFds[1]);
    announcements_ = pipeFds[0];
    if (!started) {
        stop();
        return false;
    }
    // "listening PORT" once it listens.
    std::string line;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{announcements_, POLLIN, 0};
        char chunk[64];
        ssize_t n = 0;
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 ||
            (n = ::read(announcements_, chunk, sizeof chunk)) <= 0) {
            *error = "pyserial's server did not listen; it said:\n" + log();
            stop();
            return false;
        }
        line.append(chunk, static_cast<size_t>(n));
    }
    if (std::sscanf(line.c_str(), "listening %hu", &port_) != 1 || port_ == 0) {
        *error = "pyserial's server said '" + line + "'; its log:\n" + log();
        stop();
        return false;
    }
    return true;
}

void PyserialServer::stop() {
    child_.stop();
    if (announcements_ >= 0) ::close(announcements_);
    announcements_ = -1;
    port_ = 0;
}

std::string Sredird::program() {
    return FindProgram("sredird", "SREDIRD");
}

std::string Sredird::missingMessage() {
    return "sredird is not installed (apt-get install sredird); skipping the test that runs it";
}

Sredird::Sredird(std::string device) : device_(std::move(device)) {}

Sredird::~Sredird() {
    stop();
}

std::string Sredird::log() const {
    return dir_.path().empty() ? std::string() : readTextFile(dir_.path() + "/accepter.log");
}

bool Sredird::start(std::string* error) {
    if (program().empty()) {
        *error = missingMessage();
        return false;
    }
    if (dir_.path().empty()) {
        *error = "no scratch folder";
        return false;
    }
    listener_ = sock::listenLoopback(port_);
    if (listener_ == sock::kNoSocket) {
        *error = "listening on 127.0.0.1: " + sock::errorText(sock::lastError());
        return false;
    }
    stopping_ = false;
    accepter_ = std::thread([this] { acceptLoop(); });
    return true;
}

// inetd's part: one sredird per connection, the socket as its standard
// input and output. The children are started from this thread, so they
// are told to end (SIGTERM) when it ends.
void Sredird::acceptLoop() {
    const std::string prog = program();
    const std::string device = device_;
    // LCK..<device name>, as the UUCP convention names it.
    const std::string lock = dir_.path() + "/LCK.." + device.substr(device.rfind('/') + 1);
    while (!stopping_) {
        if (sock::waitReadable(listener_, 50) != sock::Wait::Ready) continue;
        const sock::Handle connection = sock::acceptOne(listener_);
        if (connection == sock::kNoSocket) continue;
        auto child = std::make_unique<ChildProcess>();
        std::string error;
        const int fd = static_cast<int>(connection);
        if (child->start({prog, "5", device, lock}, fd, fd, dir_.path() + "/sredird.log", &error)) {
            ++served_;
            std::lock_guard<std::mutex> hold(lock_);
            children_.push_back(std::move(child));
        } else {
            FILE* f = std::fopen((dir_.path() + "/accepter.log").c_str(), "a");
            if (f) {
                std::fprintf(f, "starting sredird: %s\n", error.c_str());
                std::fclose(f);
            }
        }
        sock::closeSocket(connection);
    }
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& child : children_)
        child->stop();
    children_.clear();
}

void Sredird::stop() {
    stopping_ = true;
    if (accepter_.joinable()) accepter_.join();
    if (listener_ != sock::kNoSocket) sock::closeSocket(listener_);
    listener_ = sock::kNoSocket;
    port_ = 0;
}

}  // namespace rig
