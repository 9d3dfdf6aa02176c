#include "archive/archive_writer.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "archive/archive_write_error.h"

namespace zelkor {

namespace {

// Opens `path` for writing, creating it when missing but not cutting it, and
// takes an exclusive lock without waiting. Not open when the path cannot be
// created, is not a regular file, or is locked by someone else.
//
// Non-blocking so that a FIFO cannot make the open wait for a reader; it is then
// refused as not regular. On regular files the flag changes nothing.
File Acquire(const std::string& path)
{
    File file = File::OpenRegular(path, O_WRONLY | O_CREAT, 0666);
    if (!file.IsOpen())
        return file;
    int rc;
    do {
        rc = ::flock(file.Descriptor(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return File();
    return file;
}

}  // namespace

ArchiveWriter::~ArchiveWriter()
{
    Release();
}

bool ArchiveWriter::Create(const std::string& archivePath, const std::string* keyPath)
{
    PrepareCrypto();
    // Key material first: if the system's random source fails, the exception
    // leaves before any file has been touched.
    return Create(archivePath, keyPath, KeyMaterial::Random());
}

bool ArchiveWriter::Create(const std::string& archivePath, const std::string* keyPath, const KeyMaterial& material)
{
    PrepareCrypto();
    Close();
    failedPath_.clear();

    const ArchiveHeader archiveHeader = material.MakeArchiveHeader();
    const KeyFileHeader keyFileHeader = material.MakeKeyFileHeader();

    // Both files are acquired (opened and locked) before either is cut. A Create
    // that cannot have the archive then leaves a key file that belongs to another,
    // finished or still running, build as it was.
    File keyFile;
    if (keyPath) {
        keyFile = Acquire(*keyPath);
        if (!keyFile.IsOpen()) {
            failedPath_ = *keyPath;
            return false;
        }
    }
    File archive = Acquire(archivePath);
    if (!archive.IsOpen()) {
        failedPath_ = archivePath;
        return false;
    }
    if (keyFile.IsOpen() && !keyFile.Truncate()) {
        failedPath_ = *keyPath;
        return false;
    }
    if (!archive.Truncate()) {
        failedPath_ = archivePath;
        return false;
    }
    archive_ = std::move(archive);
    keyFile_ = std::move(keyFile);

    std::uint8_t header[ArchiveHeader::Size];
    archiveHeader.EncodeTo(header);
    if (!archive_.WriteAll(header, sizeof header))
        FailWriting(archive_);
    if (keyFile_.IsOpen()) {
        std::uint8_t keyHeader[KeyFileHeader::Size];
        keyFileHeader.EncodeTo(keyHeader);
        if (!keyFile_.WriteAll(keyHeader, sizeof keyHeader))
            FailWriting(keyFile_);
    }
    key_ = ArchiveKey::FromShares(archiveHeader, keyFile_.IsOpen() ? &keyFileHeader : nullptr);
    return true;
}

bool ArchiveWriter::AddFile(const std::string& archivedPath, LoadedFile& file)
{
    if (!archive_.IsOpen())
        throw std::logic_error("ArchiveWriter::AddFile without a created archive");
    const std::uint64_t storedSize = file.stored.size();
    if (file.rawSize >= ArchiveAddressLimit || storedSize > file.rawSize ||
        archivedPath.size() > MaxNameLength)
        return false;
    // The position is asked before anything is written, so that an entry that
    // would not fit is refused whole. Writing to the key file does not move it.
    const auto position = archive_.Position();
    if (!position)
        FailWriting(archive_);
    if (!EntryFits(*position, storedSize))
        return false;

    FileEntry entry;
    entry.rawSize = static_cast<std::uint32_t>(file.rawSize);
    entry.contentHash = file.contentHash;
    entry.dataOffset = static_cast<std::uint32_t>(*position + FileEntry::Size);
    entry.storedSize = static_cast<std::uint32_t>(storedSize);
    entry.nameHash = NameHash(archivedPath);

    key_.Encrypt(file.stored);

    // The name reaches the key file before the entry reaches the archive.
    if (keyFile_.IsOpen()) {
        const std::vector<std::uint8_t> record = NameRecord{archivedPath, file.contentHash}.Encode();
        if (!keyFile_.WriteAll(record.data(), record.size()))
            FailWriting(keyFile_);
    }
    std::uint8_t entryBytes[FileEntry::Size];
    entry.EncodeTo(entryBytes);
    if (!archive_.WriteAll(entryBytes, sizeof entryBytes))
        FailWriting(archive_);
    if (!file.stored.empty() && !archive_.WriteAll(file.stored.data(), file.stored.size()))
        FailWriting(archive_);
    return true;
}

void ArchiveWriter::Close()
{
    // A closed File keeps its path, for the message.
    const bool keyClosed = keyFile_.Close();
    const bool archiveClosed = archive_.Close();
    if (!keyClosed)
        throw ArchiveWriteError(keyFile_.Path());
    if (!archiveClosed)
        throw ArchiveWriteError(archive_.Path());
}

void ArchiveWriter::Release() noexcept
{
    keyFile_.Close();
    archive_.Close();
}

void ArchiveWriter::FailWriting(const File& file)
{
    const ArchiveWriteError failure(file.Path());
    // A torn archive whose end falls on an entry boundary would read as a complete
    // archive with fewer files. Both files are cut to nothing instead, which no
    // reader mistakes for an archive; cutting frees space, so it works on a full
    // disk too.
    archive_.Truncate();
    if (keyFile_.IsOpen())
        keyFile_.Truncate();
    Release();
    throw failure;
}

}  // namespace zelkor
