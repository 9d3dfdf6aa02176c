#include "inspect/entry_selector.h"

#include "archive/archive_format.h"
#include "script/wildcard_matcher.h"

namespace zelkor {

EntrySelector::EntrySelector(std::vector<std::string> patterns)
    : given_(std::move(patterns)), matched_(given_.size(), false)
{
    for (const std::string& pattern : given_)
        normalized_.push_back(NormalizeName(pattern));
}

bool EntrySelector::Selects(std::string_view name)
{
    if (SelectsAll())
        return true;
    const std::string normalized = NormalizeName(name);
    bool selected = false;
    for (std::size_t i = 0; i < normalized_.size(); ++i) {
        // Once selected, only patterns not yet known to match need trying.
        if ((selected && matched_[i]) || !MatchWildcard(normalized, normalized_[i]))
            continue;
        selected = true;
        matched_[i] = true;
    }
    return selected;
}

std::string EntrySelector::Entries(std::uint64_t count) const
{
    return std::to_string(count) + (SelectsAll() ? "" : " matching") + (count == 1 ? " entry" : " entries");
}

std::vector<std::string> EntrySelector::Unmatched() const
{
    std::vector<std::string> unmatched;
    for (std::size_t i = 0; i < given_.size(); ++i) {
        if (!matched_[i])
            unmatched.push_back(given_[i]);
    }
    return unmatched;
}

}  // namespace zelkor
