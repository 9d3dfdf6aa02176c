// Any bytes as the manifest of a volume set whose volumes are real: the
// manifest decoded on its own (a manifest that decodes encodes back to the same
// bytes), then beside three volumes and their key files, opened and read through
// the reader library: every entry's fields and content, lookups, every volume
// opened and checked. Statuses only; never a crash, an out-of-bounds read, a
// leak, or an allocation sized by an unchecked field.
//
// A checksum guards the manifest, which mutations would never get past, so the
// input is a change to the set's own manifest: two bytes of length
// (little-endian; the manifest is cut or padded with zeros to it), then bytes
// XORed onto it from its start. The checksum is then made right again (the
// input as it is is decoded too). An empty input is the manifest unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <xxhash.h>

#include "archive/archive_crypto.h"
#include "archive/archive_format_error.h"
#include "archive/set_manifest.h"
#include "commands/volume_set_writer.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "scratch_dir.h"
#include "small_set.h"
#include "zelkor/zelkor.h"

namespace {

using zelkor::SetManifest;

zelkor::fuzz::ScratchDir& Scratch()
{
    static zelkor::fuzz::ScratchDir scratch;
    return scratch;
}

std::string At(const char* name)
{
    return (Scratch().path() / name).string();
}

// Writes three volumes of five raw entries each, with key files, and gives
// their manifest.
std::vector<std::uint8_t> BuildSet()
{
    WriteSmallSet(At("game.pak"), 7);
    zelkor::File manifest = zelkor::File::Open(At("game.pak.set"), zelkor::OpenFlags::Read);
    std::vector<std::uint8_t> bytes(SetManifest::MaxSize);
    const std::optional<std::size_t> got = manifest.ReadAt(0, bytes.data(), bytes.size());
    if (!got)
        std::abort();
    bytes.resize(*got);
    return bytes;
}

void Decode(const std::vector<std::uint8_t>& bytes)
{
    try {
        const SetManifest manifest = SetManifest::Decode(bytes, "game.pak.set");
        if (manifest.Encode() != bytes)
            std::abort();
    } catch (const zelkor::ArchiveFormatError&) {
    }
}

void ReadSet(const std::vector<std::uint8_t>& bytes)
{
    {
        zelkor::File file = zelkor::File::Open(At("game.pak.set"), zelkor::OpenFlags::Write |
                                                                        zelkor::OpenFlags::Create |
                                                                        zelkor::OpenFlags::Truncate);
        if (!file.WriteAll(bytes.data(), bytes.size()))
            std::abort();
    }
    for (const char* key : {"game.pak.zlk", static_cast<const char*>(nullptr)}) {
        const std::string keyPath = key ? At(key) : std::string();
        zlk_archive* set = nullptr;
        zlk_error error;
        if (zlk_open(At("game.pak.set").c_str(), key ? keyPath.c_str() : nullptr, &set, &error) != ZLK_OK)
            continue;
        WalkSet(set);
        zlk_close(set);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> manifest = BuildSet();
    std::vector<std::uint8_t> bytes = manifest;
    if (size >= 2) {
        bytes.resize(data[0] | data[1] << 8, 0);
        for (std::size_t i = 2; i < size; ++i) {
            if (i - 2 >= bytes.size())
                bytes.push_back(0);
            bytes[i - 2] ^= data[i];
        }
    }
    Decode(bytes);
    if (bytes.size() >= SetManifest::ChecksumSize) {
        const std::size_t body = bytes.size() - SetManifest::ChecksumSize;
        zelkor::EncodeFixed64(bytes.data() + body, XXH64(bytes.data(), body, 0));
        Decode(bytes);
    }
    ReadSet(bytes);
    return 0;
}
