#include "archive/archive_crypto.h"

#include <mutex>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/randpool.h>

namespace zelkor {

static_assert(IvSize == CryptoPP::AES::BLOCKSIZE && IvSize <= ShareSize && KeySize == ShareSize);

void PrepareCrypto()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Exercise every algorithm the writers and readers use, so that their
        // tables are filled and the CPU's features detected here, on one thread.
        // The random pool is seeded from fixed bytes: it runs the same algorithms
        // as the automatically seeded one, and the operating system's source, which
        // every pool opens afresh, needs no set-up.
        const CryptoPP::byte zeros[KeySize] = {};
        CryptoPP::byte block[CryptoPP::AES::BLOCKSIZE] = {};
        CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption encryption(zeros, KeySize, zeros);
        encryption.ProcessData(block, block, sizeof block);
        CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption decryption(zeros, KeySize, zeros);
        decryption.ProcessData(block, block, sizeof block);
        CryptoPP::RandomPool pool;
        pool.IncorporateEntropy(zeros, sizeof zeros);
        pool.GenerateBlock(block, sizeof block);
        NameHash("");
    });
}

KeyMaterial KeyMaterial::Random()
{
    KeyMaterial material;
    CryptoPP::AutoSeededRandomPool pool;
    pool.GenerateBlock(material.archiveKeyShare.data(), ShareSize);
    pool.GenerateBlock(material.archiveIvShare.data(), ShareSize);
    pool.GenerateBlock(material.keyFileKeyShare.data(), ShareSize);
    pool.GenerateBlock(material.keyFileIvShare.data(), ShareSize);
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

ArchiveKey ArchiveKey::FromShares(const ArchiveHeader& archive, const KeyFileHeader* keyFile)
{
    ArchiveKey result;
    for (std::size_t i = 0; i < KeySize; ++i)
        result.key[i] = archive.keyShare[i] ^ (keyFile ? keyFile->keyShare[i] : 0);
    for (std::size_t i = 0; i < IvSize; ++i)
        result.iv[i] = archive.ivShare[i] ^ (keyFile ? keyFile->ivShare[i] : 0);
    return result;
}

void ArchiveKey::Encrypt(std::span<std::uint8_t> bytes) const
{
    if (bytes.empty())
        return;
    CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cipher(key.data(), KeySize, iv.data());
    cipher.ProcessData(bytes.data(), bytes.data(), bytes.size());
}

void ArchiveKey::Decrypt(std::span<std::uint8_t> bytes) const
{
    if (bytes.empty())
        return;
    CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cipher(key.data(), KeySize, iv.data());
    cipher.ProcessData(bytes.data(), bytes.data(), bytes.size());
}

}  // namespace zelkor
