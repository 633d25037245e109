// The server's answers to the line settings the library asked for. RFC 2217
// has the server answer every SET-BAUDRATE, SET-DATASIZE, SET-PARITY,
// SET-STOPSIZE and SET-CONTROL with the value now in force: a server that
// cannot do what was asked (a UART without hardware flow control, a speed
// it cannot make) says so by answering another value, and goes on with
// that one. The library does not wait for the answers (a setting counts as
// done once queued); it matches each, when it comes, to the request it
// answers, and a different value is reported to the caller as the serial
// API reports a mode the port cannot take: CE_MODE in QnClearCommError's
// errors.
//
// Without I/O and without locks (NetPort holds it under replyLock): the
// commands are seen as the bytes queued for the server, the answers as the
// scanner decodes them.
//
// Interop: answers come in the order of the requests of their kind, but a
// server may answer some kinds and not others (or none at all), so each
// kind is matched on its own: the four settings, and SET-CONTROL's groups
// (outbound flow control 0..3, break 4..6, DTR 7..9, RTS 10..12, inbound
// flow control 13..16, the other flow controls 17..19). A request for the
// value in force (SET-BAUDRATE 0, SET-CONTROL 0...) is answered with
// anything. A speed within kBaudTolerance of the one asked is the one
// asked: a server may answer the rate its divisor makes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelnet {

class ReplyCheck {
  public:
    static constexpr double kBaudTolerance = 0.02;

    // Notes the Com Port Control requests among `bytes`, which are whole
    // commands as built by telnet_codec.h (negotiations and others are
    // skipped).
    void Expect(const uint8_t* bytes, size_t length);

    // An answer (the server's code, request code + 100) with its value.
    // False when it differs from the request it answers; an answer to
    // nothing noted is taken as it is.
    bool Answer(uint8_t code, const uint8_t* value, size_t length);

    // Forgets every request (a new connection); `subnegDoubled` says
    // whether the requests' values double 255 (SubnegIacDoubling), as
    // TelnetFrameTracker takes it.
    void Reset(bool subnegDoubled);

  private:
    static constexpr int kKinds = 10;
    static constexpr int kDepth = 16;

    struct Request {
        uint8_t value[4];
        uint8_t length;
        bool query;
    };
    struct Queue {
        Request items[kDepth];
        int head = 0;
        int count = 0;
    };

    // The queue of a request's kind, or -1 for one that gets no answer we
    // look at.
    static int KindOf(uint8_t code, const uint8_t* value, size_t length);
    void Note(uint8_t code, const uint8_t* value, size_t length);

    Queue queues_[kKinds];
    bool doubled_ = true;
};

}  // namespace qelnet
