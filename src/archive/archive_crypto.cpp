#include "archive/archive_crypto.h"


#include <algorithm>
#include <cstring>
#include <mutex>

#include <cryptopp/aes.h>
#include <cryptopp/hkdf.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/randpool.h>
#include <cryptopp/secblock.h>
#include <cryptopp/sha.h>

#include "platform/file.h"
#include "platform/little_endian.h"

namespace zelkor {

void PrepareCrypto()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Exercise every algorithm the writers and readers use, so that their
        // tables are filled and the CPU's features detected here, on one thread.
        // The random pool is seeded from fixed bytes: it runs the same algorithms
        // as the automatically seeded one, and the operating system's source, which
        // every pool opens afresh, needs no set-up.
        PrepareCipher();
        const CryptoPP::byte zeros[KeySize] = {};
        CryptoPP::byte block[CryptoPP::AES::BLOCKSIZE] = {};
        CryptoPP::RandomPool pool;
        pool.IncorporateEntropy(zeros, sizeof zeros);
        pool.GenerateBlock(block, sizeof block);
        KeyMaterial::FromSeed(std::span(zeros, sizeof zeros));
    });
}

KeyMaterial KeyMaterial::Random()
{
    KeyMaterial material;
    CryptoPP::AutoSeededRandomPool pool;
    for (Share* share : material.InDrawOrder())
        pool.GenerateBlock(share->data(), ShareSize);
    return material;
}

KeyMaterial KeyMaterial::FromSeed(std::span<const std::uint8_t> seed)
{
    CryptoPP::SecByteBlock derived(4 * ShareSize);
    CryptoPP::HKDF<CryptoPP::SHA256>().DeriveKey(
        derived.data(), derived.size(), seed.data(), seed.size(), nullptr, 0,
        reinterpret_cast<const CryptoPP::byte*>(KeySeedInfo.data()), KeySeedInfo.size());
    KeyMaterial material;
    const CryptoPP::byte* next = derived.data();
    for (Share* share : material.InDrawOrder()) {
        std::memcpy(share->data(), next, ShareSize);
        next += ShareSize;
    }
    return material;
}

std::optional<KeyMaterial> KeyMaterial::FromSeedFile(const std::string& path)
{
    File file = File::OpenRegular(path, OpenFlags::Read);
    if (!file.IsOpen())
        return std::nullopt;
    // One byte more than the limit tells a file that is too long, whatever its
    // size said when it was opened. The buffer wipes the secret when it goes.
    CryptoPP::SecByteBlock seed(MaxKeySeedSize + 1);
    const std::optional<std::size_t> size = file.ReadUpTo(seed.data(), seed.size());
    if (!size || *size < MinKeySeedSize || *size > MaxKeySeedSize)
        return std::nullopt;
    return FromSeed(std::span(seed.data(), *size));
}

KeyMaterial KeyMaterial::ForVolume(std::uint32_t volume) const
{
    KeyMaterial material = *this;
    CryptoPP::SecByteBlock input(4 * ShareSize);
    CryptoPP::byte* next = input.data();
    for (Share* share : material.InDrawOrder()) {
        std::memcpy(next, share->data(), ShareSize);
        next += ShareSize;
    }
    std::string info(VolumeKeyInfo);
    std::uint8_t number[4];
    EncodeFixed32(number, volume);
    info.append(reinterpret_cast<const char*>(number), sizeof number);
    CryptoPP::SecByteBlock mask(2 * ShareSize);
    CryptoPP::HKDF<CryptoPP::SHA256>().DeriveKey(mask.data(), mask.size(), input.data(), input.size(), nullptr, 0,
                                                 reinterpret_cast<const CryptoPP::byte*>(info.data()), info.size());
    for (std::size_t i = 0; i < ShareSize; ++i) {
        material.archiveKeyShare[i] ^= mask[i];
        material.keyFileKeyShare[i] ^= mask[i];
        material.archiveIvShare[i] ^= mask[ShareSize + i];
        material.keyFileIvShare[i] ^= mask[ShareSize + i];
    }
    return material;
}

ArchiveHeader KeyMaterial::MakeArchiveHeader() const
{
    ArchiveHeader header;
    header.keyShare = archiveKeyShare;
    header.ivShare = archiveIvShare;
    return header;
}

KeyFileHeader KeyMaterial::MakeKeyFileHeader() const
{
    KeyFileHeader header;
    header.keyShare = keyFileKeyShare;
    header.ivShare = keyFileIvShare;
    return header;
}

}  // namespace zelkor
