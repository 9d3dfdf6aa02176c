#pragma once

// How an archive's key and IV are formed from the shares, and the cipher that
// every entry's stored bytes go through: the part of the format's cryptography
// that readers need as much as writers.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "archive/archive_format.h"

namespace zelkor {

// Runs the crypto library's one-time set-up for the cipher and the name hash
// (its tables and its detection of the processor's features), which is not safe
// when first done by several threads at once. Safe to call from any thread, any
// number of times: the work is done once, and later calls return at once.
void PrepareCipher();

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

    // One entry's encryption for stored bytes that come a piece at a time: the
    // pieces, in order, come out as Encrypt makes the whole of them.
    class Stream {
    public:
        explicit Stream(const ArchiveKey& key);
        ~Stream();
        Stream(const Stream&) = delete;
        Stream& operator=(const Stream&) = delete;

        // The next piece, in place.
        void Encrypt(std::span<std::uint8_t> piece);

    private:
        struct Cipher;
        std::unique_ptr<Cipher> cipher_;
    };
};

}  // namespace zelkor
