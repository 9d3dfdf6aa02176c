#include "reader/entry_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <lz4.h>

#include "archive/archive_format_error.h"
#include "archive/content_hasher.h"
#include "reader/block_decoder.h"
#include "reader/source_error.h"

namespace zelkor {

namespace {

// An LZ4 block yields fewer than 255 bytes for each of its own: the longest
// match costs a token, an offset and one byte per further 255 bytes.
constexpr std::uint64_t MaxExpansion = 255;

// Stored bytes are read, decrypted and hashed this much at a time, so that
// each piece is still in the cache for the next step.
constexpr std::size_t RawPiece = 256 * 1024;

// The window of compressed stored bytes, on the stack. A block that fits it
// whole is decoded by LZ4 itself; a larger one streams through it.
constexpr std::size_t Window = 32 * 1024;

constexpr std::size_t Block = EntryCipher::BlockSize;

// Reads exactly `into.size()` bytes at `offset`.
void ReadExactly(const ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> into,
                 std::uint64_t entryOffset)
{
    const std::optional<std::size_t> got = source.ReadAt(offset, into);
    if (!got)
        throw SourceError::CannotRead(source.Name());
    if (*got != into.size())
        throw ArchiveFormatError(source.Name() + ": stored bytes of the FileEntry at offset " +
                                 std::to_string(entryOffset) + " are gone");
}

std::uint64_t EntryOffset(const FileEntry& fields)
{
    return std::uint64_t{fields.dataOffset} - FileEntry::Size;
}

// The stored bytes of a compressed entry as a decoder takes them: read from
// the source and decrypted, a piece at a time, in order.
class StoredInput : public BlockDecoder::Input {
public:
    StoredInput(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields)
        : source_(source), stream_(cipher), next_(fields.dataOffset), entryOffset_(EntryOffset(fields))
    {
    }

    void Fill(std::span<std::uint8_t> into) override
    {
        ReadExactly(source_, next_, into, entryOffset_);
        next_ += into.size();
        stream_.Decrypt(into);
    }

private:
    const ByteSource& source_;
    EntryCipher::Stream stream_;
    std::uint64_t next_;
    std::uint64_t entryOffset_;
};

// Hashes the raw bytes as the decoder declares them final.
class HashingProgress : public BlockDecoder::Progress {
public:
    explicit HashingProgress(std::span<const std::uint8_t> raw) : raw_(raw) {}

    void Final(std::size_t count) override
    {
        hasher_.Update(raw_.subspan(done_, count - done_));
        done_ = count;
    }

    std::uint32_t Digest(std::size_t end)
    {
        Final(end);
        return hasher_.Digest();
    }

private:
    std::span<const std::uint8_t> raw_;
    ContentHasher hasher_;
    std::size_t done_ = 0;
};

EntryReader::Status ReadStoredRaw(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields,
                                  std::span<std::uint8_t> raw)
{
    EntryCipher::Stream stream(cipher);
    ContentHasher hasher;
    for (std::size_t done = 0; done < raw.size();) {
        const std::span<std::uint8_t> piece = raw.subspan(done, std::min(RawPiece, raw.size() - done));
        ReadExactly(source, fields.dataOffset + done, piece, EntryOffset(fields));
        stream.Decrypt(piece);
        hasher.Update(piece);
        done += piece.size();
    }
    return hasher.Digest() == fields.contentHash ? EntryReader::Status::Ok : EntryReader::Status::HashMismatch;
}

// A compressed block whole in memory, decrypted, decoded by LZ4 itself.
EntryReader::Status DecodeWhole(std::span<const std::uint8_t> stored, const FileEntry& fields,
                                std::span<std::uint8_t> raw)
{
    const int produced = LZ4_decompress_safe(reinterpret_cast<const char*>(stored.data()),
                                             reinterpret_cast<char*>(raw.data()), static_cast<int>(stored.size()),
                                             static_cast<int>(raw.size()));
    if (produced < 0 || static_cast<std::size_t>(produced) != raw.size())
        return EntryReader::Status::BadCompression;
    return ContentHasher::Of(raw) == fields.contentHash ? EntryReader::Status::Ok : EntryReader::Status::HashMismatch;
}

EntryReader::Status ReadCompressed(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields,
                                   std::span<std::uint8_t> raw)
{
    alignas(64) std::uint8_t window[Window];
    if (fields.storedSize <= Window) {
        const std::span<std::uint8_t> stored(window, fields.storedSize);
        ReadExactly(source, fields.dataOffset, stored, EntryOffset(fields));
        EntryCipher::Stream(cipher).Decrypt(stored);
        return DecodeWhole(stored, fields, raw);
    }
    StoredInput input(source, cipher, fields);
    HashingProgress progress(raw);
    if (!BlockDecoder(std::span<std::uint8_t>(window, sizeof window), Block)
             .Decode(input, fields.storedSize, raw, &progress))
        return EntryReader::Status::BadCompression;
    return progress.Digest(raw.size()) == fields.contentHash ? EntryReader::Status::Ok
                                                              : EntryReader::Status::HashMismatch;
}

}  // namespace

bool EntryReader::CouldDecode(std::uint32_t rawSize, std::uint32_t storedSize)
{
    if (storedSize >= rawSize)
        return storedSize == rawSize;
    return rawSize <= static_cast<std::uint32_t>(LZ4_MAX_INPUT_SIZE) &&
           std::uint64_t{rawSize} <= MaxExpansion * storedSize;
}

EntryReader::Status EntryReader::Read(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields,
                                      std::span<std::uint8_t> raw)
{
    if (!CouldDecode(fields.rawSize, fields.storedSize) || raw.size() != fields.rawSize)
        return Status::BadCompression;
    if (fields.storedSize == fields.rawSize)
        return ReadStoredRaw(source, cipher, fields, raw);
    return ReadCompressed(source, cipher, fields, raw);
}

EntryReader::Status EntryReader::Decode(const EntryCipher& cipher, const FileEntry& fields,
                                        std::span<std::uint8_t> stored, std::span<std::uint8_t> raw)
{
    if (!CouldDecode(fields.rawSize, fields.storedSize) || raw.size() != fields.rawSize ||
        stored.size() != fields.storedSize)
        return Status::BadCompression;
    EntryCipher::Stream(cipher).Decrypt(stored);
    if (fields.storedSize == fields.rawSize) {
        std::copy(stored.begin(), stored.end(), raw.begin());
        return ContentHasher::Of(raw) == fields.contentHash ? Status::Ok : Status::HashMismatch;
    }
    return DecodeWhole(stored, fields, raw);
}

void EntryReader::ReadRange(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields,
                            std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (out.empty())
        return;
    // The block holding `offset` is deciphered from the ciphertext of the one
    // before it, read with the range; the first from the IV.
    const std::uint64_t first = offset / Block * Block;
    const std::uint64_t entryOffset = EntryOffset(fields);
    EntryCipher::Block previous = cipher.Key().iv;
    if (first > 0)
        ReadExactly(source, fields.dataOffset + first - Block, previous, entryOffset);
    EntryCipher::Stream stream(cipher, previous);
    // The bytes of the first block before the range are read into a block of
    // their own, so that the stream stays on whole blocks.
    std::size_t done = 0;
    if (const std::size_t skip = static_cast<std::size_t>(offset - first); skip > 0) {
        EntryCipher::Block head;
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(Block, std::uint64_t{fields.storedSize} - first));
        ReadExactly(source, fields.dataOffset + first, std::span<std::uint8_t>(head.data(), count), entryOffset);
        stream.Decrypt(std::span<std::uint8_t>(head.data(), count));
        done = std::min(out.size(), count - skip);
        std::memcpy(out.data(), head.data() + skip, done);
    }
    // The rest goes straight into the caller's memory, whole blocks but the last.
    if (done < out.size()) {
        const std::span<std::uint8_t> rest = out.subspan(done);
        ReadExactly(source, fields.dataOffset + offset + done, rest, entryOffset);
        stream.Decrypt(rest);
    }
}

const char* EntryReader::Describe(Status status)
{
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::BadCompression:
        return "stored bytes do not decompress to the raw size";
    case Status::HashMismatch:
        return "content hash does not match";
    }
    return "unknown status";
}

}  // namespace zelkor
