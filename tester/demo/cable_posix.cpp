#include "tester/demo/cable.h"

#include <cerrno>
#include <climits>
#include <system_error>

#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace demo {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void setCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0) fail("fcntl(FD_CLOEXEC)");
}

}  // namespace

Pty::Pty() {
    // openpty cannot open with O_CLOEXEC; a program spawned by another thread
    // in this instant could inherit the fds, which is why the ser2net
    // launcher also closes every fd it does not pass on.
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) fail("openpty");
    try {
        setCloseOnExec(master_);
        setCloseOnExec(slave_);
        const int flags = fcntl(master_, F_GETFL);
        if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) < 0) fail("fcntl(O_NONBLOCK)");

        char name[PATH_MAX];
        if (ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
        path_ = name;

        // Raw before any port opens the slave: a fresh pty echoes, maps CR
        // and NL and takes ^S/^Q as flow control, and would do so to the
        // first bytes the far end sends.
        termios t{};
        if (tcgetattr(slave_, &t) != 0) fail("tcgetattr");
        cfmakeraw(&t);
        t.c_cflag &= ~CSTOPB;
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (tcsetattr(slave_, TCSANOW, &t) != 0) fail("tcsetattr");
    } catch (...) {
        close(master_);
        close(slave_);
        throw;
    }
}

Pty::~Pty() {
    close(master_);
    close(slave_);
}

NullModemCable::NullModemCable(const Pacing& pacing)
    : pump_(std::make_unique<LinePump>(
          std::vector<LinePump::Ends>{{a_.master(), b_.master()}, {b_.master(), a_.master()}},
          pacing)) {}

// The pump is declared after the ptys and so stops before they close.
NullModemCable::~NullModemCable() = default;

void NullModemCable::setPacing(const Pacing& pacing) {
    pump_->setPacing(lane(Dir::AtoB), pacing);
    pump_->setPacing(lane(Dir::BtoA), pacing);
}

void NullModemCable::setDataBits(uint32_t dataBits) {
    pump_->setDataBits(lane(Dir::AtoB), dataBits);
    pump_->setDataBits(lane(Dir::BtoA), dataBits);
}

void NullModemCable::setPacing(Dir dir, const Pacing& pacing) {
    pump_->setPacing(lane(dir), pacing);
}

bool NullModemCable::inject(Dir dir, const Injection& entry) {
    return pump_->inject(lane(dir), entry);
}

void NullModemCable::pause() {
    pump_->setPaused(lane(Dir::AtoB), true);
    pump_->setPaused(lane(Dir::BtoA), true);
}

void NullModemCable::pause(Dir dir) {
    pump_->setPaused(lane(dir), true);
}

void NullModemCable::resume() {
    pump_->setPaused(lane(Dir::AtoB), false);
    pump_->setPaused(lane(Dir::BtoA), false);
}

void NullModemCable::resume(Dir dir) {
    pump_->setPaused(lane(dir), false);
}

LoopbackPlug::LoopbackPlug(const Pacing& pacing)
    : pump_(std::make_unique<LinePump>(std::vector<LinePump::Ends>{{pty_.master(), pty_.master()}},
                                       pacing)) {}

LoopbackPlug::~LoopbackPlug() = default;

}  // namespace demo
