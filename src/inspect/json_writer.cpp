#include "inspect/json_writer.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "platform/hex.h"
#include "platform/utf8.h"

namespace zelkor {


JsonWriter& JsonWriter::BeginObject()
{
    Open('{');
    return *this;
}

JsonWriter& JsonWriter::EndObject()
{
    Close('}');
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    Open('[');
    return *this;
}

JsonWriter& JsonWriter::EndArray()
{
    Close(']');
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    String(key);
    out_ << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view bytes)
{
    BeforeValue();
    out_ << '"';
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = Utf8SequenceLength(bytes.substr(i));
        if (length == 0) {
            out_ << "\\ufffd";
            ++i;
            continue;
        }
        if (length > 1) {
            out_.write(bytes.data() + i, static_cast<std::streamsize>(length));
        } else if (byte == '"' || byte == '\\') {
            out_ << '\\' << static_cast<char>(byte);
        } else if (byte == '\n') {
            out_ << "\\n";
        } else if (byte == '\t') {
            out_ << "\\t";
        } else if (byte == '\r') {
            out_ << "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            std::string escaped = "\\u00";
            AppendHexByte(escaped, byte);
            out_ << escaped;
        } else {
            out_ << static_cast<char>(byte);
        }
        i += length;
    }
    out_ << '"';
    return *this;
}

JsonWriter& JsonWriter::Number(std::uint64_t value)
{
    BeforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Number(double value)
{
    if (!std::isfinite(value))
        throw std::logic_error("JSON has no infinite numbers");
    BeforeValue();
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out_.write(text, result.ptr - text);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    BeforeValue();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    BeforeValue();
    out_ << "null";
    return *this;
}

bool JsonWriter::IsValidUtf8(std::string_view bytes)
{
    return zelkor::IsValidUtf8(bytes);
}

void JsonWriter::BeforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasMembers_.empty()) {
        if (hasMembers_.back())
            out_ << ',';
        hasMembers_.back() = true;
    }
}

void JsonWriter::Open(char bracket)
{
    BeforeValue();
    out_ << bracket;
    hasMembers_.push_back(false);
}

void JsonWriter::Close(char bracket)
{
    hasMembers_.pop_back();
    out_ << bracket;
    if (hasMembers_.empty())
        out_ << '\n';
}

}  // namespace zelkor
