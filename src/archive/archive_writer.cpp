#include "archive/archive_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/randpool.h>

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
    File file = File::Open(path, O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
    if (!file.IsOpen())
        return file;
    struct stat info;
    if (::fstat(file.Descriptor(), &info) != 0 || !S_ISREG(info.st_mode))
        return File();
    int rc;
    do {
        rc = ::flock(file.Descriptor(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return File();
    return file;
}

std::string WriteFailure(const std::string& path)
{
    return "Cannot write " + path + "!";
}

}  // namespace

ArchiveWriter::~ArchiveWriter()
{
    Release();
}

void ArchiveWriter::PrepareCrypto()
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

bool ArchiveWriter::Create(const std::string& archivePath, const std::string* keyPath)
{
    PrepareCrypto();
    Close();
    failedPath_.clear();

    // Key material first: if the system's random source fails, the exception
    // leaves before any file has been touched.
    ArchiveHeader archiveHeader;
    KeyFileHeader keyFileHeader;
    {
        CryptoPP::AutoSeededRandomPool pool;
        pool.GenerateBlock(archiveHeader.keyShare.data(), ShareSize);
        pool.GenerateBlock(archiveHeader.ivShare.data(), ShareSize);
        pool.GenerateBlock(keyFileHeader.keyShare.data(), ShareSize);
        pool.GenerateBlock(keyFileHeader.ivShare.data(), ShareSize);
    }

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

bool ArchiveWriter::AddFile(const std::string& archivedPath, std::uint64_t rawSize,
                            std::uint64_t storedSize, std::uint32_t contentHash,
                            std::uint8_t* storedBytes)
{
    if (!archive_.IsOpen())
        throw std::logic_error("ArchiveWriter::AddFile without a created archive");
    if (rawSize >= ArchiveAddressLimit || storedSize > rawSize || archivedPath.size() > MaxNameLength)
        return false;
    // The position is asked before anything is written, so that an entry that
    // would not fit is refused whole. Writing to the key file does not move it.
    const auto position = archive_.Position();
    if (!position)
        FailWriting(archive_);
    if (!EntryFits(*position, storedSize))
        return false;

    FileEntry entry;
    entry.rawSize = static_cast<std::uint32_t>(rawSize);
    entry.contentHash = contentHash;
    entry.dataOffset = static_cast<std::uint32_t>(*position + FileEntry::Size);
    entry.storedSize = static_cast<std::uint32_t>(storedSize);
    entry.nameHash = NameHash(archivedPath);

    // A new cipher for every entry: each entry's stream starts from the IV.
    if (storedSize > 0) {
        CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cipher(key_.key.data(), KeySize, key_.iv.data());
        cipher.ProcessData(storedBytes, storedBytes, static_cast<std::size_t>(storedSize));
    }

    // The name reaches the key file before the entry reaches the archive.
    if (keyFile_.IsOpen()) {
        const std::vector<std::uint8_t> record = NameRecord{archivedPath, contentHash}.Encode();
        if (!keyFile_.WriteAll(record.data(), record.size()))
            FailWriting(keyFile_);
    }
    std::uint8_t entryBytes[FileEntry::Size];
    entry.EncodeTo(entryBytes);
    if (!archive_.WriteAll(entryBytes, sizeof entryBytes))
        FailWriting(archive_);
    if (storedSize > 0 && !archive_.WriteAll(storedBytes, static_cast<std::size_t>(storedSize)))
        FailWriting(archive_);
    return true;
}

void ArchiveWriter::Close()
{
    // A closed File keeps its path, for the message.
    const bool keyClosed = keyFile_.Close();
    const bool archiveClosed = archive_.Close();
    if (!keyClosed)
        throw std::runtime_error(WriteFailure(keyFile_.Path()));
    if (!archiveClosed)
        throw std::runtime_error(WriteFailure(archive_.Path()));
}

void ArchiveWriter::Release() noexcept
{
    keyFile_.Close();
    archive_.Close();
}

void ArchiveWriter::FailWriting(const File& file)
{
    const std::string message = WriteFailure(file.Path());
    // A torn archive whose end falls on an entry boundary would read as a complete
    // archive with fewer files. Both files are cut to nothing instead, which no
    // reader mistakes for an archive; cutting frees space, so it works on a full
    // disk too.
    archive_.Truncate();
    if (keyFile_.IsOpen())
        keyFile_.Truncate();
    Release();
    throw std::runtime_error(message);
}

}  // namespace zelkor
