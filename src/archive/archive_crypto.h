#pragma once

// The cryptography of the archive format: the key material a new archive draws,
// how its key and IV are formed from the shares, and the cipher that every
// entry's stored bytes go through.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/archive_format.h"

namespace zelkor {

// Runs the crypto library's one-time set-up (its tables and CPU feature
// detection), which is not safe when first done by several threads at once. Call
// it on the main thread before writers or readers work in parallel; calls after
// the first return at once.
void PrepareCrypto();

// A key seed file holds at least a key's worth of secret bytes, and is read
// whole into memory, so its size is bounded.
inline constexpr std::size_t MinKeySeedSize = KeySize;
inline constexpr std::size_t MaxKeySeedSize = std::size_t{1} << 20;
inline constexpr std::string_view KeySeedInfo = "Zelkor archive key material v1";

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

    ArchiveHeader MakeArchiveHeader() const;
    KeyFileHeader MakeKeyFileHeader() const;
};

// The key and IV that encrypt every entry of one archive: AES-256 in CFB mode
// with full-block feedback, started afresh from the IV for every entry, so an
// entry's stored bytes never depend on the entries before it.
struct ArchiveKey {
    std::array<std::uint8_t, KeySize> key{};
    std::array<std::uint8_t, IvSize> iv{};

    // With a key file, the byte-wise XOR of the two shares; without one, the
    // archive's shares alone. Bytes IvSize and up of the IV shares take no part.
    static ArchiveKey FromShares(const ArchiveHeader& archive, const KeyFileHeader* keyFile);

    // Whether a key file with these shares would leave the archive's own key and
    // IV as they are: its key share and the bytes of its IV share that take part
    // are all zero. Such a key file decodes an archive built without one, so
    // readers refuse it as planted and writers never write it.
    static bool LeavesKeyAlone(const KeyFileHeader& keyFile);

    // One entry's stored bytes, in place; the length does not change. Safe on
    // several threads at once (each call has its own cipher).
    void Encrypt(std::span<std::uint8_t> bytes) const;
    void Decrypt(std::span<std::uint8_t> bytes) const;
    // Encrypts `in` into `out`, which is as long, in one pass.
    void Encrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) const;
};

}  // namespace zelkor
