#include "reader/indexed_archive.h"

#include <algorithm>
#include <limits>

#include "platform/little_endian.h"
#include "reader/source_error.h"

namespace zelkor {

namespace {

// Entries that store at most this much are read with their FileEntry in one
// read, on the stack; larger ones stream (EntryReader).
constexpr std::size_t SmallEntry = 16 * 1024;

[[noreturn]] void Changed(const ByteSource& source, const std::string& what)
{
    throw ArchiveFormatError(source.Name() + ": " + what + " changed since the archive was opened");
}

}  // namespace

// The key file's names: the file from its first NameRecord on, each name
// followed by a NUL written over the first byte of its content hash (which the
// index does not need), and where each entry's name starts.
class IndexedArchive::Names {
public:
    explicit Names(std::pmr::memory_resource* memory) : bytes(memory), starts(memory) {}

    std::pmr::vector<char> bytes;
    std::pmr::vector<std::uint64_t> starts;
};

// Builds the index as the reader checks the structure.
class IndexedArchive::Indexer : public ArchiveReader::Visitor {
public:
    Indexer(IndexedArchive& archive, ArchiveReader::Visitor* observer) : archive_(archive), observer_(observer) {}

    void Header(const ArchiveHeader& header) override
    {
        if (observer_)
            observer_->Header(header);
    }

    void Visit(const ArchiveReader::Position& position, const FileEntry& fields) override
    {
        // A checked entry lies below 4 GiB, and so fewer than 2^32 of them do.
        archive_.entries_.push_back({static_cast<std::uint32_t>(position.offset), fields.storedSize});
        archive_.byHash_.push_back({fields.nameHash, static_cast<std::uint32_t>(position.index)});
        if (observer_)
            observer_->Visit(position, fields);
    }

private:
    IndexedArchive& archive_;
    ArchiveReader::Visitor* observer_;
};

IndexedArchive::IndexedArchive(std::unique_ptr<ByteSource> archive, std::unique_ptr<ByteSource> keyFile,
                               std::pmr::memory_resource* memory, ArchiveReader::Visitor* observer)
    : memory_(memory), entries_(memory), byHash_(memory)
{
    Indexer indexer(*this, observer);
    reader_ = std::make_unique<ArchiveReader>(std::move(archive), std::move(keyFile), &indexer, memory);
    entries_.shrink_to_fit();
    byHash_.shrink_to_fit();
    std::sort(byHash_.begin(), byHash_.end(), [](const HashSlot& a, const HashSlot& b) {
        return a.hash != b.hash ? a.hash < b.hash : a.index < b.index;
    });
}

IndexedArchive::~IndexedArchive()
{
    if (const Names* names = names_.load(std::memory_order_acquire))
        std::pmr::polymorphic_allocator<Names>(memory_).delete_object(const_cast<Names*>(names));
}

FileEntry IndexedArchive::Fields(std::uint64_t index) const
{
    const Located at = entries_[index];
    const FileEntry fields = reader_->ReadFields(at.offset);
    if (fields.storedSize != at.storedSize)
        Changed(reader_->ArchiveSource(), "the FileEntry at offset " + std::to_string(at.offset));
    return fields;
}

IndexedArchive::ContentStatus IndexedArchive::Read(const FileEntry& fields, std::span<std::uint8_t> raw) const
{
    return reader_->ReadContent(fields, raw);
}

std::optional<IndexedArchive::ContentStatus> IndexedArchive::Read(std::uint64_t index, std::span<std::uint8_t> buffer,
                                                                  FileEntry& fields) const
{
    const Located at = entries_[index];
    if (at.storedSize > SmallEntry) {
        fields = Fields(index);
        if (buffer.size() < fields.rawSize)
            return std::nullopt;
        return reader_->ReadContent(fields, buffer.first(fields.rawSize));
    }
    // The record and the bytes it stores in one read.
    alignas(64) std::uint8_t scratch[FileEntry::Size + SmallEntry];
    const ByteSource& source = reader_->ArchiveSource();
    const std::size_t length = FileEntry::Size + at.storedSize;
    const std::optional<std::size_t> got = source.ReadAt(at.offset, std::span<std::uint8_t>(scratch, length));
    if (!got)
        throw SourceError::CannotRead(source.Name());
    fields = FileEntry::DecodeFrom(std::span<const std::uint8_t, FileEntry::Size>(scratch, FileEntry::Size));
    if (*got != length || fields.dataOffset != std::uint64_t{at.offset} + FileEntry::Size ||
        fields.storedSize != at.storedSize || fields.storedSize > fields.rawSize)
        Changed(source, "the FileEntry at offset " + std::to_string(at.offset));
    if (buffer.size() < fields.rawSize)
        return std::nullopt;
    return EntryReader::Decode(reader_->Cipher(), fields,
                               std::span<std::uint8_t>(scratch + FileEntry::Size, at.storedSize),
                               buffer.first(fields.rawSize));
}

void IndexedArchive::ReadRange(std::uint64_t, const FileEntry& fields, std::uint64_t offset,
                               std::span<std::uint8_t> out) const
{
    EntryReader::ReadRange(reader_->ArchiveSource(), reader_->Cipher(), fields, offset, out);
}

std::string IndexedArchive::Describe(std::uint64_t index, const FileEntry& fields) const
{
    return reader_->ArchiveSource().Name() + ": entry " + std::to_string(index) + " (FileEntry at offset " +
           std::to_string(std::uint64_t{fields.dataOffset} - FileEntry::Size) + ")";
}

const IndexedArchive::Names& IndexedArchive::LoadedNames() const
{
    if (const Names* names = names_.load(std::memory_order_acquire))
        return *names;

    const ByteSource& keyFile = *reader_->KeySource();
    std::pmr::polymorphic_allocator<Names> allocator(memory_);
    Names* fresh = allocator.new_object<Names>(memory_);
    try {
        fresh->bytes.resize(static_cast<std::size_t>(keyFile.Size() - KeyFileHeader::Size));
        const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(fresh->bytes.data()), fresh->bytes.size());
        const std::optional<std::size_t> got = keyFile.ReadAt(KeyFileHeader::Size, bytes);
        if (!got)
            throw SourceError::CannotRead(keyFile.Name());
        if (*got != bytes.size())
            Changed(keyFile, "the file");
        // The records were checked when the archive was opened; they are walked
        // again, as bytes that may have changed since.
        fresh->starts.reserve(entries_.size());
        std::uint64_t at = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (bytes.size() - at < NameRecord::LengthSize + NameRecord::HashSize)
                Changed(keyFile, "the file");
            const std::size_t length = DecodeFixed16(bytes.data() + at);
            if (bytes.size() - at - NameRecord::LengthSize - NameRecord::HashSize < length)
                Changed(keyFile, "the file");
            fresh->starts.push_back(at + NameRecord::LengthSize);
            bytes[at + NameRecord::LengthSize + length] = 0;
            at += NameRecord::LengthSize + length + NameRecord::HashSize;
        }
        if (at != bytes.size())
            Changed(keyFile, "the file");
    } catch (...) {
        allocator.delete_object(fresh);
        throw;
    }
    const Names* expected = nullptr;
    if (names_.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel, std::memory_order_acquire))
        return *fresh;
    // Another thread published its copy first.
    allocator.delete_object(fresh);
    return *expected;
}

std::string_view IndexedArchive::NameIn(const Names& names, std::uint64_t index) const
{
    const std::uint64_t start = names.starts[index];
    const std::size_t length = DecodeFixed16(reinterpret_cast<const std::uint8_t*>(names.bytes.data()) + start -
                                             NameRecord::LengthSize);
    return std::string_view(names.bytes.data() + start, length);
}

std::optional<std::string_view> IndexedArchive::TrustedName(std::uint64_t index, const FileEntry& fields) const
{
    if (!HasNames())
        return std::nullopt;
    const std::string_view name = NameIn(LoadedNames(), index);
    if (!ArchiveReader::NameFits(name, fields))
        return std::nullopt;
    return name;
}

std::optional<std::uint64_t> IndexedArchive::Find(std::string_view path) const
{
    const std::optional<Match> match = Lookup(path);
    if (!match)
        return std::nullopt;
    return match->index;
}

std::optional<IndexedArchive::Match> IndexedArchive::Lookup(std::string_view path) const
{
    const std::uint32_t hash = NameHash(path);
    auto slot = std::lower_bound(byHash_.begin(), byHash_.end(), hash,
                                 [](const HashSlot& a, std::uint32_t b) { return a.hash < b; });
    if (slot == byHash_.end() || slot->hash != hash)
        return std::nullopt;
    if (!HasNames())
        return Match{slot->index, true};
    const Names& names = LoadedNames();
    std::optional<Match> untrusted;
    for (; slot != byHash_.end() && slot->hash == hash; ++slot) {
        const std::string_view name = NameIn(names, slot->index);
        if (SameName(name, path))
            return Match{slot->index, true};
        if (!untrusted && NameHash(name) != hash)
            untrusted = Match{slot->index, false};
    }
    return untrusted;
}

ArchiveIdentity IndexedArchive::Identity() const
{
    EntryIdentity identity;
    ArchiveReader::Entry entry;
    for (ArchiveReader::Walk walk = reader_->Records(); walk.Next(entry);)
        identity.Add(entry.fields);
    if (identity.Value().entries != entries_.size())
        Changed(reader_->ArchiveSource(), "the file");
    return identity.Value();
}

void IndexedArchive::VisitNameHashes(const std::function<void(std::uint32_t, std::uint64_t)>& visit) const
{
    for (const HashSlot& slot : byHash_)
        visit(slot.hash, slot.index);
}

IndexedArchive::NameMatch IndexedArchive::MatchName(std::uint64_t index, std::uint32_t hash,
                                                    std::string_view path) const
{
    // The rule of Find, for one of the entries it would look at.
    if (!HasNames())
        return NameMatch::Same;
    const std::string_view name = NameIn(LoadedNames(), index);
    if (SameName(name, path))
        return NameMatch::Same;
    return NameHash(name) != hash ? NameMatch::Untrusted : NameMatch::Other;
}

std::optional<std::string_view> IndexedArchive::NameAt(std::uint64_t index) const
{
    if (!HasNames())
        return std::nullopt;
    return NameIn(LoadedNames(), index);
}

std::size_t IndexedArchive::MemoryUse() const
{
    std::size_t use = entries_.capacity() * sizeof(Located) + byHash_.capacity() * sizeof(HashSlot);
    if (const Names* names = names_.load(std::memory_order_acquire))
        use += names->bytes.capacity() + names->starts.capacity() * sizeof(std::uint64_t);
    return use;
}

}  // namespace zelkor
