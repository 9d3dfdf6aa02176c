#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"

namespace zelkor {

// The name hashes that two or more selected entries of an archive share: the
// entries that a lookup by name hash cannot tell apart. verify names them and
// report counts them. The search passes over the records (over the entries
// when the selection needs their names) and holds at most Budget hashes at a
// time, whatever the archive's size (see RepeatedHashes).
class SharedNameHashes {
public:
    static constexpr std::size_t Budget = std::size_t{1} << 20;

    // The shared hashes, sorted, each once.
    static std::vector<std::uint32_t> Find(const InspectedArchive& archive, EntrySelector& selector);

    // Calls `take` with the name hash of each selected entry, in one pass.
    static void Pass(const InspectedArchive& archive, EntrySelector& selector,
                     const std::function<void(std::uint32_t)>& take);
};

}  // namespace zelkor
