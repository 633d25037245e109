#include "tester/port/port_name.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// CharUpperA and CharLowerA change letters as the ANSI code page defines
// them, which differs between systems above 0x7F. Such bytes are counted as
// letters here, so a name holding one is never taken for an address on any
// system: no address or port number needs them.
bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

// The text [begin, end) read by the number rule; false when it is empty or
// the value lies outside [0, max].
bool numberPart(const char* begin, const char* end, int64_t max) {
    if (begin == end) return false;
    std::string part(begin, end);
    int64_t v = ReadPortNumber(part.c_str());
    return v >= 0 && v <= max;
}

bool isNetworkAddress(const char* name) {
    for (const char* p = name; *p; ++p)
        if (isLetter(static_cast<unsigned char>(*p))) return false;
    const char* rest = name;
    for (int octet = 0; octet < 3; ++octet) {
        const char* dot = std::strchr(rest, '.');
        if (!dot || !numberPart(rest, dot, 255)) return false;
        rest = dot + 1;
    }
    if (std::strchr(rest, '.')) return false;
    const char* colon = std::strchr(rest, ':');
    if (!colon || !numberPart(rest, colon, 255)) return false;
    const char* end = colon + std::strlen(colon);
    return numberPart(colon + 1, end, 65535);
}

}  // namespace

std::string NormalizePortName(const char* name) {
    if (!name) return std::string();
    const char* b = name;
    const char* e = name + std::strlen(name);
    while (b < e && isBlank(*b))
        ++b;
    while (e > b && isBlank(e[-1]))
        --e;
    std::string out(b, e);
    if (!out.empty() && out[0] == '/') return out;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

int64_t ReadPortNumber(const char* text) {
    const char* p = text;
    while (isBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t v = 0;
    for (; isDigit(*p); ++p)
        if (v <= 0x80000000LL) v = v * 10 + (*p - '0');
    if (negative) v = -v;
    if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
    if (v < -0x80000000LL) v = -0x80000000LL;
    return v;
}

PortKind ClassifyPortName(const char* name, bool devicePaths) {
    if (!name) return PortKind::Rejected;
    if (std::strncmp(name, "COM", 3) == 0) {
        int64_t n = ReadPortNumber(name + 3);
        return n >= 1 && n <= 255 ? PortKind::Local : PortKind::Rejected;
    }
    if (name[0] == '/') return devicePaths ? PortKind::Local : PortKind::Rejected;
    return isNetworkAddress(name) ? PortKind::Network : PortKind::Rejected;
}

bool PosixDevicePath(const char* name, std::string& path) {
    if (!name) return false;
    if (name[0] == '/') {
        path = name;
        return true;
    }
    if (std::strncmp(name, "COM", 3) != 0 || !isDigit(name[3]) || name[3] == '0') return false;
    int n = 0;
    const char* p = name + 3;
    for (; isDigit(*p) && n <= 255; ++p)
        n = n * 10 + (*p - '0');
    if (*p != '\0' || n < 1 || n > 255) return false;
    path = "/dev/ttyS" + std::to_string(n - 1);
    return true;
}
