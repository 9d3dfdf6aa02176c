#include "inspect/shared_name_hashes.h"

#include "inspect/repeated_hashes.h"

namespace zelkor {

std::vector<std::uint32_t> SharedNameHashes::Find(const InspectedArchive& archive, EntrySelector& selector)
{
    const HashPass pass = [&](const std::function<void(std::uint32_t)>& take) { Pass(archive, selector, take); };
    return RepeatedHashes(pass, archive.Reader().EntryCount(), Budget);
}

void SharedNameHashes::Pass(const InspectedArchive& archive, EntrySelector& selector,
                            const std::function<void(std::uint32_t)>& take)
{
    const SetReader& reader = archive.Reader();
    // Selecting takes the names; without patterns the records alone will do.
    ArchiveReader::Entry entry;
    for (SetReader::Walk walk = selector.SelectsAll() ? reader.Records() : reader.Entries(); walk.Next(entry);) {
        if (selector.Selects(entry.name))
            take(entry.fields.nameHash);
    }
}

}  // namespace zelkor
