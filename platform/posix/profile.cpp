// INI files with the contract of the Win32 profile service (see profile.h).
//
// The file is read whole on every call and edited as a list of lines, so a
// write changes one line (or adds one) and leaves every other byte as it
// was: comments, blank lines, spacing and the [Ports] list survive a save.
// A write goes to a temporary file that then replaces the original, so a
// crash in the middle never leaves half a configuration behind.
#include "platform/profile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

struct Line {
    std::string text;  // without its line ending
    std::string ending;
};

bool readLines(const char* path, std::vector<Line>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    const std::string s = all.str();
    size_t pos = 0;
    while (pos < s.size()) {
        size_t nl = s.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = s.substr(pos);
            pos = s.size();
        } else {
            line.text = s.substr(pos, nl - pos);
            line.ending = "\n";
            pos = nl + 1;
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending = "\r" + line.ending;
        }
        lines.push_back(std::move(line));
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool sameName(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The section name of a header line, or false when the line is no header.
bool sectionHeader(const std::string& text, std::string& name) {
    std::string t = trim(text);
    if (t.empty() || t[0] != '[') return false;
    size_t close = t.rfind(']');
    name = trim(close == std::string::npos || close == 0 ? t.substr(1) : t.substr(1, close - 1));
    return true;
}

struct Entry {
    std::string key;
    std::string value;
    bool hasValue = false;
};

// Splits an entry line; false for blank lines and comments.
bool parseEntry(const std::string& text, Entry& e) {
    std::string t = trim(text);
    if (t.empty() || t[0] == ';') return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
        e.key = t;
        e.hasValue = false;
    } else {
        e.key = trim(t.substr(0, eq));
        e.value = trim(t.substr(eq + 1));
        e.hasValue = true;
    }
    return true;
}

// Index range [first, last) of the body of the first section of that name;
// false when there is none. `header` receives the header line's index.
bool findSection(const std::vector<Line>& lines, const char* section, size_t& header, size_t& first,
                 size_t& last) {
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!sectionHeader(lines[i].text, name) || !sameName(name, section)) continue;
        header = i;
        first = i + 1;
        last = first;
        while (last < lines.size() && !sectionHeader(lines[last].text, name))
            ++last;
        return true;
    }
    return false;
}

bool findValue(const char* section, const char* key, const char* path, std::string& value) {
    std::vector<Line> lines;
    size_t header, first, last;
    if (!section || !key || !path || !readLines(path, lines)) return false;
    if (!findSection(lines, section, header, first, last)) return false;
    Entry e;
    for (size_t i = first; i < last; ++i) {
        if (parseEntry(lines[i].text, e) && e.hasValue && sameName(e.key, key)) {
            value = e.value;
            return true;
        }
    }
    return false;
}

bool writeWhole(const char* path, const std::vector<Line>& lines) {
    std::string tmp = std::string(path) + ".tmpXXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    // The errno of the step that failed is what the caller reports; the
    // clean-up below must not replace it.
    int error = 0;
    struct stat st {};
    if (stat(path, &st) == 0)
        fchmod(fd, st.st_mode & 07777);
    else
        fchmod(fd, 0644);
    std::string all;
    for (const Line& l : lines)
        all += l.text + l.ending;
    bool ok = true;
    for (size_t done = 0; done < all.size();) {
        ssize_t n = ::write(fd, all.data() + done, all.size() - done);
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && std::rename(name.data(), path) == 0) return true;
    if (ok) error = errno;
    std::remove(name.data());
    errno = error;
    return false;
}

}  // namespace

uint32_t profileReadInt(const char* section, const char* key, int32_t defaultValue,
                        const char* path) {
    std::string value;
    if (!findValue(section, key, path, value) || value.empty())
        return static_cast<uint32_t>(defaultValue);
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t n = 0;
    while (*p >= '0' && *p <= '9')
        n = n * 10u + static_cast<uint32_t>(*p++ - '0');
    return negative ? 0u - n : n;
}

bool profileWriteString(const char* section, const char* key, const char* value, const char* path) {
    if (!section || !key || !value || !path) return false;
    std::vector<Line> lines;
    readLines(path, lines);  // a missing file is created
    std::string newline = lines.empty() || lines[0].ending.empty() ? "\n" : lines[0].ending;
    const std::string entry = std::string(key) + "=" + value;

    size_t header, first, last;
    if (!findSection(lines, section, header, first, last)) {
        if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = newline;
        lines.push_back({std::string("[") + section + "]", newline});
        lines.push_back({entry, newline});
        return writeWhole(path, lines);
    }
    Entry e;
    for (size_t i = first; i < last; ++i) {
        if (parseEntry(lines[i].text, e) && e.hasValue && sameName(e.key, key)) {
            // Keep the key as written and any blanks before the value.
            const std::string& t = lines[i].text;
            size_t eq = t.find('=');
            size_t v = eq + 1;
            while (v < t.size() && isBlank(t[v]))
                ++v;
            lines[i].text = t.substr(0, v) + value;
            return writeWhole(path, lines);
        }
    }
    // A new key goes behind the section's last entry, before the blank lines
    // that separate it from the next section.
    size_t at = last;
    while (at > first && trim(lines[at - 1].text).empty())
        --at;
    if (at > 0 && lines[at - 1].ending.empty()) lines[at - 1].ending = newline;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{entry, newline});
    return writeWhole(path, lines);
}

uint32_t profileReadSection(const char* section, char* buffer, uint32_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';
    if (size < 2) return 0;
    if (size >= 2) buffer[1] = '\0';
    std::vector<Line> lines;
    size_t header, first, last;
    if (!section || !path || !readLines(path, lines) ||
        !findSection(lines, section, header, first, last))
        return 0;
    std::string all;
    Entry e;
    for (size_t i = first; i < last; ++i) {
        if (!parseEntry(lines[i].text, e)) continue;
        all += e.key;
        if (e.hasValue) all += "=" + e.value;
        all += '\0';
    }
    if (all.size() + 1 <= size) {
        std::memcpy(buffer, all.data(), all.size());
        buffer[all.size()] = '\0';
        return static_cast<uint32_t>(all.size());
    }
    // As the Win32 service does: the text is cut to the buffer, the last
    // string may be cut short, and the result is size - 2.
    std::memcpy(buffer, all.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

}  // namespace plat
