#include "tester/report/secret_text.h"

#include <cctype>

namespace {

const char kMask[] = "***";

// Where one password stands in the text, and its value as the database
// gets it.
struct Secret {
    size_t from = 0;
    size_t length = 0;
    std::string value;
};

bool StartsWithNoCase(const std::string& text, size_t at, const char* word) {
    for (size_t i = 0; word[i] != '\0'; ++i)
        if (at + i >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[at + i])) != word[i])
            return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// An ODBC attribute's value at `at`: "{...}" with "}}" for a brace in it,
// or everything up to the next ';'.
Secret OdbcValue(const std::string& text, size_t at) {
    Secret s;
    s.from = at;
    if (at < text.size() && text[at] == '{') {
        size_t i = at + 1;
        for (; i < text.size(); ++i) {
            if (text[i] != '}') {
                s.value += text[i];
            } else if (i + 1 < text.size() && text[i + 1] == '}') {
                s.value += '}';
                ++i;
            } else {
                break;
            }
        }
        s.length = (i < text.size() ? i + 1 : i) - at;
        return s;
    }
    const size_t end = text.find(';', at);
    s.length = (end == std::string::npos ? text.size() : end) - at;
    s.value = text.substr(at, s.length);
    return s;
}

// Every password of an ODBC connection string, attribute by attribute
// ("KEY=value;"): the values of PWD and Password (blanks around the
// keyword allowed).
void OdbcSecrets(const std::string& text, size_t at, std::vector<Secret>& found) {
    while (at < text.size()) {
        const size_t eq = text.find('=', at);
        if (eq == std::string::npos) return;
        std::string key;
        for (size_t i = at; i < eq; ++i)
            if (text[i] != ' ')
                key += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        size_t value = eq + 1;
        while (value < text.size() && text[value] == ' ')
            ++value;
        const Secret s = OdbcValue(text, value);
        if (key == "pwd" || key == "password") found.push_back(s);
        // What follows a braced value up to the ';' belongs to no attribute.
        at = text.find(';', s.from + s.length);
        if (at == std::string::npos) return;
        ++at;
    }
}

// The passwords of a URL: the user-info's, and "password=" parameters of
// its query.
void UrlSecrets(const std::string& text, std::vector<Secret>& found) {
    const size_t scheme = text.find("://");
    if (scheme != std::string::npos) {
        const size_t authority = scheme + 3;
        const size_t end = text.find_first_of("/?#", authority);
        const std::string hosts =
            text.substr(authority, end == std::string::npos ? end : end - authority);
        const size_t at = hosts.rfind('@');
        const size_t colon = at == std::string::npos ? std::string::npos : hosts.find(':');
        if (colon != std::string::npos && colon < at) {
            Secret s;
            s.from = authority + colon + 1;
            s.length = at - colon - 1;
            s.value = PercentDecoded(text.substr(s.from, s.length));
            found.push_back(s);
        }
    }
    for (size_t at = 0; (at = text.find('=', at)) != std::string::npos; ++at) {
        if (at < 8 || !StartsWithNoCase(text, at - 8, "password")) continue;
        const size_t key = at - 8;
        if (key != 0 && std::string("?&; ").find(text[key - 1]) == std::string::npos) continue;
        const size_t end = text.find_first_of("&# ", at + 1);
        Secret s;
        s.from = at + 1;
        s.length = (end == std::string::npos ? text.size() : end) - s.from;
        s.value = PercentDecoded(text.substr(s.from, s.length));
        found.push_back(s);
    }
}

std::vector<Secret> Find(const std::string& text) {
    std::vector<Secret> found;
    if (StartsWithNoCase(text, 0, "odbc:"))
        OdbcSecrets(text, 5, found);
    else
        UrlSecrets(text, found);
    return found;
}

}  // namespace

std::string MaskSecrets(const std::string& text) {
    std::vector<Secret> found = Find(text);
    std::string out = text;
    // From the last to the first, so that each position still holds.
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        out.replace(it->from, it->length, kMask);
    // And wherever else the text repeats a password (a driver's name, a
    // path that happens to hold it).
    return RedactSecrets(out, SecretsIn(text));
}

std::vector<std::string> SecretsIn(const std::string& text) {
    std::vector<std::string> secrets;
    for (const Secret& s : Find(text)) {
        const std::string written = text.substr(s.from, s.length);
        if (!written.empty()) secrets.push_back(written);
        if (!s.value.empty() && s.value != written) secrets.push_back(s.value);
    }
    return secrets;
}

std::string RedactSecrets(std::string message, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        if (secret.empty()) continue;
        for (size_t at = 0; (at = message.find(secret, at)) != std::string::npos;
             at += sizeof kMask - 1)
            message.replace(at, secret.size(), kMask);
    }
    return message;
}
