#include "archive/archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

#include "archive/archive_write_error.h"
#include "archive/content_hasher.h"
#include "output/joint_commit.h"
#include "platform/file_system.h"

namespace zelkor {

ArchiveWriter::~ArchiveWriter() = default;

bool ArchiveWriter::Create(const NamedPath& archive, const NamedPath* keyFile)
{
    PrepareCrypto();
    // Key material first: if the system's random source fails, the exception
    // leaves before any file has been touched.
    return Create(archive, keyFile, KeyMaterial::Random());
}

bool ArchiveWriter::Create(const std::string& archivePath, const std::string* keyPath)
{
    PrepareCrypto();
    return Create(archivePath, keyPath, KeyMaterial::Random());
}

bool ArchiveWriter::Create(const std::string& archivePath, const std::string* keyPath, const KeyMaterial& material)
{
    const NamedPath keyFile = keyPath ? NamedPath(*keyPath) : NamedPath();
    return Create(NamedPath(archivePath), keyPath ? &keyFile : nullptr, material);
}

bool ArchiveWriter::Create(const NamedPath& archivePath, const NamedPath* keyPath, const KeyMaterial& material)
{
    PrepareCrypto();
    Close();
    failedPath_.clear();
    held_ = false;
    // A commit of this archive that a crash cut short is finished first, so that
    // a Create that fails leaves a matching pair behind.
    JointCommit::Complete(archivePath.path);
    keepEntries_ = false;
    entries_.clear();
    archiveShown_ = archivePath.shown;
    keyFileShown_ = keyPath ? keyPath->shown : std::string();
    // Something put at the name of the archive's commit record (a FIFO, a
    // link, another user's file) would make the commit fail once everything is
    // written: the command is refused now instead, touching nothing.
    if (!JointCommit::RecordNameFree(archivePath.path)) {
        failedPath_ = archivePath.shown;
        return false;
    }

    const ArchiveHeader archiveHeader = material.MakeArchiveHeader();
    const KeyFileHeader keyFileHeader = material.MakeKeyFileHeader();
    // Every reader refuses such a key file. Drawn or derived from a seed, its
    // shares come out so with odds of 2^-384; it is not written then either.
    if (keyPath && ArchiveKey::LeavesKeyAlone(keyFileHeader)) {
        failedPath_ = keyPath->shown;
        return false;
    }

    // Both files are written beside their paths and locked there; nothing at
    // either path changes before Close. A Create that cannot have the archive
    // gives up the key file's temporary too.
    std::unique_ptr<OutputGuard> keyFile;
    if (keyPath && !(keyFile = OpenOutput(*keyPath)))
        return false;
    std::unique_ptr<OutputGuard> archive = OpenOutput(archivePath);
    if (!archive)
        return false;
    std::unique_ptr<OutputGuard> companion;
    if (companionPath_ && !(companion = OpenOutput(*companionPath_)))
        return false;
    archive_ = std::move(archive);
    keyFile_ = std::move(keyFile);
    companion_ = std::move(companion);
    Begin(archiveHeader, keyFileHeader);
    return true;
}

std::unique_ptr<OutputGuard> ArchiveWriter::OpenOutput(const NamedPath& path)
{
    auto guard = std::make_unique<OutputGuard>(path.path, OutputGuard::Options{.lock = true, .sync = true});
    if (guard->Open())
        return guard;
    failedPath_ = path.shown;
    held_ = guard->Held();
    return nullptr;
}

void ArchiveWriter::Begin(const ArchiveHeader& archiveHeader, const KeyFileHeader& keyFileHeader)
{
    companionBytes_.clear();
    identity_ = EntryIdentity();
    writebackFrom_ = 0;
    archiveWritten_.reset();
    keyFileWritten_.reset();
    size_ = ArchiveHeader::Size;
    entryCount_ = 0;
    full_ = false;
    digest_ = RecordsDigest();
    digest_.Header(archiveHeader);
    keyFileHash_ = keyFile_ ? RecordsDigest::KeyFile(keyFileHeader) : 0;

    std::uint8_t header[ArchiveHeader::Size];
    archiveHeader.EncodeTo(header);
    if (!archive_->Output().WriteAll(header, sizeof header))
        FailWriting(*archive_);
    if (keyFile_) {
        std::uint8_t keyHeader[KeyFileHeader::Size];
        keyFileHeader.EncodeTo(keyHeader);
        if (!keyFile_->Output().WriteAll(keyHeader, sizeof keyHeader))
            FailWriting(*keyFile_);
    }
    key_ = ArchiveKey::FromShares(archiveHeader, keyFile_ ? &keyFileHeader : nullptr);
}

std::vector<FileStatus> ArchiveWriter::Outputs() const
{
    std::vector<FileStatus> outputs;
    for (const OutputGuard* guard : {archive_.get(), keyFile_.get(), companion_.get()}) {
        if (!guard)
            continue;
        if (guard->Replaced())
            outputs.push_back(*guard->Replaced());
        if (const std::optional<FileStatus> temporary = guard->Status())
            outputs.push_back(*temporary);
    }
    return outputs;
}

std::uint64_t ArchiveWriter::StoredSize(const LoadedFile& file)
{
    return file.stream ? file.rawSize : file.stored.size();
}

bool ArchiveWriter::CouldHold(const std::string& archivedPath, const LoadedFile& file)
{
    return file.rawSize < ArchiveAddressLimit && StoredSize(file) <= file.rawSize &&
           archivedPath.size() <= MaxNameLength && archivedPath.find('\0') == std::string::npos &&
           EntryFits(ArchiveHeader::Size, StoredSize(file));
}

bool ArchiveWriter::AddFile(const std::string& archivedPath, LoadedFile& file)
{
    if (!archive_)
        throw std::logic_error("ArchiveWriter::AddFile without a created archive");
    File& archive = archive_->Output();
    const std::uint64_t storedSize = file.stored.size();
    full_ = false;
    if (file.rawSize >= ArchiveAddressLimit || storedSize > file.rawSize ||
        archivedPath.size() > MaxNameLength || archivedPath.find('\0') != std::string::npos)
        return false;
    // The position is asked before anything is written, so that an entry that
    // would not fit is refused whole. Writing to the key file does not move it.
    const auto position = archive.Position();
    if (!position)
        FailWriting(*archive_);
    if (!EntryFits(*position, storedSize)) {
        full_ = EntryFits(ArchiveHeader::Size, storedSize);
        return false;
    }

    FileEntry entry;
    entry.rawSize = static_cast<std::uint32_t>(file.rawSize);
    entry.contentHash = file.contentHash;
    entry.dataOffset = static_cast<std::uint32_t>(*position + FileEntry::Size);
    entry.storedSize = static_cast<std::uint32_t>(storedSize);
    entry.nameHash = NameHash(archivedPath);

    // A digest that came with the bytes holds for them only as they came.
    const std::optional<StoredHash::Digest> digest = file.encrypted ? file.storedDigest : std::nullopt;
    if (!file.encrypted) {
        key_.Encrypt(file.stored);
        file.encrypted = true;
    }

    // The name reaches the key file before the entry reaches the archive.
    if (keyFile_) {
        const std::vector<std::uint8_t> record = NameRecord{archivedPath, file.contentHash}.Encode();
        if (!keyFile_->Output().WriteAll(record.data(), record.size()))
            FailWriting(*keyFile_);
    }
    std::uint8_t entryBytes[FileEntry::Size];
    entry.EncodeTo(entryBytes);
    if (!archive.WriteAll({entryBytes, file.stored}))
        FailWriting(*archive_);
    digest_.Entry(entry);
    identity_.Add(entry);
    if (keepEntries_)
        entries_.push_back({entry, digest ? *digest : StoredHash::Of(file.stored)});
    ++entryCount_;
    size_ = *position + FileEntry::Size + storedSize;
    // The disk starts on what is written while the rest is being packed, so that
    // the flush before the archive is put in place waits only for the last part.
    const std::uint64_t end = *position + FileEntry::Size + storedSize;
    if (end - writebackFrom_ >= WritebackStep) {
        archive.StartWriteback(writebackFrom_, end - writebackFrom_);
        writebackFrom_ = end;
    }
    return true;
}

namespace {

// The status of the file at the path `guard` wrote to, when it is still the
// file that was written (`written`, the temporary file before its rename).
std::optional<FileStatus> StatusIfWritten(const OutputGuard& guard, const std::optional<FileStatus>& written)
{
    const std::optional<FileStatus> now = StatusOf(guard.Resolved());
    if (!now || !written || !now->SameFileAs(*written))
        return std::nullopt;
    return now;
}

}  // namespace

std::optional<FileStatus> ArchiveWriter::ReplacedArchive() const
{
    return archive_ ? archive_->Replaced() : std::nullopt;
}

std::optional<FileStatus> ArchiveWriter::ReplacedKeyFile() const
{
    return keyFile_ ? keyFile_->Replaced() : std::nullopt;
}

void ArchiveWriter::Abandon()
{
    companion_.reset();
    keyFile_.reset();
    archive_.reset();
}

void ArchiveWriter::Close()
{
    writtenArchive_.reset();
    writtenKeyFile_.reset();
    if (!archive_)
        return;
    const std::optional<FileStatus> archiveWritten = archive_->Status();
    const std::optional<FileStatus> keyFileWritten = keyFile_ ? keyFile_->Status() : std::nullopt;
    // The pair goes into place as one: after a crash or a signal at any moment,
    // the old pair stays, or the new one is completed (now, or from the commit
    // record by whoever opens the archive next).
    if (companion_ && !companion_->Output().WriteAll(companionBytes_.data(), companionBytes_.size()))
        FailWriting(*companion_);
    std::vector<OutputGuard*> guards;
    for (OutputGuard* guard : {keyFile_.get(), companion_.get(), archive_.get()}) {
        if (guard)
            guards.push_back(guard);
    }
    if (guards.size() > 1) {
        if (OutputGuard* failed = JointCommit::Commit(guards))
            FailWriting(*failed);
    } else if (!archive_->Commit()) {
        FailWriting(*archive_);
    }
    writtenArchive_ = StatusIfWritten(*archive_, archiveWritten);
    if (keyFile_)
        writtenKeyFile_ = StatusIfWritten(*keyFile_, keyFileWritten);
    companion_.reset();
    keyFile_.reset();
    archive_.reset();
}

std::vector<OutputGuard*> ArchiveWriter::Seal(bool withCompanion)
{
    std::vector<OutputGuard*> guards;
    OutputGuard* companion = withCompanion ? companion_.get() : nullptr;
    if (companion && !companion->Prepared() &&
        !companion->Output().WriteAll(companionBytes_.data(), companionBytes_.size()))
        FailWriting(*companion);
    for (OutputGuard* guard : {keyFile_.get(), companion, archive_.get()}) {
        if (!guard)
            continue;
        // The status of the written file, while it is still open, tells it at
        // its target after the commit.
        if (const std::optional<FileStatus> status = guard->Status())
            (guard == archive_.get() ? archiveWritten_ : keyFileWritten_) = status;
        if (!guard->Prepare())
            FailWriting(*guard);
        guards.push_back(guard);
    }
    return guards;
}

void ArchiveWriter::Committed()
{
    if (!archive_)
        return;
    writtenArchive_ = StatusIfWritten(*archive_, archiveWritten_);
    writtenKeyFile_.reset();
    if (keyFile_)
        writtenKeyFile_ = StatusIfWritten(*keyFile_, keyFileWritten_);
    companion_.reset();
    keyFile_.reset();
    archive_.reset();
}

const std::string& ArchiveWriter::ShownPathOf(const OutputGuard* guard) const
{
    return guard == keyFile_.get() ? keyFileShown_ : guard == companion_.get() ? companionPath_->shown : archiveShown_;
}

void ArchiveWriter::FailWriting(const OutputGuard& failed)
{
    const ArchiveWriteError failure(&failed == keyFile_.get()     ? keyFileShown_
                                    : &failed == companion_.get() ? companionPath_->shown
                                                                  : archiveShown_);
    // No file of this archive appears; whatever stood at their paths before
    // stays as it was.
    companion_.reset();
    keyFile_.reset();
    archive_.reset();
    throw failure;
}

}  // namespace zelkor
