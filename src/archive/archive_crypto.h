#pragma once

// The key material a new archive draws: random, or derived from a key seed.
// How the key and IV are formed from it, and the cipher, are in archive_key.h.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/archive_format.h"
#include "archive/archive_key.h"

namespace zelkor {

// Runs the crypto library's one-time set-up for everything writers use (the
// cipher, the name hash, the random pool and the key derivation), which is not
// safe when first done by several threads at once. Safe to call from any thread;
// the work is done once, and later calls return at once.
void PrepareCrypto();

// A key seed file holds at least a key's worth of secret bytes, and is read
// whole into memory, so its size is bounded.
inline constexpr std::size_t MinKeySeedSize = KeySize;
inline constexpr std::size_t MaxKeySeedSize = std::size_t{1} << 20;
inline constexpr std::string_view KeySeedInfo = "Zelkor archive key material v1";
inline constexpr std::string_view VolumeKeyInfo = "Zelkor volume key material v1";

// The four blocks of key material of one archive, in the order they are drawn:
// the archive's shares, then the key file's.
struct KeyMaterial {
    Share archiveKeyShare{};
    Share archiveIvShare{};
    Share keyFileKeyShare{};
    Share keyFileIvShare{};

    // Fresh random blocks from an automatically seeded pool of the operating
    // system's generator. Throws when that generator cannot be used.
    static KeyMaterial Random();

    // The blocks derived from a secret key seed, so that the same seed gives the
    // same archive for the same contents: HKDF with SHA-256, the seed as input
    // key material, no salt, the info KeySeedInfo, 128 bytes taken in the order
    // of the fields above.
    static KeyMaterial FromSeed(std::span<const std::uint8_t> seed);

    // FromSeed over the whole content of the file at `path`. Nothing when the file
    // cannot be opened or read, is not a regular file, or holds fewer than
    // MinKeySeedSize or more than MaxKeySeedSize bytes.
    static std::optional<KeyMaterial> FromSeedFile(const std::string& path);

    // The four shares in the order they are drawn (or derived).
    std::array<Share*, 4> InDrawOrder()
    {
        return {&archiveKeyShare, &archiveIvShare, &keyFileKeyShare, &keyFileIvShare};
    }

    // The material of volume `volume` (from 1) of a set with key files: every
    // share XORed with a mask derived from this material and the number (HKDF
    // with SHA-256, the four shares as input key material, no salt, the info
    // VolumeKeyInfo followed by the number as 4 bytes little-endian; 64 bytes,
    // the first 32 for both key shares, the rest for both IV shares). The key
    // and IV the two files form are this material's, so entries encrypted for
    // the set read in whichever volume they land; the shares, and with them the
    // volume's header, differ from volume to volume. A set without key files
    // keeps this material in every volume: its archive shares are the key.
    KeyMaterial ForVolume(std::uint32_t volume) const;

    ArchiveHeader MakeArchiveHeader() const;
    KeyFileHeader MakeKeyFileHeader() const;
};

}  // namespace zelkor
