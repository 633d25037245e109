#include "tester/config/configuration.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/profile.h"

const ColumnDescriptor kDefaultColumns[kColumnCount] = {
    {0, "#", 1, 40},       {1, "Name", 1, 60}, {2, "Rx#", 1, 85},
    {3, "Tx#", 1, 85},     {4, "CPS", 1, 45},  {5, "Err#", 1, 40},
    {6, "ErrDesc", 1, 75}, {7, "Time", 1, 55}, {8, "State", 1, 40},
};

Configuration configuration;
std::string configPath = "./vesktestw.ini";

uint32_t LineFlags::word() const {
    return rtsControl | dtrControl << 2 | outxCtsFlow << 4 | outxDsrFlow << 5 |
           dsrSensitivity << 6 | outX << 7 | inX << 8 | txContinueOnXoff << 9;
}

LineFlags LineFlags::fromWord(uint32_t word) {
    LineFlags f{};
    f.rtsControl = word & 3;
    f.dtrControl = word >> 2 & 3;
    f.outxCtsFlow = word >> 4 & 1;
    f.outxDsrFlow = word >> 5 & 1;
    f.dsrSensitivity = word >> 6 & 1;
    f.outX = word >> 7 & 1;
    f.inX = word >> 8 & 1;
    f.txContinueOnXoff = word >> 9 & 1;
    return f;
}

Configuration::Configuration()
    : windowTop(0), windowBottom(0), windowLeft(0), windowRight(0), portCount(0) {
    std::memcpy(columns, kDefaultColumns, sizeof columns);
}

namespace {

// The schema: every key of the file in the order it is read and written,
// with its default, its load check and its field. [Columns] and [Ports]
// follow it (see LoadConfiguration).
struct Key {
    const char* section;
    const char* name;
    int32_t defaultValue;
    uint32_t (*check)(uint32_t value);
    void (*set)(Configuration& c, uint32_t value);
    int32_t (*get)(const Configuration& c);
};

uint32_t asIs(uint32_t v) {
    return v;
}
// The two-bit line controls: DTR knows 0..2, RTS also 3 (Toggle).
uint32_t lineControl(uint32_t v) {
    return (v & 3) == 3 ? 0 : v & 3;
}
uint32_t rtsControl(uint32_t v) {
    return v & 3;
}
uint32_t oneBit(uint32_t v) {
    return v & 1;
}

template <typename Setter>
void setFlags(Configuration& c, Setter change) {
    LineFlags f = c.portSettings.lineFlags;
    change(f);
    c.portSettings.lineFlags = f;
}

int32_t s(uint32_t v) {
    return static_cast<int32_t>(v);
}

const Key kSchema[] = {
    {"Misc", "BlockSize", 1024, [](uint32_t v) { return v < 32 || v > 64000 ? 1024u : v; },
     [](Configuration& c, uint32_t v) { c.portSettings.blockSize = v; },
     [](const Configuration& c) { return s(c.portSettings.blockSize); }},
    // The settings form's range, 0..300000 ms: a negative value would be
    // read as a reply wait of weeks.
    {"Misc", "HDTimeout", 1,
     [](uint32_t v) { return static_cast<int32_t>(v) < 0 || v > 300000 ? 1u : v; },
     [](Configuration& c, uint32_t v) { c.portSettings.hdTimeout = s(v); },
     [](const Configuration& c) { return c.portSettings.hdTimeout.load(); }},
    {"Misc", "Reconnect", 1, [](uint32_t v) { return v != 0 ? 1u : 0u; },
     [](Configuration& c, uint32_t v) { c.portSettings.reconnect = v; },
     [](const Configuration& c) { return s(c.portSettings.reconnect); }},
    {"Serial", "BaudRate", 115200, asIs,
     [](Configuration& c, uint32_t v) { c.portSettings.baudRate = v; },
     [](const Configuration& c) { return s(c.portSettings.baudRate); }},
    {"Serial", "ByteSize", 8, [](uint32_t v) { return v < 5 || v > 8 ? 8u : v; },
     [](Configuration& c, uint32_t v) { c.portSettings.byteSize = v; },
     [](const Configuration& c) { return s(c.portSettings.byteSize); }},
    {"Serial", "Parity", 0, [](uint32_t v) { return v > 4 ? 0u : v; },
     [](Configuration& c, uint32_t v) { c.portSettings.parity = v; },
     [](const Configuration& c) { return s(c.portSettings.parity); }},
    {"Serial", "StopBits", 0, [](uint32_t v) { return v > 2 ? 0u : v; },
     [](Configuration& c, uint32_t v) { c.portSettings.stopBits = v; },
     [](const Configuration& c) { return s(c.portSettings.stopBits); }},
    {"Serial", "FlowCtrl", 0, [](uint32_t v) { return v > 4 ? 0u : v; },
     [](Configuration& c, uint32_t v) { c.portSettings.flowControl = v; },
     [](const Configuration& c) { return s(c.portSettings.flowControl); }},
    {"Serial", "RtsControl", 0, rtsControl,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.rtsControl = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().rtsControl); }},
    {"Serial", "DtrControl", 0, lineControl,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.dtrControl = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().dtrControl); }},
    {"Serial", "OutxCtsFlow", 0, oneBit,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.outxCtsFlow = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().outxCtsFlow); }},
    {"Serial", "OutxDsrFlow", 0, oneBit,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.outxDsrFlow = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().outxDsrFlow); }},
    {"Serial", "DsrSensitivity", 0, oneBit,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.dsrSensitivity = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().dsrSensitivity); }},
    {"Serial", "OutX", 0, oneBit,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.outX = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().outX); }},
    {"Serial", "InX", 0, oneBit,
     [](Configuration& c, uint32_t v) { setFlags(c, [v](LineFlags& f) { f.inX = v; }); },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().inX); }},
    {"Serial", "TXContinueOnXoff", 0, oneBit,
     [](Configuration& c, uint32_t v) {
         setFlags(c, [v](LineFlags& f) { f.txContinueOnXoff = v; });
     },
     [](const Configuration& c) { return s(c.portSettings.lineFlags.load().txContinueOnXoff); }},
    {"Window", "Top", 100, asIs, [](Configuration& c, uint32_t v) { c.windowTop = s(v); },
     [](const Configuration& c) { return c.windowTop; }},
    {"Window", "Bottom", 499, asIs, [](Configuration& c, uint32_t v) { c.windowBottom = s(v); },
     [](const Configuration& c) { return c.windowBottom; }},
    {"Window", "Left", 100, asIs, [](Configuration& c, uint32_t v) { c.windowLeft = s(v); },
     [](const Configuration& c) { return c.windowLeft; }},
    {"Window", "Right", 699, asIs, [](Configuration& c, uint32_t v) { c.windowRight = s(v); },
     [](const Configuration& c) { return c.windowRight; }},
};

const char kColumnsSection[] = "Columns";

std::string columnKey(int i) {
    char key[24];
    std::snprintf(key, sizeof key, "ColumnWidth%d", i);
    return key;
}

std::string decimal(int32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", v);
    return text;
}

constexpr uint32_t kSectionBufferSize = 32768;

}  // namespace

void SetConfigPath(const char* text) {
    if (text && *text) configPath = text;
}

int LoadConfiguration() {
    const char* path = configPath.c_str();
    for (const Key& k : kSchema)
        k.set(configuration,
              k.check(plat::profileReadInt(k.section, k.name, k.defaultValue, path)));
    for (int i = 0; i < kColumnCount; ++i)
        configuration.columns[i].width = static_cast<int32_t>(plat::profileReadInt(
            kColumnsSection, columnKey(i).c_str(), kDefaultColumns[i].width, path));
    LoadPortNames();
    BuildSummary();
    return 0;
}

int LoadPortNames() {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kSectionBufferSize]());
    if (!buffer) return -1;
    std::vector<std::string> names;
    uint32_t n =
        plat::profileReadSection("Ports", buffer.get(), kSectionBufferSize, configPath.c_str());
    if (n > kSectionBufferSize - 2) n = kSectionBufferSize - 2;  // never trust past the buffer
    for (uint32_t at = 0; at < n && buffer[at] != '\0';) {
        size_t len = strnlen(&buffer[at], n - at);
        names.emplace_back(&buffer[at], len);
        at += static_cast<uint32_t>(len) + 1;
    }
    // A section larger than the buffer comes back cut at the buffer's end,
    // possibly in the middle of a name ("COM1" of "COM12"). Such a result
    // cannot be told from one that just fits, so the last name is dropped
    // whenever the buffer was full: testing a port nobody listed would be
    // worse than leaving out the last one of an over-long list.
    if (n == kSectionBufferSize - 2 && !names.empty()) names.pop_back();
    if (names.empty()) {
        for (int i = 1; i <= 255; ++i)
            names.push_back("COM" + decimal(i));
    }
    configuration.portNames.swap(names);
    configuration.portCount = static_cast<uint32_t>(configuration.portNames.size());
    return 0;
}

int GetPortName(uint32_t index, std::string& name) {
    if (index >= configuration.portCount || index >= configuration.portNames.size()) return -1;
    name = configuration.portNames[index];
    return 0;
}

void BuildSummary() {
    const PortSettings& p = configuration.portSettings;
    char text[256];
    std::snprintf(text, sizeof text,
                  "Comm setting: %d,%d,%s,%s   Flow control: %s   Block size: %d bytes   "
                  "HD Timeout: %d ms",
                  s(p.baudRate), s(p.byteSize), NameOf(ParityNames, p.parity),
                  NameOf(StopBitsNames, p.stopBits), NameOf(FlowControlNames, p.flowControl),
                  s(p.blockSize), p.hdTimeout.load());
    configuration.summaryText = text;
}

int SaveConfiguration() {
    const char* path = configPath.c_str();
    // The first write that fails ends the save: the rest would fail the
    // same way, and its error is the one to report.
    for (const Key& k : kSchema)
        if (!plat::profileWriteString(k.section, k.name, decimal(k.get(configuration)).c_str(),
                                      path))
            return -1;
    for (int i = 0; i < kColumnCount; ++i)
        if (!plat::profileWriteString(kColumnsSection, columnKey(i).c_str(),
                                      decimal(configuration.columns[i].width).c_str(), path))
            return -1;
    return 0;
}
