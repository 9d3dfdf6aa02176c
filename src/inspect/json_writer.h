#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// Writes one JSON document to a stream as it goes, without building it in
// memory first, so a listing of millions of entries costs no more memory than
// one row. The caller nests Begin/End calls properly and gives every member of
// an object a Key first; commas are placed here.
//
// Strings are byte strings (archived names are raw bytes). Valid UTF-8 is written
// as it is, with quotes, backslashes and control characters escaped; every byte
// that is not part of a valid UTF-8 sequence becomes U+FFFD, so the document is
// always valid UTF-8 and valid JSON. Callers that must keep such bytes write
// them a second time in hex (see IsValidUtf8).
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);

    JsonWriter& String(std::string_view bytes);
    JsonWriter& Number(std::uint64_t value);
    // Shortest text that reads back as the same double; must be finite.
    JsonWriter& Number(double value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    static bool IsValidUtf8(std::string_view bytes);

private:
    // Writes the comma that separates this value from the one before, if any.
    void BeforeValue();
    void Open(char bracket);
    void Close(char bracket);

    std::ostream& out_;
    // One flag per open object or array: whether it holds a member yet.
    std::vector<bool> hasMembers_;
    bool afterKey_ = false;
};

}  // namespace zelkor
