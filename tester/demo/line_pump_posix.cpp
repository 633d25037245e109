#include "tester/demo/line_pump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "tester/demo/line_format.h"

namespace demo {

namespace {

// A pty master hands out at most a few KB per read; this is plenty for one
// unpaced step.
constexpr size_t kReadMax = 64 * 1024;

// A paced lane that is nearly due is served when the thread is awake for
// the other lane anyway. The two directions of a cable then fall into step
// and share their wake-ups, which halves the context switches, and those
// are nearly all a paced cable costs (the kernel's tty work, not ours).
// Taking a chunk early does not change the rate: the line time still runs
// from where the last chunk ended.
constexpr int64_t kEarlyNs = Pacer::kDefaultQuantumNs / 2;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct LinePump::Lane {
    Lane(const Ends& e, const Pacing& p) : ends(e), pacing(p), running(p) {}

    const Ends ends;

    // Set by control calls, under mutex_.
    Pacing pacing;
    bool paused = false;
    InjectionSchedule schedule;  // also applied by the thread under mutex_
    uint32_t dataBits = 8;       // read by the thread under mutex_

    // The thread's own.
    Pacing running;
    bool held = false;    // paused, as last taken up
    bool halted = false;  // stopped by an error
    Pacer pacer;
    std::vector<uint8_t> out;  // taken, injected, not yet delivered
    size_t outPos = 0;
    int pollIndex = -1;

    std::atomic<uint64_t> taken{0};
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> passed{0};  // taken, and all that came of it written
    std::atomic<int> error{0};

    bool pending() const { return outPos < out.size(); }

    // The pacing's character time, with zeroes filled from the sender's
    // settings; 0 when the lane runs unpaced (also when the port is at B0).
    int64_t charNs() const {
        if (!running.enabled) return 0;
        uint32_t baud = running.baud;
        uint32_t bits = running.bitsPerChar;
        if (baud == 0 || bits == 0) {
            LineFormat format;
            if (!readLineFormat(ends.from, format)) return 0;
            if (baud == 0) baud = format.baud;
            if (bits == 0) bits = format.bitsPerChar();
        }
        return charTimeNs(baud, bits);
    }
};

LinePump::LinePump(const std::vector<Ends>& lanes, const Pacing& pacing) {
    for (const Ends& ends : lanes)
        lanes_.push_back(std::make_unique<Lane>(ends, pacing));
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        close(wakeFd_);
        throw;
    }
}

LinePump::~LinePump() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake();
    thread_.join();
    close(wakeFd_);
}

void LinePump::wake() {
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost on EAGAIN.
    ssize_t ignored = write(wakeFd_, &one, sizeof one);
    (void)ignored;
}

template <class Change>
auto LinePump::control(Change&& change) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto result = change();
    const uint64_t request = ++requests_;
    wake();
    acked_.wait(lock, [&] { return seen_ >= request; });
    return result;
}

void LinePump::setPacing(size_t lane, const Pacing& pacing) {
    control([&] {
        lanes_.at(lane)->pacing = pacing;
        return true;
    });
}

void LinePump::setPaused(size_t lane, bool paused) {
    control([&] { return lanes_.at(lane)->paused = paused; });
}

void LinePump::setDataBits(size_t lane, uint32_t dataBits) {
    control([&] { return lanes_.at(lane)->dataBits = dataBits; });
}

bool LinePump::inject(size_t lane, const Injection& entry) {
    return control([&] { return lanes_.at(lane)->schedule.add(entry); });
}

uint64_t LinePump::taken(size_t lane) const {
    return lanes_.at(lane)->taken.load(std::memory_order_relaxed);
}

uint64_t LinePump::delivered(size_t lane) const {
    return lanes_.at(lane)->delivered.load(std::memory_order_relaxed);
}

uint64_t LinePump::passed(size_t lane) const {
    return lanes_.at(lane)->passed.load(std::memory_order_acquire);
}

int LinePump::error(size_t lane) const {
    return lanes_.at(lane)->error.load(std::memory_order_relaxed);
}

// Takes up the control calls made since the last round. False once the
// pump is to stop.
bool LinePump::sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return false;
    for (auto& lane : lanes_) {
        if (lane->running != lane->pacing) lane->pacer.reset();
        lane->running = lane->pacing;
        lane->held = lane->paused;
        // Inserts due at the current position go out without waiting for the
        // sender's next byte.
        lane->schedule.apply(nullptr, 0, lane->out);
    }
    seen_ = requests_;
    acked_.notify_all();
    return true;
}

void LinePump::run() {
    std::vector<uint8_t> buf(kReadMax);
    std::vector<pollfd> fds;
    while (sync()) {
        const int64_t now = nowNs();
        int64_t wakeAt = INT64_MAX;
        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        for (auto& lane : lanes_) {
            lane->pollIndex = -1;
            if (lane->halted || lane->held) continue;
            if (lane->pending()) {
                lane->pollIndex = static_cast<int>(fds.size());
                fds.push_back(pollfd{lane->ends.to, POLLOUT, 0});
            } else if (lane->running.enabled && !lane->pacer.ready(now + kEarlyNs)) {
                wakeAt = std::min(wakeAt, lane->pacer.freeAt());
            } else {
                lane->pollIndex = static_cast<int>(fds.size());
                fds.push_back(pollfd{lane->ends.from, POLLIN, 0});
            }
        }

        timespec timeout{};
        timespec* timeoutp = nullptr;
        if (wakeAt != INT64_MAX) {
            const int64_t wait = std::max<int64_t>(0, wakeAt - now);
            timeout.tv_sec = static_cast<time_t>(wait / 1000000000);
            timeout.tv_nsec = static_cast<long>(wait % 1000000000);
            timeoutp = &timeout;
        }
        if (ppoll(fds.data(), fds.size(), timeoutp, nullptr) < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            for (auto& lane : lanes_) {
                lane->halted = true;
                lane->error.store(err, std::memory_order_relaxed);
            }
            continue;  // idle until the owner stops the pump
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            ssize_t ignored = read(wakeFd_, &count, sizeof count);
            (void)ignored;
        }
        for (auto& lane : lanes_) {
            if (lane->pollIndex < 0 || fds[lane->pollIndex].revents == 0) continue;
            if (lane->pending()) {
                flush(*lane);
            } else {
                take(*lane, buf);
            }
        }
    }
}

void LinePump::take(Lane& lane, std::vector<uint8_t>& buf) {
    const int64_t now = nowNs();
    const int64_t charNs = lane.charNs();
    size_t budget = buf.size();
    if (charNs > 0) budget = std::min(budget, lane.pacer.allowance(now, charNs));

    const ssize_t n = read(lane.ends.from, buf.data(), budget);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        // EIO means every slave fd closed; the cable keeps one open, so this
        // is a fault, not a port that went away.
        lane.halted = true;
        lane.error.store(n < 0 ? errno : EIO, std::memory_order_relaxed);
        return;
    }

    lane.out.clear();
    lane.outPos = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lane.schedule.apply(buf.data(), static_cast<size_t>(n), lane.out);
        if (lane.dataBits < 8) {
            const uint8_t mask = static_cast<uint8_t>((1u << lane.dataBits) - 1);
            for (uint8_t& byte : lane.out)
                byte &= mask;
        }
    }
    lane.taken.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    if (charNs > 0) {
        // A dropped character took its time on the wire, and so does an
        // inserted one.
        const size_t chars = std::max(static_cast<size_t>(n), lane.out.size());
        lane.pacer.sent(now, chars, charNs, static_cast<size_t>(n) < budget);
    }
    flush(lane);
}

void LinePump::flush(Lane& lane) {
    while (lane.pending()) {
        const ssize_t n =
            write(lane.ends.to, lane.out.data() + lane.outPos, lane.out.size() - lane.outPos);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return;
            lane.halted = true;
            lane.error.store(errno, std::memory_order_relaxed);
            return;
        }
        lane.outPos += static_cast<size_t>(n);
        lane.delivered.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    }
    lane.out.clear();
    lane.outPos = 0;
    lane.passed.store(lane.taken.load(std::memory_order_relaxed), std::memory_order_release);
}

}  // namespace demo
