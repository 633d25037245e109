// One direction of a port, used by one thread at a time, in the order they
// asked: a ticket line. A port's reads (or writes) must not overlap (the
// native ports keep one wake-up per direction, and two readers would share
// out a block's bytes between them), yet the one who holds the direction
// sits in a blocking transfer. A plain mutex would do the exclusion but not
// the order: std::mutex is not fair, and a reader that lets go and takes
// it again at every read time-out can keep a waiter out for good. Here a
// waiter is served once the holders ahead of it are done, and nobody who
// is not about to use the port ever waits for the line: the bookkeeping
// beside the transfer has a lock of its own (PortWorker::rxBook_).
//
// Someone who needs the direction sooner than its holder's time-out (a
// reconnection, a settings change) waits in slices and ends the transfer
// in progress between slices (a cancel or purge), instead of waiting it
// out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class PortTurn {
  public:
    using Ticket = uint64_t;

    // A place in the line.
    Ticket Join();
    // Waits until it is `ticket`'s turn, up to `ms`: true once it is (the
    // caller then uses the port and Leaves), false on time-out (still in
    // the line: wait again or Leave).
    bool Await(Ticket ticket, uint32_t ms);
    // Ends the turn, or gives up the place in the line.
    void Leave(Ticket ticket);

    // A turn for one scope, waited for without bound.
    class Hold {
      public:
        explicit Hold(PortTurn& turn) : turn_(turn), ticket_(turn.Join()) {
            while (!turn_.Await(ticket_, kForever)) {
            }
        }
        ~Hold() { turn_.Leave(ticket_); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        PortTurn& turn_;
        const Ticket ticket_;
    };

    static constexpr uint32_t kForever = 0xFFFFFFFFu;

  private:
    std::mutex lock_;
    std::condition_variable served_;
    Ticket next_ = 0;     // the next ticket given out
    Ticket serving_ = 0;  // whose turn it is
    // Tickets that left the line before their turn came, skipped when it does.
    std::vector<Ticket> gone_;
};
