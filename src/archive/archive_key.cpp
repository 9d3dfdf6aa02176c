#include "archive/archive_key.h"

#include <algorithm>
#include <mutex>

#include <cryptopp/aes.h>
#include <cryptopp/cpu.h>
#include <cryptopp/modes.h>

namespace zelkor {

static_assert(IvSize == CryptoPP::AES::BLOCKSIZE && IvSize <= ShareSize && KeySize == ShareSize);

void PrepareCipher()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Exercise every algorithm readers and writers use, so that their tables
        // are filled and the processor's features detected here, on one thread.
        const CryptoPP::byte zeros[KeySize] = {};
        CryptoPP::byte block[CryptoPP::AES::BLOCKSIZE] = {};
        CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption encryption(zeros, KeySize, zeros);
        encryption.ProcessData(block, block, sizeof block);
        CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption decryption(zeros, KeySize, zeros);
        decryption.ProcessData(block, block, sizeof block);
#if CRYPTOPP_BOOL_X86 || CRYPTOPP_BOOL_X32 || CRYPTOPP_BOOL_X64
        (void)CryptoPP::HasAESNI();
#endif
        NameHash("");
    });
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

bool ArchiveKey::LeavesKeyAlone(const KeyFileHeader& keyFile)
{
    const auto zero = [](std::uint8_t byte) { return byte == 0; };
    return std::all_of(keyFile.keyShare.begin(), keyFile.keyShare.begin() + KeySize, zero) &&
           std::all_of(keyFile.ivShare.begin(), keyFile.ivShare.begin() + IvSize, zero);
}

void ArchiveKey::Encrypt(std::span<std::uint8_t> bytes) const
{
    if (bytes.empty())
        return;
    CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cipher(key.data(), KeySize, iv.data());
    cipher.ProcessData(bytes.data(), bytes.data(), bytes.size());
}

void ArchiveKey::Encrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) const
{
    if (in.empty())
        return;
    CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cipher(key.data(), KeySize, iv.data());
    cipher.ProcessData(out.data(), in.data(), in.size());
}

void ArchiveKey::Decrypt(std::span<std::uint8_t> bytes) const
{
    if (bytes.empty())
        return;
    CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cipher(key.data(), KeySize, iv.data());
    cipher.ProcessData(bytes.data(), bytes.data(), bytes.size());
}

struct ArchiveKey::Stream::Cipher {
    CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cfb;
};

ArchiveKey::Stream::Stream(const ArchiveKey& key)
    : cipher_(new Cipher{CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption(key.key.data(), KeySize, key.iv.data())})
{
}

ArchiveKey::Stream::~Stream() = default;

void ArchiveKey::Stream::Encrypt(std::span<std::uint8_t> piece)
{
    if (!piece.empty())
        cipher_->cfb.ProcessData(piece.data(), piece.data(), piece.size());
}

}  // namespace zelkor
