// Any bytes as the deletion list of a patch, mounted through the reader
// library's C interface over an archive and its key file (also from the
// input) mounted twice, as base and as patch: lookups of every name of the
// list, of the archive's names and of near misses, and listings of the merged
// tree. Half of the runs first make the list's identity and checksum those the
// archive would have, so that lists which decode reach the lookups. Statuses
// only; never a crash, an out-of-bounds read, a leak, or an allocation sized by
// an unchecked field.
// The input is a 4-byte little-endian length and that many bytes of archive,
// the same for the key file (empty: none), then the deletion list.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <xxhash.h>

#include "archive/entry_identity.h"
#include "platform/little_endian.h"
#include "zelkor/zelkor.h"

namespace {

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
};

int64_t ReadMemory(void* opaque, uint64_t offset, void* buffer, size_t length)
{
    const auto* memory = static_cast<const Memory*>(opaque);
    if (offset >= memory->size)
        return 0;
    const std::size_t count = std::min<std::size_t>(length, memory->size - offset);
    std::memcpy(buffer, memory->data + offset, count);
    return static_cast<int64_t>(count);
}

zlk_source SourceOf(Memory& memory)
{
    return {&memory, memory.size, ReadMemory, nullptr};
}

// Takes a length-prefixed piece off the front of the input.
Memory Take(const std::uint8_t*& data, std::size_t& size)
{
    if (size < 4) {
        size = 0;
        return {data, 0};
    }
    const std::size_t length = std::min<std::size_t>(zelkor::DecodeFixed32(data), size - 4);
    const Memory piece{data + 4, length};
    data += 4 + length;
    size -= 4 + length;
    return piece;
}

zlk_archive* Open(Memory& archive, Memory& key)
{
    const zlk_source archiveSource = SourceOf(archive);
    const zlk_source keySource = SourceOf(key);
    zlk_archive* opened = nullptr;
    zlk_open_source(&archiveSource, key.size > 0 ? &keySource : nullptr, &opened, nullptr);
    return opened;
}

void Find(const zlk_mounts* mounts, std::string_view path)
{
    const zlk_archive* archive = nullptr;
    std::uint64_t index = 0;
    if (zlk_mounts_find(mounts, path.data(), path.size(), &archive, &index) == ZLK_OK) {
        zlk_entry entry;
        zlk_entry_at(archive, index, &entry);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Memory archive = Take(data, size);
    Memory key = Take(data, size);
    std::vector<std::uint8_t> list(data, data + size);

    zlk_archive* base = Open(archive, key);
    if (!base)
        return 0;
    zlk_archive* patch = Open(archive, key);
    std::vector<std::string> names;
    zelkor::EntryIdentity identity;
    for (std::uint64_t i = 0; i < zlk_entry_count(patch); ++i) {
        zlk_entry entry;
        if (zlk_entry_at(patch, i, &entry) != ZLK_OK)
            continue;
        identity.Add({entry.raw_size, entry.content_hash, 0, entry.stored_size, entry.name_hash});
        if (entry.name && names.size() < 1000)
            names.emplace_back(entry.name, entry.name_length);
    }
    // Every other input: the list made to belong to the archive.
    if (list.size() >= 52 && (list[4] & 1)) {
        zelkor::EncodeFixed64(&list[8], identity.Value().digest);
        zelkor::EncodeFixed64(&list[16], identity.Value().entries);
        zelkor::EncodeFixed64(&list[list.size() - 8], XXH64(list.data(), list.size() - 8, 0));
    }

    zlk_mounts* mounts = nullptr;
    zlk_mounts_create(&mounts);
    zlk_mount_archive(mounts, base, nullptr, "base", 0, nullptr);
    Memory listMemory{list.data(), list.size()};
    const zlk_source listSource = SourceOf(listMemory);
    if (zlk_mount_archive(mounts, patch, &listSource, "patch", 1, nullptr) != ZLK_OK)
        zlk_close(patch);

    // The names a deletion list holds, read back as the decoder would: lookups
    // of each, whether it decoded or not.
    for (std::size_t at = 44; at + 2 <= list.size() && names.size() < 2000;) {
        const std::size_t length = zelkor::DecodeFixed16(&list[at]);
        if (list.size() - at - 2 < length)
            break;
        names.emplace_back(reinterpret_cast<const char*>(&list[at + 2]), length);
        at += 2 + length;
    }
    for (const std::string& name : names) {
        Find(mounts, name);
        Find(mounts, name + "x");
    }
    Find(mounts, "a");
    std::size_t listed = 0;
    const auto count = [](void* opaque, const zlk_listing* item) {
        ++*static_cast<std::size_t*>(opaque);
        return item->path_length > 100000 ? 1 : 0;
    };
    zlk_mounts_list(mounts, "", 0, ZLK_LIST_RECURSIVE, count, &listed);
    zlk_mounts_list(mounts, "", 0, 0, count, &listed);
    if (!names.empty())
        zlk_mounts_list(mounts, names.front().data(), names.front().size(), 0, count, &listed);
    zlk_unmount(mounts, "patch");
    zlk_mounts_destroy(mounts);
    return 0;
}
