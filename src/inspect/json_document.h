#pragma once

#include <ostream>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zelkor {

// One JSON object written to a stream member by member, on one line, every key
// and value serialised by nlohmann-json. An array member can be handed over one
// element at a time, so that a listing of millions of entries is never held
// whole. Members keep the order they are written in.
//
// Archived names and paths are bytes, not necessarily UTF-8: every string goes
// in through Text, so that the document is always valid UTF-8.
class JsonDocument {
public:
    using Value = nlohmann::ordered_json;

    // Writes the opening brace.
    explicit JsonDocument(std::ostream& out);

    void Member(std::string_view key, const Value& value);
    // Every member of the object `members`, in its order.
    void Members(const Value& members);

    void BeginArray(std::string_view key);
    void Element(const Value& element);
    void EndArray();

    // Writes the closing brace and a line end.
    void End();

    // `bytes` as a JSON string: every byte that is not part of a valid UTF-8
    // sequence becomes U+FFFD (one per byte).
    static Value Text(std::string_view bytes);

private:
    void Separate(bool& first);

    std::ostream& out_;
    bool firstMember_ = true;
    bool firstElement_ = true;
};

}  // namespace zelkor
