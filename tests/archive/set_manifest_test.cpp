// The manifest of a volume set: its layout, every refused form, the names of
// the volumes and their key files, and the key material of each volume.
#include "archive/set_manifest.h"

#include <xxhash.h>

#include <gtest/gtest.h>

#include "archive/archive_crypto.h"
#include "archive/archive_format_error.h"
#include "archive/archive_key.h"
#include "platform/little_endian.h"

namespace zelkor {
namespace {

using Bytes = std::vector<std::uint8_t>;

SetManifest Sample()
{
    SetManifest manifest;
    manifest.keyFiles = true;
    manifest.volumes = {{"game.pak", 1000, 3, 0x1122334455667788, 5}, {"game_001.pak", 68, 0, 7, 6}};
    manifest.retired = {{"game_002.pak", 88, 1, 9, 10}};
    return manifest;
}

// `bytes` with the checksum made right again, as a forger would.
Bytes Resealed(Bytes bytes)
{
    const std::size_t body = bytes.size() - SetManifest::ChecksumSize;
    EncodeFixed64(bytes.data() + body, XXH64(bytes.data(), body, 0));
    return bytes;
}

TEST(SetManifestTest, LayoutAndRoundTrip)
{
    const Bytes bytes = Sample().Encode();
    // The header, then the first record: name length, name, size, entries,
    // digest of the records, digest of the key file's header.
    const Bytes head = {'Z', 'L', 'K', 'S', 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,
                        8, 0, 'g', 'a', 'm', 'e', '.', 'p', 'a', 'k',
                        0xE8, 3, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
                        5, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_GE(bytes.size(), head.size());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + head.size()), head);
    EXPECT_EQ(bytes.size(), SetManifest::HeaderSize + 3 * SetManifest::VolumeFixedSize + 8 + 12 + 12 + 8);
    const SetManifest decoded = SetManifest::Decode(bytes, "out/game.pak.set");
    EXPECT_TRUE(decoded.keyFiles);
    EXPECT_EQ(decoded.volumes, Sample().volumes);
    EXPECT_EQ(decoded.retired, Sample().retired);
}

TEST(SetManifestTest, EveryDamagedOrOverreachingFormIsRefused)
{
    const Bytes bytes = Sample().Encode();
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_THROW(SetManifest::Decode(std::span(bytes).first(size), "game.pak.set"), ArchiveFormatError) << size;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        Bytes flipped = bytes;
        flipped[at] ^= 0x20;
        EXPECT_THROW(SetManifest::Decode(flipped, "game.pak.set"), ArchiveFormatError) << at;
    }
    Bytes longer = bytes;
    longer.insert(longer.end() - SetManifest::ChecksumSize, 0);
    EXPECT_THROW(SetManifest::Decode(Resealed(longer), "game.pak.set"), ArchiveFormatError);
    Bytes newer = bytes;
    newer[4] = 2;
    EXPECT_THROW(SetManifest::Decode(Resealed(newer), "game.pak.set"), ArchiveFormatError);
    Bytes flagged = bytes;
    flagged[16] = 3;
    EXPECT_THROW(SetManifest::Decode(Resealed(flagged), "game.pak.set"), ArchiveFormatError);
    EXPECT_THROW(SetManifest::Decode(bytes, "other.pak.set"), ArchiveFormatError);

    // Well formed, with a checksum that matches, and still refused.
    const SetManifest::Volume first{"game.pak", 68, 0, 0, 0};
    const struct {
        const char* why;
        std::vector<SetManifest::Volume> volumes;
        std::vector<SetManifest::Volume> retired;
    } rows[] = {
        {"no volume", {}, {}},
        {"too many volumes", std::vector<SetManifest::Volume>(SetManifest::MaxVolumes + 1, first), {}},
        {"too many retired", {first}, std::vector<SetManifest::Volume>(SetManifest::MaxVolumes + 1, first)},
        {"a path", {first, {"sub/game_001.pak", 68, 0, 0, 0}}, {}},
        {"a Windows path", {first, {"..\\game_001.pak", 68, 0, 0, 0}}, {}},
        {"the parent", {first, {"..", 68, 0, 0, 0}}, {}},
        {"an empty name", {first}, {{"", 68, 0, 0, 0}}},
        {"a NUL", {first, {std::string("a\0b", 3), 68, 0, 0, 0}}, {}},
        {"smaller than a header", {first, {"game_001.pak", 67, 0, 0, 0}}, {}},
        {"past 4 GiB", {first, {"game_001.pak", (std::uint64_t{1} << 32) + 1, 0, 0, 0}}, {}},
        {"more entries than fit", {first, {"game_001.pak", 68 + 39, 2, 0, 0}}, {}},
        {"a name twice", {first, first}, {}},
        {"a retired volume that is a volume", {first}, {first}},
        {"another first volume", {{"game_001.pak", 68, 0, 0, 0}}, {}},
    };
    for (const auto& row : rows) {
        SetManifest manifest;
        manifest.volumes = row.volumes;
        manifest.retired = row.retired;
        EXPECT_THROW(SetManifest::Decode(manifest.Encode(), "dir/game.pak.set"), ArchiveFormatError) << row.why;
    }
}

TEST(SetManifestTest, VolumeAndKeyFileNames)
{
    const struct {
        const char* first;
        std::size_t volume;
        const char* path;
    } volumes[] = {
        {"game.pak", 0, "game.pak"},       {"game.pak", 1, "game_001.pak"},    {"out/game.pak", 12, "out/game_012.pak"},
        {"data", 3, "data_003"},           {".hidden", 1, ".hidden_001"},      {"a.b/c", 1, "a.b/c_001"},
        {"x.tar.gz", 255, "x.tar_255.gz"}, {"/abs/p.pak", 7, "/abs/p_007.pak"},
    };
    for (const auto& row : volumes)
        EXPECT_EQ(SetManifest::VolumePath(row.first, row.volume), row.path) << row.first << " " << row.volume;

    const struct {
        const char* key;
        const char* path;
    } keys[] = {
        {"out/game.pak.zlk", "out/game_002.pak.zlk"},
        {"keys/game.key", "keys/game_002.key"},
        {"out/game.zlk", "out/game_002.zlk"},
    };
    for (const auto& row : keys)
        EXPECT_EQ(SetManifest::VolumeKeyPath("out/game.pak", row.key, "out/game_002.pak", 2), row.path) << row.key;
    EXPECT_EQ(SetManifest::PathFor("out/game.pak"), "out/game.pak.set");
}

TEST(SetManifestTest, EachVolumeHasItsOwnSharesOfTheSetsKey)
{
    std::vector<std::uint8_t> seed(32, 7);
    const KeyMaterial material = KeyMaterial::FromSeed(seed);
    const KeyFileHeader setKeyFile = material.MakeKeyFileHeader();
    const ArchiveKey setKey = ArchiveKey::FromShares(material.MakeArchiveHeader(), &setKeyFile);
    for (std::uint32_t volume : {1u, 2u, 255u}) {
        const KeyMaterial own = material.ForVolume(volume);
        const KeyFileHeader keyFile = own.MakeKeyFileHeader();
        const ArchiveKey key = ArchiveKey::FromShares(own.MakeArchiveHeader(), &keyFile);
        EXPECT_EQ(key.key, setKey.key) << volume;
        EXPECT_EQ(key.iv, setKey.iv) << volume;
        EXPECT_NE(own.archiveKeyShare, material.archiveKeyShare);
        EXPECT_NE(own.keyFileIvShare, material.keyFileIvShare);
        EXPECT_NE(own.archiveKeyShare, material.ForVolume(volume + 1).archiveKeyShare);
        // The same seed and number give the same volume, build after build.
        EXPECT_EQ(own.archiveIvShare, KeyMaterial::FromSeed(seed).ForVolume(volume).archiveIvShare);
    }
}

}  // namespace
}  // namespace zelkor
