#pragma once

// What the set fuzz targets do with a set that opened: every call a game
// makes, over the first entries, the last one, two lookups and every volume.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "zelkor/zelkor.h"

inline void WalkSet(const zlk_archive* set)
{
    zlk_error error;
    std::uint8_t buffer[256];
    const std::uint64_t count = zlk_entry_count(set);
    for (std::uint64_t i = 0; i < count && i < 64; ++i) {
        zlk_entry entry;
        if (zlk_entry_at(set, i, &entry) != ZLK_OK)
            continue;
        zlk_read(set, i, buffer, sizeof buffer, &error);
        zlk_read_range(set, i, 0, buffer, std::min<std::size_t>(entry.raw_size, 16), &error);
        std::uint64_t found;
        if (entry.name)
            zlk_find(set, entry.name, entry.name_length, &found);
    }
    if (count > 64)
        zlk_read(set, count - 1, buffer, sizeof buffer, &error);
    std::uint64_t found;
    zlk_find(set, "dir/entry14", 11, &found);
    zlk_find(set, "missing", 7, &found);
    zlk_open_volumes(set, &error);
    zlk_volume_count(set);
    zlk_memory_use(set);
}
