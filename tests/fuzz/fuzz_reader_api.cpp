// Any bytes as an archive and its key file, read through the reader library's
// C interface from memory sources, as a game would: open with and without the
// key file, every entry's fields, lookups of its name and of near misses,
// whole reads and ranges. Statuses only; never a crash, an out-of-bounds read,
// a leak, or an allocation sized by an unchecked field.
// The input is a 4-byte little-endian length, that many bytes of archive (fewer
// when the input ends first), then the key file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// A larger entry is asked for with a buffer this big, and must say it is too small.
constexpr std::size_t Capacity = 1 << 20;

void ReadAll(Memory& archive, Memory* key)
{
    const zlk_source archiveSource = {&archive, archive.size, ReadMemory, nullptr};
    zlk_source keySource = {};
    if (key)
        keySource = {key, key->size, ReadMemory, nullptr};
    zlk_archive* opened = nullptr;
    zlk_error error;
    if (zlk_open_source(&archiveSource, key ? &keySource : nullptr, &opened, &error) != ZLK_OK)
        return;
    std::vector<std::uint8_t> buffer(Capacity);
    const std::uint64_t count = zlk_entry_count(opened);
    for (std::uint64_t i = 0; i < count && i < 10000; ++i) {
        zlk_entry entry;
        if (zlk_entry_at(opened, i, &entry) != ZLK_OK)
            continue;
        zlk_read(opened, i, buffer.data(), std::min<std::size_t>(Capacity, entry.raw_size), &error);
        if (!entry.compressed && entry.raw_size > 0) {
            const std::size_t length = std::min<std::size_t>(entry.raw_size, 100);
            zlk_read_range(opened, i, entry.raw_size - length, buffer.data(), length, &error);
            zlk_read_range(opened, i, 1, buffer.data(), length, &error);
        }
        std::uint64_t found;
        if (entry.name) {
            zlk_find(opened, entry.name, entry.name_length, &found);
            std::string near(entry.name, entry.name_length);
            near += 'x';
            zlk_find(opened, near.data(), near.size(), &found);
        }
    }
    std::uint64_t found;
    zlk_find(opened, "a", 1, &found);
    zlk_close(opened);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::size_t archiveSize = data[0] | data[1] << 8 | data[2] << 16 | std::size_t(data[3]) << 24;
    data += 4;
    size -= 4;
    archiveSize = std::min(archiveSize, size);
    Memory archive{data, archiveSize};
    Memory key{data + archiveSize, size - archiveSize};
    ReadAll(archive, nullptr);
    ReadAll(archive, &key);
    return 0;
}
