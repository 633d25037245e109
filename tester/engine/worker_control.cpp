// What the commands do to a worker, on the window's thread: run events,
// mode, counters, texts and line settings. Nothing here waits on the
// worker's threads (but new line settings, for the receiver's read in
// progress to be aborted, milliseconds); they see a change at their next
// zero-time-out test or when a direction next starts.
#include <mutex>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/config/configuration.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/worker_events.h"
#include "platform/name_table.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// A routine that finds the stop count moved ends, even when the direction
// was started again before its next look at the event (so it starts anew
// and takes the new settings and mode). The event is reset before the stop
// is counted: a routine that ended on the count would otherwise find the
// event still set, start again at once and zero its run's byte count (the
// block count goes on), or even send on after the stop.
void Stop(plat::Event& run, std::atomic<uint32_t>& running, std::atomic<uint32_t>& stops) {
    run.reset();
    stops.fetch_add(1, std::memory_order_release);
    running.store(0, kRelaxed);
}

// Flips one direction; a wait that fails changes nothing.
void Toggle(plat::Event& run, std::atomic<uint32_t>& running, std::atomic<uint32_t>& stops) {
    const int state = run.wait(0);
    if (state == 0) {
        Stop(run, running, stops);
    } else if (state == plat::kWaitTimeout) {
        run.set();
        running.store(1, kRelaxed);
    }
}

BOOL NotReady() {
    plat::setLastError(ERROR_NOT_READY);
    return FALSE;
}

bool SpeedDiffers(uint32_t set, uint32_t asked) {
    const double off = asked == 0 ? 0 : (double(set) - double(asked)) / double(asked);
    return off > kSpeedRounding || off < -kSpeedRounding;
}

void Go(plat::Event& run, std::atomic<uint32_t>& running) {
    run.set();
    running.store(1, kRelaxed);
}

}  // namespace

void PortWorker::ToggleRun() {
    const bool txSet = txRunEvent.tryWait();
    const bool rxSet = rxRunEvent.tryWait();
    if (txSet || rxSet) {
        Stop(txRunEvent, txRunning, txStops_);
        Stop(rxRunEvent, rxRunning, rxStops_);
        return;
    }
    // The receive side's quiet time counts from the start, not from the
    // last run's last byte (the routine notes the time again as it begins).
    lastRxTick_.store(plat::tickCount(), kRelaxed);
    const uint32_t m = mode.load(kRelaxed);
    if (m == ModeDuplex || m == ModeSlave) Go(rxRunEvent, rxRunning);
    if (m == ModeDuplex || m == ModeMaster) Go(txRunEvent, txRunning);
}

void PortWorker::ToggleRead() {
    mode.store(ModeDuplex, kRelaxed);
    lastRxTick_.store(plat::tickCount(), kRelaxed);
    Toggle(rxRunEvent, rxRunning, rxStops_);
}

void PortWorker::ToggleWrite() {
    mode.store(ModeDuplex, kRelaxed);
    Toggle(txRunEvent, txRunning, txStops_);
}

void PortWorker::SetMode(uint32_t newMode) {
    mode.store(newMode, kRelaxed);
}

void PortWorker::PairByRow() {
    mode.store(rowIndex % 2 != 0 ? ModeSlave : ModeMaster, kRelaxed);
}

void PortWorker::Clear() {
    mode.store(ModeDuplex, kRelaxed);
    ZeroCounters();
    SetTexts("  ");
}

void PortWorker::Purge() {
    portAccess.Purge(portHandle.load(kRelaxed), kPurgeAll);
    ClearCommErrors();
}

bool PortWorker::ApplySettings() {
    Stop(txRunEvent, txRunning, txStops_);
    Stop(rxRunEvent, rxRunning, rxStops_);
    // The stopped receiver may still wait in a read, which would go on to
    // its time-out. Left to go on, it would take the first bytes of the
    // next run (started at once by a script or a sweep) and check them
    // against the old settings: its read is aborted instead, and once the
    // receive side was had the routine ends before it reads again. What it
    // assembled belonged to the old settings.
    const bool had = WithReceiveSide(kSideBoundMs, [this] { DropAssembled(); });
    if (!had && events_) events_->ReceiverKeptReading(rowIndex, PortName());
    ZeroCounters();
    SetTexts("  ");
    ApplyToDcb();
    const DCB wanted = Dcb();
    const HANDLE handle = portHandle.load(kRelaxed);
    if (portDown.load(kRelaxed) == 0 && handle != INVALID_HANDLE_VALUE) {
        PutLineSettings(handle, wanted);
    } else if (notReady.load(kRelaxed) == 0) {
        // Down: the port gets them when it is open again.
        std::lock_guard<std::mutex> hold(fieldLock);
        CopyLineSettings(wanted, lineWanted_);
        lineByteSize_.store(wanted.ByteSize, kRelaxed);
    }
    hdTimeoutMs.store(static_cast<uint32_t>(settings_.hdTimeout.load()), kRelaxed);
    return had;
}

bool PortWorker::ForgetReceived(uint32_t nextSequence) {
    // The number before it, as CheckBlock counts: the last before 0 is the
    // limit's last.
    const uint32_t last = (nextSequence == 0 ? kSequenceLimit : nextSequence) - 1;
    return WithReceiveSide(kSideBoundMs, [this, last] {
        DropAssembled();
        lastRxSeq.store(static_cast<int32_t>(last), kRelaxed);
    });
}

bool PortWorker::PutLineSettings(HANDLE handle, const DCB& wanted) {
    DCB line = wanted;
    baudAsked_.store(wanted.BaudRate, kRelaxed);
    // The network library sets no error of its own: what a refusal leaves
    // must not be whatever an earlier call on this thread left.
    plat::setLastError(0);
    if (portAccess.SetState(handle, &line)) {
        // A driver may take a speed it cannot make and quietly set the
        // nearest it can (Linux serial drivers clip or fall back, and say
        // so only in what they report back): the blocks still arrive
        // intact, at the wrong pace. That is a refused setting too.
        // A speed a divisor rounds to within kSpeedRounding is the speed
        // asked for: a UART keeps in step across a few percent.
        DCB back{};
        const bool read = portAccess.GetState(handle, &back) != 0;
        const uint32_t set = read && back.BaudRate != 0 ? back.BaudRate : wanted.BaudRate;
        const bool substituted = SpeedDiffers(set, wanted.BaudRate);
        baudSet_.store(set, kRelaxed);
        {
            std::lock_guard<std::mutex> hold(fieldLock);
            dcb = wanted;
            dcb.BaudRate = set;
            // Asked for again when a lost port is opened anew.
            lineWanted_ = wanted;
            lineByteSize_.store(wanted.ByteSize, kRelaxed);
        }
        speedSubstituted_.store(substituted, kRelaxed);
        if (!substituted) {
            settingsRefused.store(0, kRelaxed);
            return true;
        }
        {
            std::lock_guard<std::mutex> hold(fieldLock);
            settingsRefusedText_ =
                portAccess.ErrorText(plat::Error{ERROR_INVALID_PARAMETER, false});
        }
        settingsRefused.store(ERROR_INVALID_PARAMETER, kRelaxed);
        lastOsError.store(ERROR_INVALID_PARAMETER, kRelaxed);
        lastErrorKind.store(kErrorSettings, kRelaxed);
        return false;
    }
    plat::Error error = plat::currentError();
    if (error.code == 0) error = plat::Error{ERROR_INVALID_PARAMETER, false};
    speedSubstituted_.store(false, kRelaxed);
    if (!error.system && error.code == ERROR_INVALID_HANDLE) {
        // The port was closed under the call: it is being opened again
        // after a loss, and takes these settings when it is open.
        std::lock_guard<std::mutex> hold(fieldLock);
        CopyLineSettings(wanted, lineWanted_);
        lineByteSize_.store(wanted.ByteSize, kRelaxed);
        return false;
    }
    // The port keeps what it had: the worker goes by that from now on.
    DCB kept{};
    const bool read = portAccess.GetState(handle, &kept) != 0;
    {
        std::lock_guard<std::mutex> hold(fieldLock);
        if (read) {
            dcb = kept;
            lineWanted_ = kept;
            lineByteSize_.store(kept.ByteSize, kRelaxed);
            baudSet_.store(kept.BaudRate, kRelaxed);
        }
    }
    {
        std::lock_guard<std::mutex> hold(fieldLock);
        settingsRefusedText_ = portAccess.ErrorText(error);
    }
    settingsRefused.store(error.code, kRelaxed);
    lastOsError.store(error.code, kRelaxed);
    lastErrorKind.store(kErrorSettings, kRelaxed);
    return false;
}

void PortWorker::ApplyToDcb() {
    const PortSettings& s = settings_;
    const LineFlags flags = s.lineFlags;
    const uint32_t parity = s.parity;
    std::lock_guard<std::mutex> hold(fieldLock);
    dcb.BaudRate = s.baudRate;
    dcb.ByteSize = static_cast<BYTE>(s.byteSize);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.StopBits = static_cast<BYTE>(s.stopBits);
    dcb.fRtsControl = flags.rtsControl;
    dcb.fDtrControl = flags.dtrControl;
    dcb.fOutxCtsFlow = flags.outxCtsFlow;
    dcb.fOutxDsrFlow = flags.outxDsrFlow;
    dcb.fDsrSensitivity = flags.dsrSensitivity;
    dcb.fOutX = flags.outX;
    dcb.fInX = flags.inX;
    dcb.fTXContinueOnXoff = flags.txContinueOnXoff;
}

void CopyLineSettings(const DCB& from, DCB& to) {
    to.BaudRate = from.BaudRate;
    to.ByteSize = from.ByteSize;
    to.Parity = from.Parity;
    to.fParity = from.fParity;
    to.StopBits = from.StopBits;
    to.fRtsControl = from.fRtsControl;
    to.fDtrControl = from.fDtrControl;
    to.fOutxCtsFlow = from.fOutxCtsFlow;
    to.fOutxDsrFlow = from.fOutxDsrFlow;
    to.fDsrSensitivity = from.fDsrSensitivity;
    to.fOutX = from.fOutX;
    to.fInX = from.fInX;
    to.fTXContinueOnXoff = from.fTXContinueOnXoff;
}

BOOL PortWorker::OnPort(const std::function<BOOL(PortAccess&, HANDLE)>& op) {
    BOOL ok = FALSE;
    plat::Error error{ERROR_NOT_READY, false};
    {
        std::lock_guard<std::mutex> hold(otherSide);
        const HANDLE handle = OpenHandle();
        if (handle != INVALID_HANDLE_VALUE) {
            ok = op(portAccess, handle);
            error = plat::currentError();
        }
    }
    plat::restoreError(error);
    return ok;
}

HANDLE PortWorker::OpenHandle() const {
    const HANDLE handle = portHandle.load(kRelaxed);
    if (notReady.load(kRelaxed) != 0 || portDown.load(kRelaxed) != 0) return INVALID_HANDLE_VALUE;
    return handle;
}

BOOL PortWorker::ReadPort(void* buffer, DWORD count, DWORD* got) {
    PortTurn::Hold turn(readTurn_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return NotReady();
    return portAccess.Read(handle, buffer, count, got);
}

BOOL PortWorker::WritePort(const void* buffer, DWORD count, DWORD* sent) {
    PortTurn::Hold turn(writeTurn_);
    const HANDLE handle = OpenHandle();
    if (handle == INVALID_HANDLE_VALUE) return NotReady();
    return portAccess.Write(handle, buffer, count, sent);
}

uint32_t PortWorker::ReadLineErrors(uint32_t shown) {
    const bool read = ClearCommErrors() != 0;
    if (read) NoteModeError(commErrors.load(kRelaxed));
    const uint32_t bits = commErrors.load(kRelaxed) & shown;
    commErrors.store(bits, kRelaxed);
    if (read && bits != 0) {
        lineErrorCount.fetch_add(1, kRelaxed);
        lineErrorBits.fetch_or(bits, kRelaxed);
        for (uint32_t kind = 0; kind < kLineErrorKinds; ++kind)
            if (bits & kLineErrorKindBits[kind]) lineErrorsOfKind[kind].fetch_add(1, kRelaxed);
    }
    return bits;
}

void PortWorker::NoteModeError(uint32_t errors) {
    if ((errors & CE_MODE) == 0) return;
    if (lineLent_.load()) {
        lentRefused_.store(true);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(fieldLock);
        settingsRefusedText_ =
            "the port answered with other line settings than " +
            LineSettingsText(lineByteSize_.load(kRelaxed) != 0 ? lineWanted_ : dcb);
    }
    settingsRefused.store(ERROR_INVALID_PARAMETER, kRelaxed);
    lastOsError.store(ERROR_INVALID_PARAMETER, kRelaxed);
    lastErrorKind.store(kErrorSettings, kRelaxed);
}

void PortWorker::LendLine(bool lent) {
    lineLent_.store(lent);
    if (!lent) lentRefused_.store(false);
}

bool PortWorker::TakeLentRefusal() {
    return lentRefused_.exchange(false);
}

std::string LineSettingsText(const DCB& dcb) {
    static const char kParity[] = "NOEMS";
    static const char* const kStop[] = {"1", "1.5", "2"};
    std::string text = std::to_string(dcb.BaudRate) + " " + std::to_string(dcb.ByteSize) +
                       (dcb.Parity < 5 ? kParity[dcb.Parity] : '?') +
                       (dcb.StopBits < 3 ? kStop[dcb.StopBits] : "?");
    std::string flow;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) flow += ", RTS/CTS";
    if (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) flow += ", DTR/DSR";
    if (dcb.fOutX || dcb.fInX) flow += ", XON/XOFF";
    return text + (flow.empty() ? ", no flow control" : flow);
}

BOOL PortWorker::ClearCommErrors() {
    DWORD errors = 0;
    COMSTAT status{};
    const BOOL ok = portAccess.ClearError(portHandle.load(kRelaxed), &errors, &status);
    if (ok) {
        commErrors.store(errors, kRelaxed);
        std::lock_guard<std::mutex> hold(fieldLock);
        comStat = status;
    }
    return ok;
}

void PortWorker::ZeroCounters() {
    for (std::atomic<uint32_t>* field : {&rxErrors, &txErrors, &rate, &commErrors, &lastOsError,
                                         &drops, &blocksLost, &lineErrorCount, &lineErrorBits})
        field->store(0, kRelaxed);
    for (std::atomic<uint32_t>& count : lineErrorsOfKind)
        count.store(0, kRelaxed);
    bytesRead.store(originBytes_.load(kRelaxed), kRelaxed);
    bytesWritten.store(originBytes_.load(kRelaxed), kRelaxed);
    blocksOk.store(0, kRelaxed);
    blocksWritten.store(0, kRelaxed);
    elapsedMs.store(originElapsedMs_.load(kRelaxed), kRelaxed);
    lastErrorKind.store(kErrorNone, kRelaxed);
    roundTrips.Reset();
}

void PortWorker::SetTexts(const char* text) {
    std::lock_guard<std::mutex> hold(fieldLock);
    commErrorText = text;
    lastErrorKindText = text;
}

std::string PortWorker::PortName() const {
    return Locked(portName);
}

std::string PortWorker::OpenFailure() const {
    return Locked(openFailure);
}

std::string PortWorker::CommErrorText() const {
    return Locked(commErrorText);
}

void PortWorker::SetCommErrorText(const char* text) {
    SetLocked(commErrorText, text);
}

std::string PortWorker::LastErrorKindText() const {
    return Locked(lastErrorKindText);
}

void PortWorker::SetLastErrorKindText(const char* text) {
    SetLocked(lastErrorKindText, text);
}

std::string PortWorker::Locked(const std::string& field) const {
    std::lock_guard<std::mutex> hold(fieldLock);
    return field;
}

void PortWorker::SetLocked(std::string& field, const char* text) {
    std::lock_guard<std::mutex> hold(fieldLock);
    field = text ? text : "";
}

DCB PortWorker::Dcb() const {
    std::lock_guard<std::mutex> hold(fieldLock);
    return dcb;
}

DCB PortWorker::WantedDcb() const {
    std::lock_guard<std::mutex> hold(fieldLock);
    DCB wanted = dcb;
    if (lineByteSize_.load(kRelaxed) != 0) CopyLineSettings(lineWanted_, wanted);
    return wanted;
}

COMSTAT PortWorker::ComStat() const {
    std::lock_guard<std::mutex> hold(fieldLock);
    return comStat;
}

PortState PortWorker::State() const {
    const PortState phase = phase_.load();
    if (phase == PortState::Open && portDown.load(kRelaxed) != 0) return PortState::Down;
    return phase;
}

PortSnapshot PortWorker::Snapshot() const {
    PortSnapshot s;
    s.rowIndex = rowIndex;
    s.state = State();
    s.kind = s.Ready() ? portAccess.Kind() : DeviceKind::Unknown;
    s.mode = mode.load(kRelaxed);
    s.rxRunning = rxRunning.load(kRelaxed);
    s.txRunning = txRunning.load(kRelaxed);
    s.rxBusy = rxBusy_.load();
    s.txBusy = txBusy_.load();
    s.bytesRead = bytesRead.load(kRelaxed);
    s.blocksOk = blocksOk.load(kRelaxed);
    s.bytesWritten = bytesWritten.load(kRelaxed);
    s.blocksWritten = blocksWritten.load(kRelaxed);
    s.elapsedMs = elapsedMs.load(kRelaxed);
    s.rate = rate.load(kRelaxed);
    s.rxErrors = rxErrors.load(kRelaxed);
    s.txErrors = txErrors.load(kRelaxed);
    s.lastErrorKind = lastErrorKind.load(kRelaxed);
    s.lastOsError = lastOsError.load(kRelaxed);
    s.drops = drops.load(kRelaxed);
    s.blocksLost = blocksLost.load(kRelaxed);
    s.lineErrorCount = lineErrorCount.load(kRelaxed);
    s.lineErrorBits = lineErrorBits.load(kRelaxed);
    for (uint32_t kind = 0; kind < kLineErrorKinds; ++kind)
        s.lineErrorsOfKind[kind] = lineErrorsOfKind[kind].load(kRelaxed);
    s.replyAwaited = replyAwaited.load(kRelaxed);
    s.settingsRefused = settingsRefused.load(kRelaxed);

    s.baudAsked = baudAsked_.load(kRelaxed);
    s.baudSet = baudSet_.load(kRelaxed);
    s.speedSubstituted = speedSubstituted_.load(kRelaxed);
    s.blockSize = blockSize.load(kRelaxed);
    s.rxFill = rxFill.load(kRelaxed);
    s.roundTrips = roundTrips.Summarise();
    const bool receiving = s.mode == ModeMaster ? s.txRunning != 0 : s.rxRunning != 0;
    if (receiving && s.state == PortState::Open)
        s.rxIdleMs = plat::ticksBetween(lastRxTick_.load(kRelaxed), plat::tickCount());
    std::lock_guard<std::mutex> hold(fieldLock);
    s.portName = portName;
    s.openFailure = openFailure;
    if (s.settingsRefused != 0) s.settingsRefusedText = settingsRefusedText_;
    s.commErrorText = commErrorText;
    s.lastErrorKindText = lastErrorKindText;
    return s;
}

const char* PortStateName(PortState state) {
    static const char* const kNames[] = {"opening", "not open", "no buffers", "open", "down"};
    return plat::NameOf(state, kNames);
}
