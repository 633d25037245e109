// The flow-control check, one way: `to` stops reading while `from` writes
// on, and reads again once `from` is held off (condition_check.h).
#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tester/engine/line_borrow.h"
#include "tester/engine/port_worker.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

LineCheckResult Result(LineVerdict verdict, std::string text) {
    LineCheckResult r;
    r.verdict = verdict;
    r.text = std::move(text);
    return r;
}

// The handshakes whose settings hold `from`'s sending off when `to` stops
// reading: `from` watches the input line (or the XOFF) that `to` drives.
// "" when there is none.
std::string Handshakes(const DCB& from, const DCB& to) {
    std::vector<const char*> names;
    if (from.fOutxCtsFlow && to.fRtsControl == RTS_CONTROL_HANDSHAKE) names.push_back("RTS/CTS");
    if (from.fOutxDsrFlow && to.fDtrControl == DTR_CONTROL_HANDSHAKE) names.push_back("DTR/DSR");
    if (from.fOutX && to.fInX) names.push_back("XON/XOFF");
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : " and ") + std::string(names[i]);
    return text;
}

// How long `bytes` take on `line`, `least` at least (and an hour at most).
uint32_t LineMs(uint32_t bytes, const DCB& line, uint32_t least) {
    const uint32_t dataBits = line.ByteSize >= 5 && line.ByteSize <= 8 ? line.ByteSize : 8;
    const uint64_t bits =
        1 + dataBits + (line.Parity != NOPARITY ? 1 : 0) + (line.StopBits == ONESTOPBIT ? 1 : 2);
    const uint64_t baud = line.BaudRate != 0 ? line.BaudRate : 300;
    const uint64_t ms = uint64_t{bytes} * bits * 1000 / baud;
    return ms < least ? least : ms > 3600000 ? 3600000 : static_cast<uint32_t>(ms);
}

}  // namespace

LineCheckResult CheckFlowWay(LineBorrow& job, PortWorker& from, PortWorker& to) {
    const DCB line = from.WantedDcb();
    const std::string handshake = Handshakes(line, to.WantedDcb());
    if (handshake.empty())
        return Result(LineVerdict::NotChecked, "not checked (no flow control set)");
    // A pty holds any writer off by its buffer, handshake or none: the
    // check could not tell the one from the other.
    if (job.KindOf(from) == DeviceKind::PseudoTerminal ||
        job.KindOf(to) == DeviceKind::PseudoTerminal)
        return Result(LineVerdict::NotSupported, "not supported");

    const ConditionTiming& t = job.timing();
    const uint32_t blockMs = job.BlockMs(from);
    // A network port's writes stand still now and then while its data
    // goes out in the steps of its socket's buffer, not held off by
    // anything: stallBytes at the line's rate outlast those steps.
    const bool network =
        job.KindOf(from) == DeviceKind::Network || job.KindOf(to) == DeviceKind::Network;
    const uint32_t stallMs =
        LineMs(network ? t.stallBytes : 0, line, t.stallMs > 2 * blockMs ? t.stallMs : 2 * blockMs);
    const uint32_t holdMs = LineMs(t.holdBytes, line, t.holdMinMs);
    const uint64_t written0 = from.blocksWritten.load(kRelaxed);
    const uint64_t ok0 = to.blocksOk.load(kRelaxed);
    const uint32_t damaged0 = to.rxErrors.load(kRelaxed);

    // Blocks flow first: a sender that never gets going is no sender held.
    job.Read(to, true);
    job.Write(from, true);
    const uint32_t startMs = t.startMs > 4 * blockMs ? t.startMs : 4 * blockMs;
    const uint32_t started = plat::tickCount();
    while (to.blocksOk.load(kRelaxed) == ok0 &&
           plat::ticksBetween(started, plat::tickCount()) < startMs)
        if (!job.Pause()) return job.StoppedResult();
    if (to.blocksOk.load(kRelaxed) == ok0) {
        job.Write(from, false);
        job.Read(to, false);
        const bool sent = from.blocksWritten.load(kRelaxed) != written0;
        return Result(LineVerdict::Failed,
                      sent ? PortNumber(to) + " received nothing from " + PortNumber(from) +
                                 " in " + SecondsText(startMs)
                           : PortNumber(from) + " sent nothing to " + PortNumber(to) + " in " +
                                 SecondsText(startMs));
    }

    // The receiver stops reading; the sender must come to a stand. Its
    // own count of bytes written is no proof of that: on a network port
    // the socket buffers between it and the line fill and drain in steps
    // (large ones on loopback), so that count stands still now and then
    // while the line goes on at full speed. What reaches the far end is the
    // proof: an overrun reported there is bytes still arriving, so the
    // sender is held only once its count and the receiver's overruns have
    // both stood still for a stall window.
    job.Read(to, false);
    const uint32_t stopped = plat::tickCount();
    CountWatch sent{from.bytesWritten.load(kRelaxed), stopped};
    uint32_t overranAt = 0;
    uint32_t lastOverrunAt = 0;
    bool held = false, overran = false;
    for (;;) {
        const uint32_t now = plat::tickCount();
        sent.See(from.bytesWritten.load(kRelaxed), now);
        DWORD errors = 0;
        DWORD fresh = 0;
        if (!job.Errors(to, errors, &fresh)) return job.StoppedResult();
        if (fresh & (CE_OVERRUN | CE_RXOVER)) {
            if (!overran) overranAt = now;
            overran = true;
            lastOverrunAt = now;
        }
        const uint32_t grew = sent.movedAt;
        // How long both have stood still: the younger of the two ages.
        uint32_t still = plat::ticksBetween(grew, now);
        if (overran) still = std::min(still, plat::ticksBetween(lastOverrunAt, now));
        if (still >= stallMs) {
            held = true;
            break;
        }
        // Sending on past the bound, or a stall window after the receiver
        // began to lose data: not held off in time.
        if (plat::ticksBetween(stopped, grew) >= holdMs) break;
        if (overran && plat::ticksBetween(overranAt, now) >= stallMs) break;
        if (!job.Pause()) return job.StoppedResult();
    }
    const uint32_t keptMs = held ? plat::ticksBetween(stopped, sent.movedAt)
                                 : plat::ticksBetween(stopped, plat::tickCount());

    // Reading again, the sender stopped: what was held back comes through.
    job.Read(to, true);
    job.Write(from, false);
    if (!job.Arrived(to, from, ok0, written0)) return job.StoppedResult();
    job.Read(to, false);
    DWORD errors = 0;
    if (!job.Errors(to, errors)) return job.StoppedResult();
    if (errors & (CE_OVERRUN | CE_RXOVER)) overran = true;

    if (!held)
        return Result(LineVerdict::Failed,
                      PortNumber(from) + " kept sending for " + SecondsText(keptMs) + " while " +
                          PortNumber(to) + " did not read: " + handshake + " does not hold it off");
    const uint64_t written = from.blocksWritten.load(kRelaxed) - written0;
    const uint64_t ok = to.blocksOk.load(kRelaxed) - ok0;
    const uint64_t lost = written > ok ? written - ok : 0;
    const uint32_t damaged = to.rxErrors.load(kRelaxed) - damaged0;
    if (overran || lost != 0 || damaged != 0) {
        std::string text = PortNumber(to) + " overran while held off";
        if (lost != 0)
            text += ": " + std::to_string(lost) + (lost == 1 ? " block" : " blocks") + " lost";
        return Result(LineVerdict::Failed, text);
    }
    return Result(LineVerdict::Passed, handshake + " held it off after " + SecondsText(keptMs) +
                                           "; " + std::to_string(written) +
                                           (written == 1 ? " block" : " blocks") + ", none lost");
}
