// Message boxes as modal messages of the terminal front end.
//
// The boxes come from the port threads ("Not found qelnet.dll" while a
// network port opens, "Error 'GETCOMMSTATE' for %s" when a direction
// starts), and a box blocks its caller until the operator has closed it.
// Only the front end's thread may draw, so a box is queued here and its
// caller waits; the front end shows the oldest one modally and dismisses it
// when the operator closes it, which lets that caller go on.
//
// When the front end leaves the screen (Close), every waiting caller is let
// go at once, and those boxes, with any that come later, are kept as text
// for the front end to print once the terminal is back to normal: a port
// thread must not keep the shut-down waiting for a box nobody can see, and
// no message is lost or written over the screen.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct ModalMessage {
    std::string caption;
    std::string text;
    unsigned flags = 0;  // MB_OK, MB_ICONWARNING...
};

class ModalMessages {
  public:
    // Queues a box and waits until the front end dismissed it, or until
    // Close. Returns IDOK. Must not be called on the front end's own thread,
    // which would wait for itself.
    int Show(const char* text, const char* caption, unsigned flags);
    // Queues a box and returns at once (a worker's notice: the worker goes
    // on). Any thread, the front end's included.
    void Post(const char* text, const char* caption, unsigned flags);

    // The front end: the oldest box waiting, if any (left in the queue).
    bool Front(ModalMessage& out);
    // The front end: the operator closed the oldest box; its caller goes on.
    void Dismiss();
    // Boxes shown so far and waiting (for the tests and the screen).
    size_t Waiting();

    // The front end leaves the screen: every caller waiting is let go and
    // every box from now on returns at once; their texts are kept.
    void Close();
    // Reopens after Close (a second front end in one process, the tests).
    void Reopen();
    // The boxes that were never shown on the screen, oldest first; taking
    // them empties the list.
    std::vector<ModalMessage> TakeUnshown();

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<ModalMessage> queue_;
    uint64_t dismissed_ = 0;  // boxes closed so far, in queue order
    uint64_t queued_ = 0;     // boxes queued so far
    bool closed_ = false;
    std::vector<ModalMessage> unshown_;
};

// The program's one queue. Never freed: a port thread that outlived the
// shut-down may still show a box.
ModalMessages& TerminalMessages();

// Routes plat::messageBox to TerminalMessages() (true) or back to the
// platform's default (false).
void RouteBoxesToTerminal(bool on);
