// JSON text for the run's record (json_record.h) and the database's check
// column: a writer that emits members in the order given, two blanks of
// indentation per level, one member a line, so that a person can read the
// file and a diff of two runs lines up.
//
// Strings are taken as UTF-8 and escaped as JSON requires (quote,
// backslash, control characters); a byte sequence that is not UTF-8 (a
// port name from a Latin-1 file) is written with each such byte as the
// character of the same number, so the document always parses. Numbers
// are written as given: integers in full, decimals with the digits the
// caller asks for; a number that is not finite is written as null.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
  public:
    // A member of the object being written (with `key`) or an element of
    // the array being written (key null). The document's root is an
    // object or an array begun with a null key.
    void BeginObject(const char* key = nullptr);
    void EndObject();
    void BeginArray(const char* key = nullptr);
    void EndArray();
    void String(const char* key, const std::string& value);
    void Integer(const char* key, int64_t value);
    void Unsigned(const char* key, uint64_t value);
    void Decimal(const char* key, double value, int decimals);
    void Bool(const char* key, bool value);
    void Null(const char* key);
    // An array of strings, on one line when short.
    void Strings(const char* key, const std::vector<std::string>& values);

    // A measure with its unit: {"value": 11520.0, "unit": "B/s"}.
    void Measure(const char* key, double value, int decimals, const char* unit);
    void Measure(const char* key, uint64_t value, const char* unit);

    // The text so far, with a final line end once the root is closed.
    const std::string& Text() const { return text_; }

  private:
    void Begin(const char* key);  // the comma, the line end, the indent, the key
    void Raw(const char* key, const std::string& text);
    void Open(const char* key, char bracket);
    void Close(char bracket);

    std::string text_;
    std::vector<bool> empty_;  // per open level: nothing written in it yet
};

// The length of the UTF-8 sequence at `at` of `text` (1 for ASCII), 0 when
// the bytes there are not one (the XML of the JUnit file writes such a
// byte as the JSON does).
size_t Utf8Length(const std::string& text, size_t at);

// `text` as a JSON string, quotes included.
std::string JsonQuoted(const std::string& text);
