#include "tester/config/metrics_settings.h"

#include <cctype>
#include <memory>
#include <new>

#include "platform/profile.h"

namespace {

constexpr uint32_t kSectionBufferSize = 32768;

std::string Trimmed(const std::string& text) {
    size_t from = 0;
    size_t to = text.size();
    while (from < to && std::isspace(static_cast<unsigned char>(text[from])))
        ++from;
    while (to > from && std::isspace(static_cast<unsigned char>(text[to - 1])))
        --to;
    return text.substr(from, to - from);
}

bool SameKey(const std::string& key, const char* name) {
    size_t i = 0;
    for (; i < key.size() && name[i] != '\0'; ++i)
        if (std::tolower(static_cast<unsigned char>(key[i])) !=
            std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return i == key.size() && name[i] == '\0';
}

// A whole decimal number from 1 to kMaxMetricsIntervalSeconds, or 0.
uint32_t Seconds(const std::string& text) {
    if (text.empty() || text.size() > 6) return 0;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value <= kMaxMetricsIntervalSeconds ? value : 0;
}

}  // namespace

MetricsSettings LoadMetricsSettings(const std::string& path) {
    MetricsSettings settings;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kSectionBufferSize]());
    if (!buffer) return settings;
    uint32_t n =
        plat::profileReadSection("Metrics", buffer.get(), kSectionBufferSize, path.c_str());
    if (n > kSectionBufferSize - 2) n = kSectionBufferSize - 2;
    for (uint32_t at = 0; at < n && buffer[at] != '\0';) {
        const std::string line(&buffer[at]);
        at += static_cast<uint32_t>(line.size()) + 1;
        const size_t eq = line.find('=');
        const std::string key = Trimmed(line.substr(0, eq));
        if (eq == std::string::npos || key.empty() || key[0] == ';' || key[0] == '#') continue;
        const std::string value = Trimmed(line.substr(eq + 1));
        if (SameKey(key, "File")) {
            settings.file = value;
        } else if (SameKey(key, "Interval")) {
            const uint32_t seconds = Seconds(value);
            settings.intervalSeconds = seconds != 0 ? seconds : kDefaultMetricsIntervalSeconds;
        } else if (SameKey(key, "Station")) {
            settings.station = value;
        } else if (SameKey(key, "Unit")) {
            settings.unit = value;
        }
    }
    return settings;
}
