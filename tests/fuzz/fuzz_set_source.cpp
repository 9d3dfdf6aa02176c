// A volume set read through the reader library's sources, as a game that
// reads through its own I/O reads it: the manifest from memory and each
// volume and key file from zlk_volume_sources, with one of those files fuzzed
// or one volume that cannot be had. Every entry's fields and content, lookups,
// every volume opened and checked. Statuses only; never a crash, an
// out-of-bounds read, a leak, an allocation sized by an unchecked field, or a
// source released other than once.
//
// Mutations would never get past the manifest's checksum, nor make a volume
// that fits the manifest, so the input is a change to a real set of four
// volumes with key files: a byte choosing the file (0 the manifest, then each
// volume's archive and key file in turn; past them: none), a byte whose bit 0
// opens the set without key files and whose other bits name the volume that
// open_volume cannot give (none when past the last), two bytes of length
// (little-endian; the file is cut or padded with zeros to it), then bytes
// XORed onto the file from its start. A changed manifest has its checksum made
// right. Fewer than four bytes: the set as it is.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <xxhash.h>

#include "archive/archive_crypto.h"
#include "archive/set_manifest.h"
#include "commands/volume_set_writer.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "scratch_dir.h"
#include "small_set.h"
#include "zelkor/zelkor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string At(const zelkor::fuzz::ScratchDir& scratch, const std::string& name)
{
    return (scratch.path() / name).string();
}

Bytes Load(const std::string& path)
{
    zelkor::File file = zelkor::File::Open(path, zelkor::OpenFlags::Read);
    Bytes bytes(1 << 20);
    const std::optional<std::size_t> got = file.ReadAt(0, bytes.data(), bytes.size());
    if (!got)
        std::abort();
    bytes.resize(*got);
    return bytes;
}

// The manifest, then each volume's archive and key file, of fifteen raw
// entries of 100 bytes in volumes of at most 600 bytes.
std::vector<Bytes> BuildSet()
{
    const zelkor::fuzz::ScratchDir scratch;
    const std::size_t volumes = WriteSmallSet(At(scratch, "game.pak"), 9);
    std::vector<Bytes> files{Load(At(scratch, "game.pak.set"))};
    for (std::size_t volume = 0; volume < volumes; ++volume) {
        const std::string path = zelkor::SetManifest::VolumePath(At(scratch, "game.pak"), volume);
        files.push_back(Load(path));
        files.push_back(Load(path + ".zlk"));
    }
    return files;
}

struct MemorySet {
    const std::vector<Bytes>* files;
    std::uint32_t failing;
    std::atomic<int> filled{0};
    std::atomic<int> released{0};
    std::atomic<int> setsReleased{0};
};

struct Piece {
    MemorySet* set;
    const Bytes* bytes;
};

int64_t ReadPiece(void* opaque, uint64_t offset, void* buffer, size_t length)
{
    const Bytes& bytes = *static_cast<const Piece*>(opaque)->bytes;
    if (offset >= bytes.size())
        return 0;
    const std::size_t count = std::min<std::size_t>(length, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, count);
    return static_cast<int64_t>(count);
}

void ReleasePiece(void* opaque)
{
    const Piece* piece = static_cast<const Piece*>(opaque);
    ++piece->set->released;
    delete piece;
}

zlk_source SourceOf(MemorySet& set, const Bytes& bytes)
{
    ++set.filled;
    return {new Piece{&set, &bytes}, bytes.size(), ReadPiece, ReleasePiece};
}

int OpenVolume(void* opaque, uint32_t volume, zlk_source* archive, zlk_source* key_file)
{
    MemorySet& set = *static_cast<MemorySet*>(opaque);
    if (volume == set.failing || 1 + 2 * std::size_t{volume} >= set.files->size())
        return 1;
    *archive = SourceOf(set, (*set.files)[1 + 2 * volume]);
    *key_file = SourceOf(set, (*set.files)[2 + 2 * volume]);
    return 0;
}

void ReleaseSet(void* opaque)
{
    ++static_cast<MemorySet*>(opaque)->setsReleased;
}

void ReadSet(const std::vector<Bytes>& files, bool keyFiles, std::uint32_t failing)
{
    MemorySet memory{&files, failing};
    {
        const zlk_source manifest = SourceOf(memory, files[0]);
        const zlk_volume_sources volumes = {&memory, keyFiles ? 1 : 0, OpenVolume, ReleaseSet};
        zlk_archive* set = nullptr;
        zlk_error error;
        if (zlk_open_set_source(&manifest, &volumes, nullptr, &set, &error) == ZLK_OK) {
            WalkSet(set);
            zlk_close(set);
        }
    }
    if (memory.filled != memory.released || memory.setsReleased != 1)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<Bytes> set = BuildSet();
    std::vector<Bytes> files = set;
    bool keyFiles = true;
    std::uint32_t failing = ~0u;
    if (size >= 4) {
        keyFiles = (data[1] & 1) == 0;
        failing = data[1] >> 1;
        if (data[0] < files.size()) {
            Bytes& file = files[data[0]];
            file.resize(data[2] | data[3] << 8, 0);
            for (std::size_t i = 4; i < size; ++i) {
                if (i - 4 >= file.size())
                    file.push_back(0);
                file[i - 4] ^= data[i];
            }
            if (data[0] == 0 && file.size() >= zelkor::SetManifest::ChecksumSize) {
                const std::size_t body = file.size() - zelkor::SetManifest::ChecksumSize;
                zelkor::EncodeFixed64(file.data() + body, XXH64(file.data(), body, 0));
            }
        }
    }
    ReadSet(files, keyFiles, failing);
    return 0;
}
