#include "netserial/io_loop.h"

#include "netserial/net_port.h"
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <new>
#include <thread>

namespace qelnet {

namespace {

// How often the loop asks TCP whether the servers still answer (Linux).
constexpr uint32_t kSilenceCheckMs = 1000;
// Sockets taken from the poller per wait at most; more wait for the next.
constexpr int kReadyBatch = 128;
// A loop that serves many connections and has just served some sleeps a
// moment before it looks again, so that one wake-up serves the segments of
// many, as a network card moderates its interrupts: 254 paced ports woke
// it about 4 000 times a second, three segments a time, and its own wake-
// ups were a fifth of its processor time. A loop with fewer connections
// looks again at once, so that a single fast port keeps its round trip.
constexpr int32_t kGatherFrom = 16;
constexpr uint32_t kGatherMs = 2;

// The pool: made at the first open that wants it, all or nothing, and kept
// (with its threads) for the life of the process.
std::mutex poolLock;
IoLoop* pool[kMaxIoLoops];  // under poolLock
int poolSize = 0;           // under poolLock

// poolLock held.
bool makePool(int32_t ioThreads) {
    const int wanted = IoLoopsFor(ioThreads, std::thread::hardware_concurrency());
    IoLoop* made[kMaxIoLoops] = {};
    int started = 0;
    try {
        for (; started < wanted; ++started) {
            made[started] = new (std::nothrow) IoLoop(false);
            if (!made[started] || !made[started]->start()) break;
        }
    } catch (const std::exception&) {
        // A thread's start ran out of memory; its loop has no thread.
    }
    if (started == wanted) {
        std::copy(made, made + wanted, pool);
        poolSize = wanted;
        return true;
    }
    delete made[started];  // its thread never started
    for (int i = 0; i < started; ++i)
        if (made[i]->stop(1000)) delete made[i];  // else its thread still runs: left allocated
    return false;
}

}  // namespace

int IoLoopsFor(int32_t ioThreads, unsigned processors) {
    if (ioThreads >= 1) return std::min<int32_t>(ioThreads, kMaxIoLoops);
    // A serial line is slow beside a processor: one loop keeps up with
    // hundreds of them, and more loops only spread their wake-ups.
    return std::clamp(static_cast<int>(processors / 4), 1, 4);
}

bool AttachPort(NetPort& port, int32_t ioThreads) {
    if (ioThreads < 0) {
        std::unique_ptr<IoLoop> own(new (std::nothrow) IoLoop(true));
        if (!own || !own->start()) return false;
        port.ownLoop = std::move(own);
        port.ownLoop->attach(port);
        return true;
    }
    std::lock_guard<std::mutex> hold(poolLock);
    if (poolSize == 0 && !makePool(ioThreads)) return false;
    IoLoop* loop = *std::min_element(pool, pool + poolSize, [](const IoLoop* a, const IoLoop* b) {
        return a->ports() < b->ports();
    });
    // Counted before the lock is let go, so that the next open sees it.
    loop->attach(port);
    return true;
}

void RequestService(NetPort& port, uint32_t what) {
    if (port.loop) port.loop->request(port, what);
}

bool DetachPort(NetPort& port, uint32_t timeoutMs) {
    if (!port.loop) return true;
    RequestService(port, kServeLeave);
    return port.loop->waitLeft(port, timeoutMs);
}

IoLoop::IoLoop(bool dedicated) : dedicated_(dedicated) {}

IoLoop::~IoLoop() = default;

bool IoLoop::start() {
    return poller_.create() == 0 && thread_.start(threadMain, this);
}

bool IoLoop::stop(uint32_t timeoutMs) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    poller_.wake();
    return thread_.join(timeoutMs);
}

void IoLoop::attach(NetPort& port) {
    port.loop = this;
    port.refs.fetch_add(1, std::memory_order_relaxed);  // the loop's
    portCount_.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> hold(lock_);
        port.attached = true;
    }
    request(port, kServeJoin);
}

void IoLoop::request(NetPort& port, uint32_t what) {
    // Bits already pending: the port is on the list, or the loop has just
    // taken it off and has yet to read them.
    if (port.serviceAsked.fetch_or(what, std::memory_order_acq_rel) != 0) return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!port.attached) return;
        port.nextAsked = nullptr;
        if (askedTail_) {
            askedTail_->nextAsked = &port;
        } else {
            askedHead_ = &port;
        }
        askedTail_ = &port;
        wake = sleeping_;
        sleeping_ = false;
    }
    if (wake) poller_.wake();
}

bool IoLoop::waitLeft(NetPort& port, uint32_t timeoutMs) {
    const uint32_t from = plat::tickCount();
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (!portLeft_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                [&] { return !port.attached; }))
            return false;
    }
    // A dedicated loop drops its reference as its thread ends: once that
    // has happened, the caller's reference is the last but its own.
    return !dedicated_ || thread_.join(plat::ticksLeft(plat::tickCount(), from + timeoutMs));
}

// Nothing in the loop allocates, and every port's work catches what its
// locks could throw; only the loop's own lock failing could end it early,
// which ends the process.
void IoLoop::threadMain(void* arg) {
    IoLoop& loop = *static_cast<IoLoop*>(arg);
    plat::raiseThreadPriority();
    NetPort* last = loop.run();
    plat::restoreThreadPriority();
    // A dedicated loop's port may hold the last reference to the loop
    // itself: nothing of the loop is touched after this.
    if (last) ReleasePort(last);
}

int IoLoop::waitTimeout() const {
    if (!silenceWatched_) return -1;
    return static_cast<int>(plat::ticksLeft(plat::tickCount(), nextSilenceCheck_));
}

NetPort* IoLoop::run() {
    NetPoller::Ready ready[kReadyBatch];
    for (;;) {
        int timeoutMs;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (stop_) return nullptr;
            timeoutMs = askedHead_ ? 0 : waitTimeout();
            sleeping_ = timeoutMs != 0;
        }
        const int n = poller_.wait(ready, kReadyBatch, timeoutMs);
        NetPort* asked;
        {
            std::lock_guard<std::mutex> hold(lock_);
            sleeping_ = false;
            asked = askedHead_;
            askedHead_ = askedTail_ = nullptr;
        }
        // An internal fault: the loop goes on, but not flat out.
        if (n < 0) plat::sleepMs(1);
        bool woke = false;
        // No port leaves while its events are served: leaving is asked.
        for (int i = 0; i < n; ++i)
            serve(*static_cast<NetPort*>(ready[i].token), ready[i].events, 0, woke);
        NetPort* left = nullptr;
        while (asked) {
            NetPort& port = *asked;
            // Read before the bits are taken: from then on a caller may put
            // the port on the next list.
            asked = port.nextAsked;
            const uint32_t what = port.serviceAsked.exchange(0, std::memory_order_acq_rel);
            if (serve(port, 0, what, woke)) left = &port;
        }
        checkSilence(woke);
        // The sleep lets a woken caller run as the yield would.
        if (n > 0 && portCount_.load(std::memory_order_relaxed) >= kGatherFrom) {
            plat::sleepMs(kGatherMs);
        } else if (woke) {
            plat::yieldThread();
        }
        // A dedicated loop ends with its port, whose reference it still holds.
        if (left && dedicated_) return left;
    }
}

bool IoLoop::serve(NetPort& port, unsigned events, uint32_t asked, bool& woke) {
    if (asked & kServeJoin) {
        port.prevServed = nullptr;
        port.nextServed = served_;
        if (served_) served_->prevServed = &port;
        served_ = &port;
        if (!silenceWatched_ && port.socket.silenceWatched()) {
            silenceWatched_ = true;
            nextSilenceCheck_ = plat::tickCount() + kSilenceCheckMs;
        }
    }
    if (asked & kServeLeave) {
        leave(port);
        return true;
    }
    try {
        if (ServeConnection(port, events, asked)) woke = true;
        if (!poller_.watch(port.socket, &port, ConnectionInterest(port))) FailConnection(port);
    } catch (const std::exception&) {
        // Nothing here allocates; a lock the system cannot take is all that
        // could end up here. The connection is then unusable, and saying so
        // ends every call waiting on it.
        try {
            FailConnection(port);
        } catch (const std::exception&) {
            port.connectionLost.store(1, std::memory_order_relaxed);
        }
    }
    return false;
}

void IoLoop::leave(NetPort& port) {
    poller_.watch(port.socket, &port, NetInterest{});
    if (port.prevServed) {
        port.prevServed->nextServed = port.nextServed;
    } else {
        served_ = port.nextServed;
    }
    if (port.nextServed) port.nextServed->prevServed = port.prevServed;
    port.prevServed = port.nextServed = nullptr;
    portCount_.fetch_sub(1, std::memory_order_relaxed);
    bool last = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        port.attached = false;
        // A caller still in an export may have asked for more since the
        // loop took this request: nothing may find the port after it left.
        NetPort* before = nullptr;
        for (NetPort* at = askedHead_; at; before = at, at = at->nextAsked) {
            if (at != &port) continue;
            (before ? before->nextAsked : askedHead_) = port.nextAsked;
            if (askedTail_ == &port) askedTail_ = before;
            break;
        }
        // A pool loop lets go of its reference before the closer can see
        // that the port left, so that the close drops the last one (and
        // with it the socket) unless a call still runs. Under the lock: a
        // closer that gave up waiting may have dropped its own already.
        if (!dedicated_) last = port.refs.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }
    portLeft_.notify_all();
    if (last) FreePort(&port);
}

void IoLoop::checkSilence(bool& woke) {
    if (!silenceWatched_) return;
    const uint32_t now = plat::tickCount();
    if (plat::ticksLeft(now, nextSilenceCheck_) > 0) return;
    nextSilenceCheck_ = now + kSilenceCheckMs;
    bool watched = false;
    for (NetPort* port = served_; port; port = port->nextServed) {
        // Receiving then reports the end of the stream.
        if (port->socket.serverSilent()) serve(*port, kNetClosed | kNetReadable, 0, woke);
        watched = watched || port->socket.silenceWatched();
    }
    silenceWatched_ = watched;
}

}  // namespace qelnet
