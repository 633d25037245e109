#include "tester/session/settings_form.h"

#include <cstdio>

#include "tester/config/configuration.h"
#include "tester/engine/port_worker.h"

namespace {

// The handshake part of one preset.
struct PresetRow {
    const char* rts;
    int32_t outxCtsFlow;
    const char* dtr;
    int32_t outxDsrFlow;
    int32_t dsrSensitivity;
    int32_t outX;
    int32_t inX;
    int32_t txContinueOnXoff;
};

// Presets 0 to 3; 4 ("Custom") comes from the stored lineFlags.
const PresetRow kPresets[4] = {
    {"Low", 0, "Low", 0, 0, 0, 0, 0},       // None
    {"Control", 1, "High", 0, 0, 0, 0, 0},  // Rts/Cts
    {"High", 0, "Control", 1, 1, 0, 0, 0},  // Dtr/Dsr
    {"High", 0, "High", 0, 0, 1, 1, 0},     // Xon/Xoff
};
constexpr int32_t kCustomPreset = 4;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Blanks, an optional sign and the digits' magnitude (saturated above
// 2^32, which every caller rejects). False without digits.
bool ReadMagnitude(const std::string& text, bool& negative, uint64_t& magnitude) {
    size_t at = 0;
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const size_t first = at;
    magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[at] - '0');
        if (magnitude > 0x100000000ull) magnitude = 0x100000000ull;
    }
    return at > first;
}

std::string Decimal(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

// The position of the entry equal to `text` (exact, case-sensitive), or -1.
template <size_t N>
int32_t PositionOf(const char* const (&table)[N], const std::string& text) {
    for (size_t i = 0; i < N; ++i)
        if (text == table[i]) return static_cast<int32_t>(i);
    return -1;
}

// The byte-size text's leading decimal number (after blanks; no sign), 0
// without one. No range test: the value goes to the settings as typed.
uint32_t LeadingNumber(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    uint32_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + static_cast<uint32_t>(text[at] - '0');
        if (value > 0x7FFFFFFF / 10) return 0x7FFFFFFF;
    }
    return value;
}

template <size_t N>
std::vector<const char*> Items(const char* const (&table)[N]) {
    return std::vector<const char*>(table, table + N);
}

}  // namespace

bool ReadUnsignedDecimal(const std::string& text, uint32_t& value) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!ReadMagnitude(text, negative, magnitude) || magnitude > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(magnitude);
    if (negative) value = 0u - value;
    return true;
}

bool ReadSignedDecimal(const std::string& text, int32_t& value) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!ReadMagnitude(text, negative, magnitude)) return false;
    if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return false;
    value = negative ? static_cast<int32_t>(0 - static_cast<int64_t>(magnitude))
                     : static_cast<int32_t>(magnitude);
    return true;
}

std::string DefaultHdTimeoutText(uint32_t blockSize, uint32_t baudRate) {
    return Decimal(static_cast<int32_t>(DefaultReplyTimeoutMs(blockSize, baudRate)));
}

void PortSettingsForm::Load() {
    const PortSettings& s = configuration.portSettings;
    values_ = SettingsWorkingCopy();
    values_.blockSize = static_cast<int32_t>(s.blockSize.load());
    values_.baudRate = static_cast<int32_t>(s.baudRate.load());
    values_.byteSizeText = Decimal(static_cast<int32_t>(s.byteSize.load()));
    values_.parityText = NameOf(ParityNames, s.parity);
    values_.stopBitsText = NameOf(StopBitsNames, s.stopBits);
    const uint32_t flowControl = s.flowControl;
    if (flowControl <= static_cast<uint32_t>(kCustomPreset))
        ApplyPreset(static_cast<int32_t>(flowControl));
    customEnabled_ = flowControl == static_cast<uint32_t>(kCustomPreset);
    values_.hdTimeout = s.hdTimeout;
    blockSizeText_ = Decimal(values_.blockSize);
    baudRateText_ = Decimal(values_.baudRate);
    hdTimeoutText_ = Decimal(values_.hdTimeout);
    ShowDefaultHdTimeout(static_cast<uint32_t>(values_.blockSize),
                         static_cast<uint32_t>(values_.baudRate));
}

std::string PortSettingsForm::TextOf(int id) const {
    switch (id) {
        case IDC_BLOCK_SIZE:
            return blockSizeText_;
        case IDC_BAUD_RATE:
            return baudRateText_;
        case IDC_HD_TIMEOUT:
            return hdTimeoutText_;
        case IDC_BYTE_SIZE:
            return values_.byteSizeText;
        case IDC_PARITY:
            return values_.parityText;
        case IDC_STOP_BITS:
            return values_.stopBitsText;
        case IDC_RTS_CONTROL:
            return values_.rtsText;
        case IDC_DTR_CONTROL:
            return values_.dtrText;
        default:
            return "";
    }
}

namespace {

// The working copy's field behind a check box, or null.
template <typename Copy>
auto CheckField(Copy& v, int id) -> decltype(&v.outX) {
    switch (id) {
        case IDC_OUTX_CTS_FLOW:
            return &v.outxCtsFlow;
        case IDC_OUTX_DSR_FLOW:
            return &v.outxDsrFlow;
        case IDC_DSR_SENSITIVITY:
            return &v.dsrSensitivity;
        case IDC_OUT_X:
            return &v.outX;
        case IDC_IN_X:
            return &v.inX;
        case IDC_TX_CONTINUE_ON_XOFF:
            return &v.txContinueOnXoff;
        default:
            return nullptr;
    }
}

}  // namespace

int32_t PortSettingsForm::CheckOf(int id) const {
    const int32_t* field = CheckField(values_, id);
    if (!field) return 0;
    return *field >= 0 && *field <= 2 ? *field : 0;
}

bool PortSettingsForm::InCustomGroup(int id) {
    switch (id) {
        case IDC_RTS_CONTROL:
        case IDC_RTS_LABEL:
        case IDC_OUTX_CTS_FLOW:
        case IDC_DTR_CONTROL:
        case IDC_DTR_LABEL:
        case IDC_OUTX_DSR_FLOW:
        case IDC_DSR_SENSITIVITY:
        case IDC_OUT_X:
        case IDC_IN_X:
        case IDC_TX_CONTINUE_ON_XOFF:
            return true;
        default:
            return false;
    }
}

std::vector<const char*> PortSettingsForm::ComboItems(int id) {
    switch (id) {
        case IDC_BYTE_SIZE:
            return Items(ByteSizeNames);
        case IDC_PARITY:
            return Items(ParityNames);
        case IDC_STOP_BITS:
            return Items(StopBitsNames);
        case IDC_RTS_CONTROL:
            return Items(RtsControlNames);
        case IDC_DTR_CONTROL:
            return Items(LineControlNames);
        default:
            return {};
    }
}

FormCheck PortSettingsForm::TextChanged(int id, const std::string& text) {
    switch (id) {
        case IDC_BLOCK_SIZE:
            blockSizeText_ = text;
            return RangeRule(id, text, values_.blockSize, kMinBlockSize, kMaxBlockSize);
        case IDC_BAUD_RATE:
            baudRateText_ = text;
            return RangeRule(id, text, values_.baudRate, kMinBaudRate, kMaxBaudRate);
        case IDC_HD_TIMEOUT: {
            hdTimeoutText_ = text;
            int32_t value = 0;
            values_.hdTimeout = ReadSignedDecimal(text, value) ? value : 0;
            break;
        }
        case IDC_BYTE_SIZE:
            values_.byteSizeText = text;
            break;
        case IDC_PARITY:
            values_.parityText = text;
            break;
        case IDC_STOP_BITS:
            values_.stopBitsText = text;
            break;
        case IDC_RTS_CONTROL:
            values_.rtsText = text;
            break;
        case IDC_DTR_CONTROL:
            values_.dtrText = text;
            break;
        default:
            break;
    }
    return FormCheck();
}

FormCheck PortSettingsForm::RangeRule(int id, const std::string& text, int32_t& field, int32_t low,
                                      int32_t high) {
    uint32_t value = 0;
    const bool number = ReadUnsignedDecimal(text, value);
    field = number ? static_cast<int32_t>(value) : 0;
    if (!number || field < low || field > high) return FormCheck{false, id};
    ShowDefaultHdTimeout(static_cast<uint32_t>(values_.blockSize),
                         static_cast<uint32_t>(values_.baudRate));
    return FormCheck();
}

void PortSettingsForm::CheckChanged(int id, int32_t state) {
    if (int32_t* field = CheckField(values_, id)) *field = state;
}

void PortSettingsForm::PresetClicked(int32_t position) {
    if (position < 0 || position > kCustomPreset) return;
    ApplyPreset(position);
    customEnabled_ = position == kCustomPreset;
}

void PortSettingsForm::ApplyPreset(int32_t preset) {
    if (preset < 0 || preset > kCustomPreset) return;
    values_.preset = preset;
    if (preset == kCustomPreset) {
        const LineFlags f = configuration.portSettings.lineFlags;
        values_.rtsText = NameOf(RtsControlNames, f.rtsControl);
        values_.outxCtsFlow = f.outxCtsFlow;
        values_.dtrText = NameOf(LineControlNames, f.dtrControl);
        values_.outxDsrFlow = f.outxDsrFlow;
        values_.dsrSensitivity = f.dsrSensitivity;
        values_.outX = f.outX;
        values_.inX = f.inX;
        values_.txContinueOnXoff = f.txContinueOnXoff;
        return;
    }
    const PresetRow& row = kPresets[preset];
    values_.rtsText = row.rts;
    values_.outxCtsFlow = row.outxCtsFlow;
    values_.dtrText = row.dtr;
    values_.outxDsrFlow = row.outxDsrFlow;
    values_.dsrSensitivity = row.dsrSensitivity;
    values_.outX = row.outX;
    values_.inX = row.inX;
    values_.txContinueOnXoff = row.txContinueOnXoff;
}

void PortSettingsForm::ShowDefaultHdTimeout(uint32_t blockSize, uint32_t baudRate) {
    defaultTimeout_ = DefaultHdTimeoutText(blockSize, baudRate);
}

FormCheck PortSettingsForm::Ok() {
    int32_t blockSize = 0;
    if (!ReadSignedDecimal(blockSizeText_, blockSize) || blockSize < kMinBlockSize ||
        blockSize > kMaxBlockSize)
        return FormCheck{false, IDC_BLOCK_SIZE};
    int32_t baudRate = 0;
    if (!ReadSignedDecimal(baudRateText_, baudRate) || baudRate < kMinBaudRate ||
        baudRate > kMaxBaudRate)
        return FormCheck{false, IDC_BAUD_RATE};
    // A size the line cannot have would be stored and sent to every port
    // the form is applied to, where the driver refuses it.
    const uint32_t byteSize = LeadingNumber(values_.byteSizeText);
    if (byteSize < kMinByteSize || byteSize > kMaxByteSize) return FormCheck{false, IDC_BYTE_SIZE};
    int32_t hdTimeout = 0;
    if (!ReadSignedDecimal(hdTimeoutText_, hdTimeout) || hdTimeout < kMinHdTimeout ||
        hdTimeout > kMaxHdTimeout)
        return FormCheck{false, IDC_HD_TIMEOUT};

    PortSettings& s = configuration.portSettings;
    s.blockSize = static_cast<uint32_t>(blockSize);
    s.baudRate = static_cast<uint32_t>(baudRate);
    s.byteSize = byteSize;
    const int32_t parity = PositionOf(ParityNames, values_.parityText);
    if (parity >= 0) s.parity = static_cast<uint32_t>(parity);
    const int32_t stopBits = PositionOf(StopBitsNames, values_.stopBitsText);
    if (stopBits >= 0) s.stopBits = static_cast<uint32_t>(stopBits);
    s.flowControl = static_cast<uint32_t>(values_.preset);
    LineFlags flags = s.lineFlags;
    const int32_t rts = PositionOf(RtsControlNames, values_.rtsText);
    if (rts >= 0) flags.rtsControl = static_cast<uint32_t>(rts);
    const int32_t dtr = PositionOf(LineControlNames, values_.dtrText);
    if (dtr >= 0) flags.dtrControl = static_cast<uint32_t>(dtr);
    flags.outxCtsFlow = values_.outxCtsFlow & 1;
    flags.outxDsrFlow = values_.outxDsrFlow & 1;
    flags.dsrSensitivity = values_.dsrSensitivity & 1;
    flags.outX = values_.outX & 1;
    flags.inX = values_.inX & 1;
    flags.txContinueOnXoff = values_.txContinueOnXoff & 1;
    s.lineFlags = flags;
    s.hdTimeout = hdTimeout;
    BuildSummary();
    return FormCheck();
}
