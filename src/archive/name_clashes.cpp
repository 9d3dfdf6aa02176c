#include "archive/name_clashes.h"

#include <algorithm>

#include "archive/archive_format.h"

namespace zelkor {

NameClashes::NameClashes(std::vector<const std::string*> candidates)
    : names_(std::move(candidates)), sharing_(names_.size())
{
    const std::vector<const std::string*>& names = names_;
    // (hash, index) pairs in one word, so that a sort brings equal hashes together.
    std::vector<std::uint64_t> hashed;
    hashed.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i])
            hashed.push_back(std::uint64_t{NameHash(*names[i])} << 32 | static_cast<std::uint32_t>(i));
    }
    std::sort(hashed.begin(), hashed.end());
    for (std::size_t k = 0; k + 1 < hashed.size(); ++k) {
        if (hashed[k] >> 32 == hashed[k + 1] >> 32) {
            sharing_[static_cast<std::uint32_t>(hashed[k])] = true;
            sharing_[static_cast<std::uint32_t>(hashed[k + 1])] = true;
        }
    }
}

std::optional<NameClashes::Clash> NameClashes::Stored(std::size_t i)
{
    if (i >= sharing_.size() || !sharing_[i])
        return std::nullopt;
    const std::string& name = *names_[i];
    const auto [group, fresh] = stored_.try_emplace(NameHash(name));
    if (fresh)
        group->second.first = i;
    const auto [same, firstOfName] = group->second.firstByName.try_emplace(NormalizeName(name), i);
    if (!firstOfName)
        return Clash{same->second, true};
    if (!fresh)
        return Clash{group->second.first, false};
    return std::nullopt;
}

}  // namespace zelkor
