// Telnet (RFC 854/855) with the Com Port Control option (RFC 2217), client
// side, as a codec without I/O: received bytes go in, payload and effects come
// out; commands come out as byte strings ready to queue.
//
// Framing is strict: only WILL, WONT, DO and DONT carry an option byte; a
// subnegotiation is IAC SB <option>, then for option 44 the command code, then
// the value bytes up to IAC SE, where IAC IAC stands for a value byte 255.
// Nothing else in a subnegotiation is looked at, so a reply whose value holds
// the byte 44 (the SET-BAUDRATE reply for 300 baud) costs no payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace qelnet {

namespace telnet {
constexpr uint8_t IAC = 255;
constexpr uint8_t DONT = 254;
constexpr uint8_t DO = 253;
constexpr uint8_t WONT = 252;
constexpr uint8_t WILL = 251;
constexpr uint8_t SB = 250;
constexpr uint8_t GA = 249;
constexpr uint8_t NOP = 241;
constexpr uint8_t SE = 240;

constexpr uint8_t kOptionBinary = 0;
constexpr uint8_t kOptionComPort = 44;

// Com Port Control codes sent by the client.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kFlowControlSuspend = 8;
constexpr uint8_t kFlowControlResume = 9;
constexpr uint8_t kSetLineStateMask = 10;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kPurgeData = 12;

// Codes the client acts on when the server sends them. RFC 2217 numbers the
// server's flow-control requests 108 and 109 (ser2net and sredird send
// those); some servers send the client's codes 8 and 9 instead, so both are
// taken.
constexpr uint8_t kNotifyLineState = 106;
constexpr uint8_t kNotifyModemState = 107;
constexpr uint8_t kServerFlowSuspend = 108;
constexpr uint8_t kServerFlowResume = 109;

// SET-CONTROL values.
constexpr uint8_t kControlNoFlow = 1;
constexpr uint8_t kControlXonXoff = 2;
constexpr uint8_t kControlHardware = 3;
constexpr uint8_t kControlBreakOn = 5;
constexpr uint8_t kControlBreakOff = 6;
constexpr uint8_t kControlDtrOn = 8;
constexpr uint8_t kControlDtrOff = 9;
constexpr uint8_t kControlRtsOn = 11;
constexpr uint8_t kControlRtsOff = 12;
}  // namespace telnet

// Where the scanner delivers what the server tells the client. Called on the
// scanning thread, in stream order, from inside TelnetScanner::scan.
class TelnetSink {
  public:
    // NOTIFY-LINESTATE value.
    virtual void onLineState(uint8_t value) = 0;
    // NOTIFY-MODEMSTATE value.
    virtual void onModemState(uint8_t value) = 0;
    // The server's flow control: false = stop sending data, true = go on.
    virtual void onServerFlow(bool allowed) = 0;
    // A line command with its value (4 bytes for SET-BAUDRATE, most
    // significant first; 1 byte for SET-DATASIZE, SET-PARITY, SET-STOPSIZE,
    // SET-CONTROL, the two masks and PURGE-DATA). Only a server's side of
    // the line receives these; the library, a client, ignores them.
    virtual void onComPortCommand(uint8_t code, const uint8_t* value, size_t length) {
        (void)code;
        (void)value;
        (void)length;
    }
    // The server's answer to one of the client's line commands (the code
    // + 100: 101 SET-BAUDRATE ... 105 SET-CONTROL, 110 to 112 for the masks
    // and PURGE-DATA) with the value it says is in force.
    virtual void onComPortAnswer(uint8_t code, const uint8_t* value, size_t length) {
        (void)code;
        (void)value;
        (void)length;
    }

  protected:
    ~TelnetSink() = default;
};

// The receive scanner. Its state carries over from one call to the next, so
// a command split across receives has the same effect as one received whole.
class TelnetScanner {
  public:
    // Scans `count` received bytes and writes the payload (Telnet commands
    // removed, IAC IAC turned into one 255) to `out`, returning its length,
    // which never exceeds `count`. `out` may be `in` itself (the payload is
    // compacted in place) but must not otherwise overlap it.
    size_t scan(const uint8_t* in, size_t count, uint8_t* out, TelnetSink& sink);

    // True between commands (no command or subnegotiation half received).
    bool idle() const { return state_ == State::Data; }

  private:
    enum class State : uint8_t {
        Data,        // payload
        Iac,         // IAC seen in payload
        Option,      // WILL/WONT/DO/DONT seen: the option byte follows
        SbOption,    // IAC SB seen: the option byte follows
        SbOther,     // inside a subnegotiation we do not act on
        SbOtherIac,  // IAC seen there
        SbCode,      // IAC SB 44 seen: the command code follows
        SbCodeIac,   // IAC seen where the code was expected
        SbValue,     // value bytes of a code we act on or know the length of
        SbValueIac,  // IAC seen among them
        SbDone,      // value complete; IAC SE follows
        SbDoneIac,   // IAC seen after the value
    };

    // Handles the byte after an IAC outside a subnegotiation.
    void command(uint8_t b);
    void startValue(uint8_t code, TelnetSink& sink);
    void valueByte(uint8_t b, bool doubled, TelnetSink& sink);
    void dispatch(TelnetSink& sink);

    State state_ = State::Data;
    uint8_t code_ = 0;
    uint8_t need_ = 0;
    uint8_t have_ = 0;
    uint8_t value_[4] = {};
    // The last value byte came as IAC IAC: a following lone SE then ends the
    // subnegotiation (the single-byte form "255 IAC SE" of older servers).
    bool lastDoubled_ = false;
};

// Follows the framing of the bytes the client sends, so that a purge can drop
// queued bytes without cutting a command or an IAC IAC pair in two.
class TelnetFrameTracker {
  public:
    // `subnegDoubled` tells whether our subnegotiation values double 255.
    explicit TelnetFrameTracker(bool subnegDoubled = true) : doubled_(subnegDoubled) {}

    // Accounts for bytes handed to the network.
    void advance(const uint8_t* sent, size_t count);

    // How many of the `count` bytes that follow the sent ones complete the
    // unit the last sent byte belongs to (0 at a boundary).
    size_t remainder(const uint8_t* next, size_t count) const;

    void reset(bool subnegDoubled) {
        state_ = State::Data;
        doubled_ = subnegDoubled;
    }

    // Compacts `count` bytes that start at a unit boundary to their
    // commands alone, in place, and returns their length: the payload
    // (an IAC IAC pair among it) is dropped. A purge of what waits to be
    // sent takes the data, not a setting asked for before it.
    size_t keepCommands(uint8_t* bytes, size_t count) const;

  private:
    enum class State : uint8_t { Data, Iac, Option, Sb, SbIac };
    static State step(State s, uint8_t b, bool doubled);

    State state_ = State::Data;
    bool doubled_;
};

// Writes `count` bytes to `out` with every 255 doubled; returns the length
// written, at most 2 * count. Nothing else is transformed.
size_t EscapeIac(uint8_t* out, const uint8_t* in, size_t count);

// Command bytes, built whole so that each goes into the send buffer (and onto
// the wire) in one piece.
struct TelnetCommand {
    static constexpr size_t kCapacity = 48;
    uint8_t bytes[kCapacity];
    size_t size = 0;
};

// `doubling` selects RFC 855 doubling of 255 inside the subnegotiation
// (SubnegIacDoubling=1). Measured against ser2net 4.3: with the single-byte
// form, the mask value 255 directly before IAC SE misframes the opening
// negotiation and the commands behind it are swallowed without a reply.
TelnetCommand BuildComPortCommand(uint8_t code, std::initializer_list<uint8_t> value,
                                  bool doubling);
TelnetCommand BuildSetBaudRate(uint32_t rate, bool doubling);
TelnetCommand BuildSetDataSize(uint8_t size);
TelnetCommand BuildSetParity(uint8_t value);
TelnetCommand BuildSetStopSize(uint8_t value);
TelnetCommand BuildSetControl(uint8_t value);
// RTS on followed by hardware flow control, as one entry (14 bytes).
TelnetCommand BuildHardwareFlow();
TelnetCommand BuildFlowControlSuspend();
TelnetCommand BuildFlowControlResume();
TelnetCommand BuildPurgeData(uint8_t value);

// DO TRANSMIT-BINARY, WILL COM-PORT-OPTION, DO COM-PORT-OPTION, then
// SET-LINESTATE-MASK, SET-MODEMSTATE-MASK (255 each, or 0 when the server is
// to send no notifications) and SET-BAUDRATE 0, then WILL TRANSMIT-BINARY.
// 36 bytes with masks of 0 or without doubling; 38 with masks of 255
// doubled.
//
// WILL TRANSMIT-BINARY: the library sends data as it is (255 doubled,
// nothing else changed), which is binary transmission, and says so before
// any data. A server that holds a direction nobody declared binary to the
// network virtual terminal drops every NUL after a CR (sredird does); a
// declaration that came only as the answer to the server's DO could arrive
// behind the first data. It goes last, so the bytes before it keep their
// places.
TelnetCommand BuildOpeningNegotiation(bool remoteState, bool doubling);

// Conversions from the serial API's values to the values sent. Each returns
// 0 for a value that is refused (nothing is then sent). Every rate but 0 is
// sent as it is: whether the server's UART can run at it is the server's to
// answer.
bool BaudRateAccepted(uint32_t rate);
uint8_t DataSizeValue(uint32_t byteSize);
uint8_t ParityValue(uint32_t parity);
uint8_t StopSizeValue(uint32_t stopBits);
uint8_t EscapeFunctionControl(uint32_t function);
uint8_t PurgeDataValue(uint32_t purgeFlags);

}  // namespace qelnet
