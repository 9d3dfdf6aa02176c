#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "archive/archive_format.h"
#include "reader/byte_source.h"
#include "reader/entry_cipher.h"

namespace zelkor {

// Reads the content of one entry into the caller's memory and proves it: the
// stored bytes are read a window at a time, decrypted, decoded straight into
// the caller's memory when they are compressed, and hashed while they are
// still in the cache. Allocates nothing where the processor has AES
// instructions (see EntryCipher); needs about 40 KiB of stack.
//
// The entry's fields are taken as given: the caller has checked them against
// the archive (dataOffset, and storedSize within the source). A fault of the
// content (bytes that do not decompress, a hash that does not match) concerns
// the entry alone and comes back as a status. A source that cannot be read
// throws SourceError, and one that has become shorter than the fields say
// throws ArchiveFormatError naming the entry's offset.
class EntryReader {
public:
    enum class Status {
        Ok,
        BadCompression,  // the stored bytes are no LZ4 block of exactly rawSize bytes
        HashMismatch,    // the raw bytes' hash differs from the content hash
    };

    // Whether a compressed entry of these sizes can be a real LZ4 block at all:
    // no block expands more than 255 times, and LZ4 takes no input over its
    // limit. Checked before anything is read or allocated for it.
    static bool CouldDecode(std::uint32_t rawSize, std::uint32_t storedSize);

    // The whole content into `raw`, exactly fields.rawSize bytes long.
    static Status Read(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields,
                       std::span<std::uint8_t> raw);

    // The same for stored bytes already read (still encrypted) into `stored`,
    // which is decrypted in place.
    static Status Decode(const EntryCipher& cipher, const FileEntry& fields, std::span<std::uint8_t> stored,
                         std::span<std::uint8_t> raw);

    // Bytes [offset, offset + out.size()) of an entry stored raw (storedSize
    // equal to rawSize; the range within it), decrypted. CFB decrypts from any
    // block, so this costs what it reads. Nothing is proven: the content hash
    // covers the whole entry only.
    static void ReadRange(const ByteSource& source, const EntryCipher& cipher, const FileEntry& fields,
                          std::uint64_t offset, std::span<std::uint8_t> out);

    // "ok", "stored bytes do not decompress to the raw size", "content hash does
    // not match".
    static const char* Describe(Status status);
};

}  // namespace zelkor
