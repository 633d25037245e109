#include "tester/report/json_text.h"

#include <cmath>
#include <cstdio>

size_t Utf8Length(const std::string& text, size_t at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    size_t length = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    return length;
}

std::string JsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        if (length > 1) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            // Control characters, and a byte that starts no UTF-8
            // sequence, as the character of its number.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void JsonWriter::Begin(const char* key) {
    if (!empty_.empty()) {
        if (!empty_.back()) text_ += ',';
        empty_.back() = false;
        text_ += '\n';
        text_.append(empty_.size() * 2, ' ');
    }
    if (key) text_ += JsonQuoted(key) + ": ";
}

void JsonWriter::Raw(const char* key, const std::string& text) {
    Begin(key);
    text_ += text;
}

void JsonWriter::Open(const char* key, char bracket) {
    Begin(key);
    text_ += bracket;
    empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) {
        text_ += '\n';
        text_.append(empty_.size() * 2, ' ');
    }
    text_ += bracket;
    if (empty_.empty()) text_ += '\n';
}

void JsonWriter::BeginObject(const char* key) {
    Open(key, '{');
}
void JsonWriter::EndObject() {
    Close('}');
}
void JsonWriter::BeginArray(const char* key) {
    Open(key, '[');
}
void JsonWriter::EndArray() {
    Close(']');
}

void JsonWriter::String(const char* key, const std::string& value) {
    Raw(key, JsonQuoted(value));
}

void JsonWriter::Integer(const char* key, int64_t value) {
    Raw(key, std::to_string(value));
}

void JsonWriter::Unsigned(const char* key, uint64_t value) {
    Raw(key, std::to_string(value));
}

void JsonWriter::Decimal(const char* key, double value, int decimals) {
    if (!std::isfinite(value)) return Null(key);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    Raw(key, text);
}

void JsonWriter::Bool(const char* key, bool value) {
    Raw(key, value ? "true" : "false");
}

void JsonWriter::Null(const char* key) {
    Raw(key, "null");
}

void JsonWriter::Strings(const char* key, const std::vector<std::string>& values) {
    std::string line = "[";
    for (size_t i = 0; i < values.size(); ++i)
        line += (i == 0 ? "" : ", ") + JsonQuoted(values[i]);
    line += "]";
    if (line.size() <= 80) return Raw(key, line);
    BeginArray(key);
    for (const std::string& value : values)
        String(nullptr, value);
    EndArray();
}

void JsonWriter::Measure(const char* key, double value, int decimals, const char* unit) {
    Begin(key);
    char text[64];
    if (std::isfinite(value))
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    else
        std::snprintf(text, sizeof text, "null");
    text_ += std::string("{\"value\": ") + text + ", \"unit\": " + JsonQuoted(unit) + "}";
}

void JsonWriter::Measure(const char* key, uint64_t value, const char* unit) {
    Raw(key, "{\"value\": " + std::to_string(value) + ", \"unit\": " + JsonQuoted(unit) + "}");
}
