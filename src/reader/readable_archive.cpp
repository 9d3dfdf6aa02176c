#include "reader/readable_archive.h"

namespace zelkor {

ArchiveIdentity ReadableArchive::Identity() const
{
    EntryIdentity identity;
    for (std::uint64_t i = 0; i < EntryCount(); ++i)
        identity.Add(Fields(i));
    return identity.Value();
}

void ReadableArchive::VisitNameHashes(const std::function<void(std::uint32_t, std::uint64_t)>& visit) const
{
    for (std::uint64_t i = 0; i < EntryCount(); ++i)
        visit(Fields(i).nameHash, i);
}

ReadableArchive::NameMatch ReadableArchive::MatchName(std::uint64_t index, std::uint32_t hash,
                                                      std::string_view path) const
{
    if (!HasNames())
        return NameMatch::Same;
    const std::optional<std::string_view> name = NameAt(index);
    if (name && SameName(*name, path))
        return NameMatch::Same;
    return !name || NameHash(*name) != hash ? NameMatch::Untrusted : NameMatch::Other;
}

std::optional<std::string_view> ReadableArchive::NameAt(std::uint64_t index) const
{
    if (!HasNames())
        return std::nullopt;
    return TrustedName(index, Fields(index));
}

}  // namespace zelkor
