// Any bytes as an archive and key file: entries or a clean error, never a crash,
// an out-of-bounds read or an allocation sized by an unchecked field.
// The input is a 4-byte little-endian length, that many bytes of archive (fewer
// when the input ends first), then the key file.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "reader/archive_reader.h"
#include "scratch_dir.h"

namespace {

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void ReadAll(const std::string& archive, const std::string* key)
{
    try {
        zelkor::ArchiveReader reader(archive, key);
        std::vector<std::uint8_t> content;
        zelkor::ArchiveReader::Entry entry;
        for (zelkor::ArchiveReader::Walk walk = reader.Entries(); walk.Next(entry);) {
            reader.ReadContent(entry, content);
            reader.ReadEntry(entry.position);
        }
    } catch (const std::runtime_error&) {
        // ArchiveFormatError and unreadable files: the clean outcomes.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static zelkor::fuzz::ScratchDir scratch;
    static const std::string archive = (scratch.path() / "a.pak").string();
    static const std::string key = (scratch.path() / "a.zlk").string();
    if (size < 4)
        return 0;
    std::size_t archiveSize = data[0] | data[1] << 8 | data[2] << 16 | std::size_t(data[3]) << 24;
    data += 4;
    size -= 4;
    if (archiveSize > size)
        archiveSize = size;
    WriteBytes(archive, data, archiveSize);
    WriteBytes(key, data + archiveSize, size - archiveSize);
    ReadAll(archive, nullptr);
    ReadAll(archive, &key);
    return 0;
}
