// The engine under NullModemCable and LoopbackPlug: one thread that moves
// bytes between pseudo-terminal masters, lane by lane. A lane reads what one
// port wrote (from the master of that port's pty) and writes it to the
// master of the port that receives it; for a loop-back plug both are the
// same master.
//
// Linux only. The thread sleeps in ppoll() on the masters and an eventfd
// that control calls use to wake it; it never polls busily. Unpaced, a lane
// moves whatever is there in one read and one write.
//
// The pump never loses a byte. When the receiving side does not read, its
// pty fills, the lane stops taking from the sender, and the sender's writes
// block in turn, as if hardware flow control were on. Only an injection
// schedule changes what arrives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tester/demo/injection.h"
#include "tester/demo/pacer.h"

namespace demo {

// How a lane paces its bytes. Zeroes are taken from the sending port's
// current settings, read again for every chunk, so a port that switches to
// 9600 baud mid-stream is followed. Mind the pty caveat in line_format.h:
// data bits and parity cannot be read from a pty, only speed and stop bits.
struct Pacing {
    bool enabled = false;
    uint32_t baud = 0;         // 0: the sending port's speed
    uint32_t bitsPerChar = 0;  // 0: from the sending port's settings

    static Pacing off() { return {}; }
    static Pacing followPort() { return {true, 0, 0}; }
    static Pacing at(uint32_t baud, uint32_t bitsPerChar = 0) { return {true, baud, bitsPerChar}; }

    bool operator==(const Pacing& o) const {
        return enabled == o.enabled && baud == o.baud && bitsPerChar == o.bitsPerChar;
    }
    bool operator!=(const Pacing& o) const { return !(*this == o); }
};

class LinePump {
  public:
    struct Ends {
        int from;  // master the sender's bytes come out of
        int to;    // master the receiver's bytes go into
    };

    // Starts the thread. The fds stay the caller's; they must be
    // non-blocking and outlive the pump. Throws std::system_error.
    LinePump(const std::vector<Ends>& lanes, const Pacing& pacing);
    // Stops and joins the thread; bytes in flight stay undelivered.
    ~LinePump();
    LinePump(const LinePump&) = delete;
    LinePump& operator=(const LinePump&) = delete;

    // Each control call returns once the thread has taken it up: after
    // setPaused(lane, true) returns, no further byte moves on that lane.
    void setPacing(size_t lane, const Pacing& pacing);
    void setPaused(size_t lane, bool paused);
    // A line of fewer data bits than 8 drops the high bits of every byte,
    // as a UART does; a pty carries all 8 whatever its settings say.
    void setDataBits(size_t lane, uint32_t dataBits);
    // See InjectionSchedule::add; offsets count the bytes taken on the lane.
    bool inject(size_t lane, const Injection& entry);

    // Bytes read from the sender (the stream offset injections count in),
    // and bytes written to the receiver.
    uint64_t taken(size_t lane) const;
    uint64_t delivered(size_t lane) const;
    // The bytes taken whose share of the stream is all written: once it
    // equals what the sender wrote, delivered() is final.
    uint64_t passed(size_t lane) const;
    // The errno that stopped a lane (a read or write that failed other than
    // for want of data or room); 0 while it works.
    int error(size_t lane) const;

  private:
    struct Lane;

    void run();
    bool sync();
    void take(Lane& lane, std::vector<uint8_t>& buf);
    void flush(Lane& lane);
    template <class Change>
    auto control(Change&& change);
    void wake();

    std::vector<std::unique_ptr<Lane>> lanes_;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::condition_variable acked_;
    uint64_t requests_ = 0;  // under mutex_
    uint64_t seen_ = 0;      // under mutex_: requests the thread has taken up
    bool stop_ = false;      // under mutex_
    std::thread thread_;
};

}  // namespace demo
