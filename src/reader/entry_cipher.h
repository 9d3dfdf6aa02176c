#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "archive/archive_key.h"

namespace zelkor {

// An AES key schedule (defined where the crypto library is included).
struct CipherSchedule;

// The decryption of entries' stored bytes for one archive: AES-256 in CFB mode
// with full-block feedback, with the key schedule computed once when the
// archive is opened and shared by every read.
//
// CFB decrypts each 16-byte block from the ciphertext of the block before it
// (the IV for the first), so decryption can start at any block, and all the
// blocks of a piece are deciphered at once. A Stream decrypts one entry's bytes,
// or a stretch of them, in pieces; it allocates nothing where the processor has
// AES instructions, which lets one key schedule serve every thread at once.
// Elsewhere each stream takes a schedule of its own.
class EntryCipher {
public:
    static constexpr std::size_t BlockSize = IvSize;
    using Block = std::array<std::uint8_t, BlockSize>;

    explicit EntryCipher(const ArchiveKey& key);
    ~EntryCipher();
    EntryCipher(const EntryCipher&) = delete;
    EntryCipher& operator=(const EntryCipher&) = delete;

    const ArchiveKey& Key() const { return key_; }

    // Decrypts the stored bytes of one entry, or a stretch of them that starts
    // at a block boundary, as they come. Used by one thread at a time.
    class Stream {
    public:
        // From the entry's first byte.
        explicit Stream(const EntryCipher& cipher) : Stream(cipher, cipher.key_.iv) {}
        // From a later block, given the ciphertext of the block before it.
        Stream(const EntryCipher& cipher, const Block& previousCiphertext);
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;

        // The next piece, in place. Every piece but the last of the stretch is
        // a whole number of blocks long.
        void Decrypt(std::span<std::uint8_t> piece);

    private:
        const CipherSchedule* schedule_;
        std::unique_ptr<CipherSchedule> own_;  // where the shared one may not be used
        Block feedback_;
    };

private:
    ArchiveKey key_;
    std::unique_ptr<CipherSchedule> schedule_;
    bool shared_;
};

}  // namespace zelkor
