// JSON read back: a run record imported into the history (--import, the
// spool folder), whose members the database columns are made from.
//
// A strict reader of RFC 8259 text: one value, nothing but blanks after
// it, nesting at most kJsonMaxDepth deep (a hostile file cannot exhaust
// the stack), strings decoded to UTF-8 (\u escapes, surrogate pairs
// included). Each value keeps where it stood in the text, so that an
// object can be stored again exactly as it was written.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

constexpr int kJsonMaxDepth = 64;

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text;  // a string's value, or a number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;  // in the order written
    size_t begin = 0, end = 0;                               // the value's place in the text

    // The member `key` of an object; a null value when there is none (or
    // this is no object), so that paths can be followed without checks.
    const JsonValue& operator[](const std::string& key) const;
    bool IsNull() const { return kind == Kind::Null; }
};

// Reads `text`; false with where and why in `error` when it is not one
// JSON value.
bool ParseJson(const std::string& text, JsonValue& value, std::string& error);
