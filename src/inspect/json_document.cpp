#include "inspect/json_document.h"

#include "platform/utf8.h"

namespace zelkor {

namespace {

// Strings are made valid by Text before they get here; should one slip through,
// the library's replacement keeps the document valid rather than throwing.
std::string Dump(const JsonDocument::Value& value)
{
    return value.dump(-1, ' ', false, JsonDocument::Value::error_handler_t::replace);
}

}  // namespace

JsonDocument::JsonDocument(std::ostream& out) : out_(out)
{
    out_ << '{';
}

void JsonDocument::Member(std::string_view key, const Value& value)
{
    Separate(firstMember_);
    out_ << Dump(Text(key)) << ':' << Dump(value);
}

void JsonDocument::Members(const Value& members)
{
    for (const auto& [key, value] : members.items())
        Member(key, value);
}

void JsonDocument::BeginArray(std::string_view key)
{
    Separate(firstMember_);
    out_ << Dump(Text(key)) << ":[";
    firstElement_ = true;
}

void JsonDocument::Element(const Value& element)
{
    Separate(firstElement_);
    out_ << Dump(element);
}

void JsonDocument::EndArray()
{
    out_ << ']';
}

void JsonDocument::End()
{
    out_ << "}\n";
}

JsonDocument::Value JsonDocument::Text(std::string_view bytes)
{
    return ReplaceInvalidUtf8(bytes);
}

void JsonDocument::Separate(bool& first)
{
    if (!first)
        out_ << ',';
    first = false;
}

}  // namespace zelkor
