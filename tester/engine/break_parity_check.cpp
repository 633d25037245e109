// The break check and the parity check, one way each: `from` sends a break
// or a burst with the other parity, `to` must report it, and then blocks
// must cross the line whole (condition_check.h).
#include <string>

#include "platform/clock.h"
#include "tester/engine/line_borrow.h"
#include "tester/engine/port_worker.h"
#include "platform/name_table.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr DWORD kLineErrors = CE_OVERRUN | CE_RXOVER | CE_FRAME | CE_RXPARITY | CE_BREAK;

LineCheckResult Result(LineVerdict verdict, std::string text) {
    LineCheckResult r;
    r.verdict = verdict;
    r.text = std::move(text);
    return r;
}

bool OnPseudoTerminal(LineBorrow& job, PortWorker& from, PortWorker& to) {
    return job.KindOf(from) == DeviceKind::PseudoTerminal ||
           job.KindOf(to) == DeviceKind::PseudoTerminal;
}

// Waits up to reportMs for `to` to report any of `bits`.
bool Reported(LineBorrow& job, PortWorker& to, DWORD bits, bool& seen) {
    const uint32_t start = plat::tickCount();
    for (;;) {
        DWORD errors = 0;
        if (!job.Errors(to, errors)) return false;
        seen = (errors & bits) != 0;
        if (seen || plat::ticksBetween(start, plat::tickCount()) >= job.timing().reportMs)
            return true;
        if (!job.Pause()) return false;
    }
}

// "break", "parity, overrun"...: which line errors `bits` holds, so that a
// carry that failed on them says which.
std::string LineErrorWords(DWORD bits) {
    static const struct {
        DWORD bit;
        const char* word;
    } kWords[] = {{CE_BREAK, "break"},
                  {CE_RXPARITY, "parity"},
                  {CE_FRAME, "framing"},
                  {CE_OVERRUN, "overrun"},
                  {CE_RXOVER, "input overflow"}};
    std::string words;
    for (const auto& w : kWords) {
        if (!(bits & w.bit)) continue;
        if (!words.empty()) words += ", ";
        words += w.word;
    }
    return words;
}

// Blocks after the break or the burst: what the condition left in `to`'s
// input (a break is a NUL to most UARTs, a burst may be garbage) is
// dropped, then `from` sends carryBlocks blocks and `to` must receive them
// whole, with no line error. The words for how they came.
bool Carry(LineBorrow& job, PortWorker& from, PortWorker& to, std::string& text, bool& whole) {
    // A network port's purge reaches its device server a round trip later:
    // the blocks must not overtake it.
    if (!job.Purge(to, PURGE_RXCLEAR) || !job.Sleep(job.timing().quietMs)) return false;
    if (!job.Expect(to, from) || !job.ForgetErrors(to)) return false;
    const uint64_t written0 = from.blocksWritten.load(kRelaxed);
    const uint64_t ok0 = to.blocksOk.load(kRelaxed);
    const uint32_t damaged0 = to.rxErrors.load(kRelaxed);
    job.Read(to, true);
    job.Write(from, true);
    bool reached = false;
    if (!job.WrittenAtLeast(from, written0 + job.timing().carryBlocks, reached)) return false;
    job.Write(from, false);
    if (!job.Arrived(to, from, ok0, written0)) return false;
    job.Read(to, false);
    DWORD errors = 0;
    if (!job.Errors(to, errors)) return false;
    const uint64_t written = from.blocksWritten.load(kRelaxed) - written0;
    text = CarriedText(written, to.blocksOk.load(kRelaxed) - ok0,
                       to.rxErrors.load(kRelaxed) - damaged0, whole);
    if (written == 0) whole = false;
    if (errors & kLineErrors) {
        whole = false;
        text += ", with line errors (" + LineErrorWords(errors & kLineErrors) + ")";
    }
    return true;
}

const char* ParityName(BYTE parity) {
    // NOPARITY reads "space" as well: the check runs with a parity set.
    static const char* const kNames[] = {"space", "odd", "even", "mark", "space"};
    return plat::NameOf(parity, kNames, "space");
}

// The parity a UART with `parity` flags every character of: odd for even
// and the other way round, space for mark.
BYTE OtherParity(BYTE parity) {
    switch (parity) {
        case ODDPARITY:
            return EVENPARITY;
        case EVENPARITY:
            return ODDPARITY;
        case MARKPARITY:
            return SPACEPARITY;
        default:
            return MARKPARITY;
    }
}

}  // namespace

LineCheckResult CheckBreakWay(LineBorrow& job, PortWorker& from, PortWorker& to) {
    // The kernel's pty takes a break request and sends nothing, and reports
    // none: "not supported", not a failure.
    if (OnPseudoTerminal(job, from, to)) return Result(LineVerdict::NotSupported, "not supported");
    if (!job.ForgetErrors(to) || !job.Break(from, true)) return job.StoppedResult();
    const bool slept = job.Sleep(job.timing().breakMs);
    if (!job.Break(from, false) || !slept) return job.StoppedResult();
    bool seen = false;
    if (!Reported(job, to, CE_BREAK, seen)) return job.StoppedResult();
    if (!seen)
        return Result(LineVerdict::Failed, PortNumber(to) + " reported no break within " +
                                               SecondsText(job.timing().reportMs));
    std::string carried;
    bool whole = false;
    if (!Carry(job, from, to, carried, whole)) return job.StoppedResult();
    return whole ? Result(LineVerdict::Passed, PortNumber(to) + " reported it; " + carried)
                 : Result(LineVerdict::Failed, PortNumber(to) + " reported it, but " + carried);
}

LineCheckResult CheckParityWay(LineBorrow& job, PortWorker& from, PortWorker& to) {
    const DCB mine = from.WantedDcb();
    if (mine.Parity == NOPARITY || mine.Parity > SPACEPARITY)
        return Result(LineVerdict::NotChecked, "not checked (no parity set)");
    // A pty keeps every character 8 bits without parity.
    if (OnPseudoTerminal(job, from, to)) return Result(LineVerdict::NotSupported, "not supported");

    DCB burst = mine;
    burst.Parity = OtherParity(mine.Parity);
    burst.fParity = 1;
    const std::string sent = ParityName(burst.Parity);
    if (!job.ForgetErrors(to) || !job.SetLine(from, burst)) return job.StoppedResult();
    const uint64_t written0 = from.blocksWritten.load(kRelaxed);
    job.Read(to, true);
    job.Write(from, true);
    bool reached = false;
    bool seen = false;
    const bool burstSent = job.WrittenAtLeast(from, written0 + job.timing().burstBlocks, reached);
    job.Write(from, false);
    if (!burstSent || !Reported(job, to, CE_RXPARITY, seen) || !job.Quiet(to))
        return job.StoppedResult();
    job.Read(to, false);
    if (!job.GiveBack(from)) return job.StoppedResult();
    const uint64_t burstBlocks = from.blocksWritten.load(kRelaxed) - written0;
    if (!seen)
        return Result(LineVerdict::Failed, PortNumber(to) + " flagged no parity error in " +
                                               std::to_string(burstBlocks) +
                                               (burstBlocks == 1 ? " block" : " blocks") +
                                               " with " + sent + " parity");
    std::string carried;
    bool whole = false;
    if (!Carry(job, from, to, carried, whole)) return job.StoppedResult();
    return whole ? Result(LineVerdict::Passed,
                          PortNumber(to) + " flagged " + sent + " parity; " + carried)
                 : Result(LineVerdict::Failed,
                          PortNumber(to) + " flagged " + sent + " parity, but " + carried);
}
