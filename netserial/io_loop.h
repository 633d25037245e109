// The I/O loops: the threads that move bytes between the connections'
// sockets and their NetPorts. One loop serves many connections: it sleeps
// in one wait on all their sockets (NetPoller: epoll, WSAPoll), and one
// wake-up serves every socket that has data, so a few hundred paced ports
// cost a handful of wake-ups where a thread per connection cost one per
// segment and connection.
//
// The loops are a small pool made at the first open and kept for the life
// of the process, sized by the machine (IoThreads in qelnet.ini, 0: one
// loop per four processors, one to four), never by the number of ports; a
// new connection goes to the loop that serves the fewest. IoThreads -1
// gives every connection a loop of its own, whose thread ends with it: the
// thread-per-connection design, kept for comparison.
//
// What a loop does for a connection is the connection thread's work of
// before (connection.cpp: ServeConnection), one connection at a time, on
// the loop's thread alone: so the scanner, rxPaused and rxEnd still have one
// writer, and a connection's steps never run on two threads at once.
//
// A loop with many connections that has just served some waits 2 ms before
// it looks again (io_loop.cpp), so that one wake-up serves many segments;
// one with a few looks again at once.
//
// Callers ask a loop for work through RequestService: a writer whose socket
// is full, a command queued, a read that made room in a full ring, a close.
// The request sets bits in the port and puts it on the loop's list once;
// the loop is woken only when it sleeps.
//
// Locks:
// - IoLoop::lock_ guards the loop's request list (askedHead_, askedTail_
//   and every port's nextAsked), every port's `attached`, sleeping_ and
//   stop_. It is held for a few pointer moves, never across a wait or a
//   socket call. It is the innermost lock: a caller may hold its port's
//   rxLock or txLock when it asks for service, and nothing is taken while
//   lock_ is held.
// - The pool's lock (io_loop.cpp) guards making the pool and choosing a
//   loop for a new connection.
// - A port's serviceAsked is an atomic word, not a lock.
// The loop's thread alone touches the list of the ports it serves
// (prevServed, nextServed), what the poller watches, and the silence
// checks.
#pragma once

#include "netserial/net_socket.h"
#include "platform/thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qelnet {

struct NetPort;

// What a port asks of its loop (NetPort::serviceAsked).
enum ServiceRequest : uint32_t {
    kServeJoin = 1u << 0,     // start serving it
    kServeSend = 1u << 1,     // bytes wait in txBuffer
    kServeReceive = 1u << 2,  // a read made room in a ring that was full
    kServeLeave = 1u << 3,    // stop serving it and drop its reference
};

class IoLoop {
  public:
    explicit IoLoop(bool dedicated);
    ~IoLoop();  // never waits for its own thread (a dedicated loop's port may be freed on it)
    IoLoop(const IoLoop&) = delete;
    IoLoop& operator=(const IoLoop&) = delete;

    // Makes the poller and starts the thread; false when either failed.
    bool start();
    // Ends an idle pool loop's thread and waits up to timeoutMs for it; false
    // when it still runs (the loop must then be left allocated).
    bool stop(uint32_t timeoutMs);

    // The port is served from now on; the loop holds a reference to it
    // (taken by the caller) until it leaves.
    void attach(NetPort& port);
    // See RequestService.
    void request(NetPort& port, uint32_t what);
    // Waits up to timeoutMs until the port has left (after kServeLeave)
    // and the loop has dropped its reference.
    bool waitLeft(NetPort& port, uint32_t timeoutMs);

    int32_t ports() const { return portCount_.load(std::memory_order_relaxed); }

  private:
    static void threadMain(void* arg);
    // The loop; returns a dedicated loop's port once it has left, its
    // reference still to be dropped, or null.
    NetPort* run();
    // One port's work: its socket's events, then its requests. True when
    // the port left (a pool loop has dropped its reference then, a
    // dedicated one drops it as its thread ends).
    bool serve(NetPort& port, unsigned events, uint32_t asked, bool& wokeCaller);
    void leave(NetPort& port);
    void checkSilence(bool& wokeCaller);
    int waitTimeout() const;

    const bool dedicated_;
    NetPoller poller_;
    plat::Thread thread_;
    std::atomic<int32_t> portCount_{0};

    std::mutex lock_;
    std::condition_variable portLeft_;
    NetPort* askedHead_ = nullptr;
    NetPort* askedTail_ = nullptr;
    bool sleeping_ = false;
    bool stop_ = false;

    // The loop thread's own.
    NetPort* served_ = nullptr;
    bool silenceWatched_ = false;
    uint32_t nextSilenceCheck_ = 0;
};

// Hands a new connection to a loop (making the pool at the first call, or a
// loop of its own with IoThreads -1), with the reference the loop will hold
// already counted. False when no loop could be made (ERROR_NOT_ENOUGH_MEMORY
// for the caller); the port is then untouched.
bool AttachPort(NetPort& port, int32_t ioThreads);

// Asks the port's loop to do `what` (ServiceRequest bits) soon. Any thread
// holding a reference; does nothing once the port has left its loop.
void RequestService(NetPort& port, uint32_t what);

// Asks the loop to let the port go and waits up to timeoutMs for it: then
// the loop no longer touches the port, and its reference is dropped. False
// when the time ran out (the loop lets go later, by itself).
bool DetachPort(NetPort& port, uint32_t timeoutMs);

// The pool's size for an IoThreads setting: the setting when it is 1 or
// more (at most kMaxIoLoops), else by the machine's processors.
constexpr int kMaxIoLoops = 16;
int IoLoopsFor(int32_t ioThreads, unsigned processors);

}  // namespace qelnet
