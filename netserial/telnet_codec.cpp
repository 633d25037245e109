#include "netserial/telnet_codec.h"

#include "platform/win32_types.h"

#include <cstring>

namespace qelnet {

using namespace telnet;

namespace {

constexpr uint8_t kVariableLength = 0xFF;

// Value length of each Com Port Control code, from either side. Knowing it
// lets the scanner act as soon as a notification is complete and accept the
// single-byte form of a 255 value that some servers send before IAC SE.
// Codes without a fixed length (the signature, anything unknown) are skipped
// up to IAC SE.
uint8_t valueLength(uint8_t code) {
    switch (code) {
        case kFlowControlSuspend:
        case kFlowControlResume:
        case kServerFlowSuspend:
        case kServerFlowResume:
            return 0;
        case kSetBaudRate:
        case 100 + kSetBaudRate:
            return 4;
        case kSetDataSize:
        case kSetParity:
        case kSetStopSize:
        case kSetControl:
        case kSetLineStateMask:
        case kSetModemStateMask:
        case kPurgeData:
        case 100 + kSetDataSize:
        case 100 + kSetParity:
        case 100 + kSetStopSize:
        case 100 + kSetControl:
        case kNotifyLineState:
        case kNotifyModemState:
        case 100 + kSetLineStateMask:
        case 100 + kSetModemStateMask:
        case 100 + kPurgeData:
            return 1;
        default:
            return kVariableLength;
    }
}

}  // namespace

size_t TelnetScanner::scan(const uint8_t* in, size_t count, uint8_t* out, TelnetSink& sink) {
    size_t o = 0;
    size_t i = 0;
    while (i < count) {
        if (state_ == State::Data) {
            // Payload runs are copied whole; only IAC needs a look.
            const uint8_t* run = in + i;
            const void* hit = std::memchr(run, IAC, count - i);
            size_t length =
                hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - run) : count - i;
            if (length && out + o != run) std::memmove(out + o, run, length);
            o += length;
            i += length;
            if (!hit) break;
            state_ = State::Iac;
            ++i;
            continue;
        }
        const uint8_t b = in[i++];
        switch (state_) {
            case State::Data:
                break;
            case State::Iac:
                if (b == IAC) {
                    out[o++] = IAC;
                    state_ = State::Data;
                } else {
                    command(b);
                }
                break;
            case State::Option:
                state_ = State::Data;
                break;
            case State::SbOption:
                state_ = b == kOptionComPort ? State::SbCode
                         : b == IAC          ? State::SbOtherIac
                                             : State::SbOther;
                break;
            case State::SbOther:
                if (b == IAC) state_ = State::SbOtherIac;
                break;
            case State::SbOtherIac:
                if (b == SE) {
                    state_ = State::Data;
                } else if (b == IAC) {
                    state_ = State::SbOther;
                } else {
                    command(b);
                }
                break;
            case State::SbCode:
                if (b == IAC) {
                    state_ = State::SbCodeIac;
                } else {
                    startValue(b, sink);
                }
                break;
            case State::SbCodeIac:
                if (b == SE) {
                    state_ = State::Data;
                } else if (b == IAC) {
                    startValue(IAC, sink);
                } else {
                    command(b);
                }
                break;
            case State::SbValue:
                if (b == IAC) {
                    state_ = State::SbValueIac;
                } else {
                    valueByte(b, false, sink);
                }
                break;
            case State::SbValueIac:
                if (b == IAC) {
                    valueByte(IAC, true, sink);
                } else if (b == SE) {
                    state_ = State::Data;  // value cut short: ignored
                } else {
                    command(b);
                }
                break;
            case State::SbDone:
                if (b == IAC) {
                    state_ = State::SbDoneIac;
                } else if (b == SE && lastDoubled_) {
                    state_ = State::Data;
                } else {
                    lastDoubled_ = false;  // surplus value bytes are skipped
                }
                break;
            case State::SbDoneIac:
                if (b == SE) {
                    state_ = State::Data;
                } else if (b == IAC) {
                    state_ = State::SbDone;
                    lastDoubled_ = false;
                } else {
                    command(b);
                }
                break;
        }
    }
    return o;
}

// RFC 854: only the option negotiations take an option byte; every other
// command is two bytes. An IAC that is neither IAC IAC nor IAC SE inside a
// subnegotiation ends it and is taken as a command, so a server that breaks
// framing costs at most that subnegotiation.
void TelnetScanner::command(uint8_t b) {
    switch (b) {
        case SB:
            state_ = State::SbOption;
            break;
        case WILL:
        case WONT:
        case DO:
        case DONT:
            state_ = State::Option;
            break;
        default:
            state_ = State::Data;
            break;
    }
}

void TelnetScanner::startValue(uint8_t code, TelnetSink& sink) {
    code_ = code;
    need_ = valueLength(code);
    have_ = 0;
    lastDoubled_ = false;
    if (need_ == kVariableLength) {
        state_ = State::SbOther;
    } else if (need_ == 0) {
        dispatch(sink);
        state_ = State::SbDone;
    } else {
        state_ = State::SbValue;
    }
}

void TelnetScanner::valueByte(uint8_t b, bool doubled, TelnetSink& sink) {
    value_[have_++] = b;
    lastDoubled_ = doubled;
    if (have_ == need_) {
        dispatch(sink);
        state_ = State::SbDone;
    } else {
        state_ = State::SbValue;
    }
}

void TelnetScanner::dispatch(TelnetSink& sink) {
    switch (code_) {
        case kNotifyLineState:
            sink.onLineState(value_[0]);
            break;
        case kNotifyModemState:
            sink.onModemState(value_[0]);
            break;
        case kServerFlowSuspend:
        case kFlowControlSuspend:
            sink.onServerFlow(false);
            break;
        case kServerFlowResume:
        case kFlowControlResume:
            sink.onServerFlow(true);
            break;
        case kSetBaudRate:
        case kSetDataSize:
        case kSetParity:
        case kSetStopSize:
        case kSetControl:
        case kSetLineStateMask:
        case kSetModemStateMask:
        case kPurgeData:
            sink.onComPortCommand(code_, value_, need_);
            break;
        default:
            if (code_ > 100) sink.onComPortAnswer(code_, value_, need_);
            break;
    }
}

TelnetFrameTracker::State TelnetFrameTracker::step(State s, uint8_t b, bool doubled) {
    switch (s) {
        case State::Data:
            return b == IAC ? State::Iac : State::Data;
        case State::Iac:
            if (b == SB) return State::Sb;
            if (b == WILL || b == WONT || b == DO || b == DONT) return State::Option;
            return State::Data;
        case State::Option:
            return State::Data;
        case State::Sb:
            return b == IAC ? State::SbIac : State::Sb;
        case State::SbIac:
            if (b == SE) return State::Data;
            // Without doubling our only 255 inside a subnegotiation is a mask
            // value directly before IAC SE.
            if (b == IAC) return doubled ? State::Sb : State::SbIac;
            return State::Sb;
    }
    return State::Data;
}

void TelnetFrameTracker::advance(const uint8_t* sent, size_t count) {
    size_t i = 0;
    while (i < count) {
        if (state_ == State::Data) {
            const void* hit = std::memchr(sent + i, IAC, count - i);
            if (!hit) return;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - sent);
            // Escaped 255s of the data leave the framing as it was; a run of
            // them (data full of 0xFF) is passed over without a step a byte.
            while (i + 1 < count && sent[i] == IAC && sent[i + 1] == IAC)
                i += 2;
            if (i == count) return;
            if (sent[i] != IAC) continue;
        }
        state_ = step(state_, sent[i++], doubled_);
    }
}

size_t TelnetFrameTracker::remainder(const uint8_t* next, size_t count) const {
    State s = state_;
    size_t i = 0;
    while (s != State::Data && i < count)
        s = step(s, next[i++], doubled_);
    return i;
}

size_t TelnetFrameTracker::keepCommands(uint8_t* bytes, size_t count) const {
    State s = State::Data;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (s == State::Data) {
            if (b == IAC) s = State::Iac;  // written once the next byte says what it starts
            continue;
        }
        if (s == State::Iac) {
            if (b == IAC) {
                s = State::Data;  // an escaped 255 of the data
                continue;
            }
            bytes[kept++] = IAC;
        }
        bytes[kept++] = b;
        s = step(s, b, doubled_);
    }
    return kept;
}

size_t EscapeIac(uint8_t* out, const uint8_t* in, size_t count) {
    size_t o = 0;
    size_t i = 0;
    while (i < count) {
        const void* hit = std::memchr(in + i, IAC, count - i);
        size_t end = hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - in) : count;
        std::memcpy(out + o, in + i, end - i);
        o += end - i;
        i = end;
        if (!hit) break;
        // The whole run of 255s at once: data full of them would otherwise
        // cost a search for every byte.
        do {
            out[o++] = IAC;
            out[o++] = IAC;
            ++i;
        } while (i < count && in[i] == IAC);
    }
    return o;
}

TelnetCommand BuildComPortCommand(uint8_t code, std::initializer_list<uint8_t> value,
                                  bool doubling) {
    // At most 4 value bytes (8 doubled) fit: the largest command is 14 bytes.
    TelnetCommand c;
    uint8_t* p = c.bytes;
    *p++ = IAC;
    *p++ = SB;
    *p++ = kOptionComPort;
    *p++ = code;
    for (uint8_t b : value) {
        *p++ = b;
        if (b == IAC && doubling) *p++ = IAC;
    }
    *p++ = IAC;
    *p++ = SE;
    c.size = static_cast<size_t>(p - c.bytes);
    return c;
}

TelnetCommand BuildSetBaudRate(uint32_t rate, bool doubling) {
    return BuildComPortCommand(kSetBaudRate,
                               {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                                static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)},
                               doubling);
}

TelnetCommand BuildSetDataSize(uint8_t size) {
    return BuildComPortCommand(kSetDataSize, {size}, true);
}

TelnetCommand BuildSetParity(uint8_t value) {
    return BuildComPortCommand(kSetParity, {value}, true);
}

TelnetCommand BuildSetStopSize(uint8_t value) {
    return BuildComPortCommand(kSetStopSize, {value}, true);
}

TelnetCommand BuildSetControl(uint8_t value) {
    return BuildComPortCommand(kSetControl, {value}, true);
}

TelnetCommand BuildHardwareFlow() {
    TelnetCommand c = BuildSetControl(kControlRtsOn);
    TelnetCommand flow = BuildSetControl(kControlHardware);
    std::memcpy(c.bytes + c.size, flow.bytes, flow.size);
    c.size += flow.size;
    return c;
}

TelnetCommand BuildFlowControlSuspend() {
    return BuildComPortCommand(kFlowControlSuspend, {}, true);
}

TelnetCommand BuildFlowControlResume() {
    return BuildComPortCommand(kFlowControlResume, {}, true);
}

TelnetCommand BuildPurgeData(uint8_t value) {
    return BuildComPortCommand(kPurgeData, {value}, true);
}

TelnetCommand BuildOpeningNegotiation(bool remoteState, bool doubling) {
    static const uint8_t kOptions[] = {IAC, DO, kOptionBinary, IAC, WILL, kOptionComPort,
                                       IAC, DO, kOptionComPort};
    // Behind the rest, so that the bytes before it keep their places.
    static const uint8_t kWillBinary[] = {IAC, WILL, kOptionBinary};
    const uint8_t mask = remoteState ? 0xFF : 0x00;
    TelnetCommand parts[] = {BuildComPortCommand(kSetLineStateMask, {mask}, doubling),
                             BuildComPortCommand(kSetModemStateMask, {mask}, doubling),
                             BuildSetBaudRate(0, doubling)};
    TelnetCommand c;
    std::memcpy(c.bytes, kOptions, sizeof kOptions);
    c.size = sizeof kOptions;
    for (const TelnetCommand& part : parts) {
        std::memcpy(c.bytes + c.size, part.bytes, part.size);
        c.size += part.size;
    }
    std::memcpy(c.bytes + c.size, kWillBinary, sizeof kWillBinary);
    c.size += sizeof kWillBinary;
    return c;
}

bool BaudRateAccepted(uint32_t rate) {
    // RFC 2217 carries any 32-bit rate; 0 is the query for the current one.
    return rate != 0;
}

uint8_t DataSizeValue(uint32_t byteSize) {
    return byteSize >= 5 && byteSize <= 8 ? static_cast<uint8_t>(byteSize) : 0;
}

uint8_t ParityValue(uint32_t parity) {
    return parity <= 4 ? static_cast<uint8_t>(parity + 1) : 0;
}

uint8_t StopSizeValue(uint32_t stopBits) {
    // ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2
    static const uint8_t kValues[] = {1, 3, 2};
    return stopBits <= 2 ? kValues[stopBits] : 0;
}

uint8_t EscapeFunctionControl(uint32_t function) {
    switch (function) {
        case SETRTS:
            return kControlRtsOn;
        case CLRRTS:
            return kControlRtsOff;
        case SETDTR:
            return kControlDtrOn;
        case CLRDTR:
            return kControlDtrOff;
        case SETBREAK:
            return kControlBreakOn;
        case CLRBREAK:
            return kControlBreakOff;
        default:
            return 0;
    }
}

uint8_t PurgeDataValue(uint32_t purgeFlags) {
    const bool rx = (purgeFlags & PURGE_RXCLEAR) != 0;
    const bool tx = (purgeFlags & PURGE_TXCLEAR) != 0;
    return rx && tx ? 3 : rx ? 1 : tx ? 2 : 0;
}

}  // namespace qelnet
