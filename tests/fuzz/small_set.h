#pragma once

// The small volume set that the set fuzz targets start from, and what they do
// with a set that opened.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <xxhash.h>

#include "archive/archive_crypto.h"
#include "commands/volume_set_writer.h"
#include "zelkor/zelkor.h"

// Writes fifteen raw entries of 100 bytes ("dir/entry0" to "dir/entry14") as a
// set at `archivePath` in volumes of at most 600 bytes, each with its key file,
// under keys from a seed of `seedByte`s; returns the number of volumes.
inline std::size_t WriteSmallSet(const std::string& archivePath, std::uint8_t seedByte)
{
    zelkor::PrepareCrypto();
    const std::vector<std::uint8_t> seed(32, seedByte);
    const zelkor::KeyMaterial material = zelkor::KeyMaterial::FromSeed(seed);
    const zelkor::NamedPath archive(archivePath);
    const zelkor::NamedPath keyFile(archivePath + ".zlk");
    zelkor::VolumeSetWriter writer;
    if (!writer.Create(archive, &keyFile, &material, 600))
        std::abort();
    for (int i = 0; i < 15; ++i) {
        std::vector<std::uint8_t> bytes(100, static_cast<std::uint8_t>(i));
        zelkor::LoadedFile file{bytes, bytes.size(), XXH32(bytes.data(), bytes.size(), zelkor::ContentHashSeed)};
        if (writer.AddFile("dir/entry" + std::to_string(i), file) != zelkor::VolumeSetWriter::Added::Stored)
            std::abort();
    }
    writer.Close();
    return writer.VolumeCount();
}

// Every call a game makes, over the first entries, the last one, two lookups
// and every volume.
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
