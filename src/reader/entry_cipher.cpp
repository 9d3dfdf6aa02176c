#include "reader/entry_cipher.h"

#include <cstring>

#include <cryptopp/aes.h>
#include <cryptopp/cpu.h>

namespace zelkor {

struct CipherSchedule {
    explicit CipherSchedule(const ArchiveKey& key) : aes(key.key.data(), KeySize) {}
    CryptoPP::AES::Encryption aes;
};

namespace {

// Whether one AES schedule may serve several threads at once. With AES
// instructions the library's block functions read the schedule and nothing
// else; its other x86 code works in a scratch area of the object itself.
bool ScheduleIsShareable()
{
#if CRYPTOPP_BOOL_X86 || CRYPTOPP_BOOL_X32 || CRYPTOPP_BOOL_X64
    return CryptoPP::HasAESNI();
#else
    return false;
#endif
}

}  // namespace

EntryCipher::EntryCipher(const ArchiveKey& key) : key_(key)
{
    PrepareCipher();
    shared_ = ScheduleIsShareable();
    schedule_ = std::make_unique<CipherSchedule>(key);
}

EntryCipher::~EntryCipher() = default;

EntryCipher::Stream::Stream(const EntryCipher& cipher, const Block& previousCiphertext)
    : feedback_(previousCiphertext)
{
    if (cipher.shared_) {
        schedule_ = cipher.schedule_.get();
    } else {
        own_ = std::make_unique<CipherSchedule>(cipher.key_);
        schedule_ = own_.get();
    }
}

EntryCipher::Stream::~Stream() = default;

void EntryCipher::Stream::Decrypt(std::span<std::uint8_t> piece)
{
    const CryptoPP::AES::Encryption& aes = schedule_->aes;
    const std::size_t whole = piece.size() / BlockSize * BlockSize;
    const std::size_t tail = piece.size() - whole;
    std::uint8_t* const bytes = piece.data();
    // A last, partial block is deciphered first, from the ciphertext of the
    // whole block before it, which the step below overwrites.
    if (tail > 0) {
        Block stream;
        aes.ProcessBlock(whole > 0 ? bytes + whole - BlockSize : feedback_.data(), stream.data());
        for (std::size_t i = 0; i < tail; ++i)
            bytes[whole + i] ^= stream[i];
    }
    if (whole == 0)
        return;
    // Block i is the cipher of block i - 1 (the feedback for the first) XOR
    // block i. From the last block back to the second, each one's input is
    // still ciphertext when it is reached, so they go in one call, in place.
    Block next;
    std::memcpy(next.data(), bytes + whole - BlockSize, BlockSize);
    if (whole > BlockSize)
        aes.AdvancedProcessBlocks(bytes, bytes + BlockSize, bytes + BlockSize, whole - BlockSize,
                                  CryptoPP::BlockTransformation::BT_ReverseDirection);
    aes.ProcessAndXorBlock(feedback_.data(), bytes, bytes);
    feedback_ = next;
}

}  // namespace zelkor
