#include "tester/report/json_reader.h"

#include <cstdint>

#include "tester/report/utf8.h"

namespace {

class Reader {
  public:
    explicit Reader(const std::string& text) : text_(text) {}

    bool Document(JsonValue& value, std::string& error) {
        if (!Value(value, 0)) {
            error = error_ + " at byte " + std::to_string(at_);
            return false;
        }
        Blanks();
        if (at_ != text_.size()) {
            error = "text after the JSON value at byte " + std::to_string(at_);
            return false;
        }
        return true;
    }

  private:
    bool Fail(const char* why) {
        error_ = why;
        return false;
    }

    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    bool Word(const char* word) {
        const std::string w = word;
        if (text_.compare(at_, w.size(), w) != 0) return Fail("not a JSON value");
        at_ += w.size();
        return true;
    }

    bool Value(JsonValue& v, int depth) {
        if (depth > kJsonMaxDepth) return Fail("nested too deep");
        Blanks();
        if (at_ >= text_.size()) return Fail("the text ends where a value should be");
        v.begin = at_;
        bool ok;
        switch (text_[at_]) {
            case '{':
                ok = Object(v, depth);
                break;
            case '[':
                ok = Array(v, depth);
                break;
            case '"':
                v.kind = JsonValue::Kind::String;
                ok = String(v.text);
                break;
            case 't':
                v.kind = JsonValue::Kind::Bool;
                v.boolean = true;
                ok = Word("true");
                break;
            case 'f':
                v.kind = JsonValue::Kind::Bool;
                ok = Word("false");
                break;
            case 'n':
                ok = Word("null");
                break;
            default:
                ok = Number(v);
        }
        v.end = at_;
        return ok;
    }

    bool Object(JsonValue& v, int depth) {
        v.kind = JsonValue::Kind::Object;
        ++at_;
        Blanks();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            Blanks();
            if (at_ >= text_.size() || text_[at_] != '"') return Fail("a member's name expected");
            std::string key;
            if (!String(key)) return false;
            Blanks();
            if (at_ >= text_.size() || text_[at_] != ':') return Fail("':' expected");
            ++at_;
            v.members.emplace_back(std::move(key), JsonValue());
            if (!Value(v.members.back().second, depth + 1)) return false;
            Blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return true;
            }
            return Fail("',' or '}' expected");
        }
    }

    bool Array(JsonValue& v, int depth) {
        v.kind = JsonValue::Kind::Array;
        ++at_;
        Blanks();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            v.items.emplace_back();
            if (!Value(v.items.back(), depth + 1)) return false;
            Blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return true;
            }
            return Fail("',' or ']' expected");
        }
    }

    bool Hex4(uint32_t& code) {
        if (at_ + 4 > text_.size()) return Fail("a \\u escape is cut short");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return Fail("a \\u escape that is not hexadecimal");
        }
        return true;
    }

    bool Escape(std::string& out) {
        if (at_ >= text_.size()) return Fail("the text ends in an escape");
        const char c = text_[at_++];
        static const std::string kPlain = "\"\\/bfnrt";
        static const std::string kMeant = "\"\\/\b\f\n\r\t";
        const size_t plain = kPlain.find(c);
        if (plain != std::string::npos) {
            out += kMeant[plain];
            return true;
        }
        if (c != 'u') return Fail("an unknown escape");
        uint32_t code = 0;
        if (!Hex4(code)) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            uint32_t low = 0;
            if (text_.compare(at_, 2, "\\u") != 0) return Fail("a lone surrogate");
            at_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return Fail("a lone surrogate");
        }
        AppendUtf8(code, out);
        return true;
    }

    bool String(std::string& out) {
        ++at_;  // the opening quote
        for (;;) {
            if (at_ >= text_.size()) return Fail("a string is not closed");
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("a control character in a string");
            if (c == '\\') {
                if (!Escape(out)) return false;
            } else {
                out += static_cast<char>(c);
            }
        }
    }

    bool Digits() {
        const size_t from = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > from;
    }

    bool Number(JsonValue& v) {
        v.kind = JsonValue::Kind::Number;
        const size_t from = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (at_ < text_.size() && text_[at_] == '0')
            ++at_;
        else if (!Digits())
            return Fail("not a JSON value");
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!Digits()) return Fail("a number without digits after its point");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!Digits()) return Fail("a number without digits in its exponent");
        }
        v.text = text_.substr(from, at_ - from);
        return true;
    }

    const std::string& text_;
    size_t at_ = 0;
    std::string error_;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
    static const JsonValue kNone;
    if (kind != Kind::Object) return kNone;
    for (const auto& member : members)
        if (member.first == key) return member.second;
    return kNone;
}

bool ParseJson(const std::string& text, JsonValue& value, std::string& error) {
    value = JsonValue();
    return Reader(text).Document(value, error);
}
