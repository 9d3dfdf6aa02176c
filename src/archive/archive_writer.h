#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_crypto.h"
#include "archive/archive_format.h"
#include "archive/loaded_file.h"
#include "platform/file.h"

namespace zelkor {

// Writes one archive and, when asked, its key file, front to back: Create draws
// fresh key material (or takes what it is given) and writes both headers,
// AddFile encrypts one file's stored bytes and appends its entry, Close ends
// both files. Nothing is written on closing; an archive is complete after its
// last AddFile.
//
// While a writer holds its files, they are locked (flock): a second Create on
// either path, from this process or another, fails and disturbs nothing. Neither
// file is cut to zero length before both have been acquired.
//
// A failed or short write, or a failed position query, throws ArchiveWriteError
// ("Cannot write " + path + "!"); both files are cut to zero length (so that no
// torn archive can pass for a complete one) and closed by then.
//
// Used by one thread at a time; writers share no state, so any number may work at
// once (after PrepareCrypto).
class ArchiveWriter {
public:
    ArchiveWriter() = default;
    // Releases both files; never throws, so a failed close goes unreported here.
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Closes whatever the writer still holds, draws new key material, and creates
    // (or replaces) the archive and, when `keyPath` is not null, the key file, with
    // their headers. False when a path cannot be created or is held by another
    // writer; FailedPath then names it (the key file when it failed first), the
    // key file is left as it was, and an existing archive keeps its content. A key
    // file that had to be created for a failed Create stays behind, empty.
    bool Create(const std::string& archivePath, const std::string* keyPath);

    // The same with the given key material instead of fresh random blocks.
    bool Create(const std::string& archivePath, const std::string* keyPath, const KeyMaterial& material);

    // After Create returned false: the path that could not be created.
    const std::string& FailedPath() const { return failedPath_; }

    // Appends one file: encrypts its stored bytes in place, writes its NameRecord
    // to the key file (if any), then its FileEntry and the encrypted bytes to the
    // archive. Returns false, having written and changed nothing, when the format
    // cannot hold the entry: a raw size of 4 GiB or more, more stored bytes than
    // raw ones, an archived path longer than MaxNameLength, or stored bytes that
    // would reach past ArchiveAddressLimit. Only valid after a successful Create.
    bool AddFile(const std::string& archivedPath, LoadedFile& file);

    // Closes the key file, then the archive. When the system reports that closing
    // a file failed (its last data may be lost), throws as a failed write does,
    // after both are closed. Nothing to do when no file is open.
    void Close();

private:
    // Closes both files, ignoring errors.
    void Release() noexcept;
    [[noreturn]] void FailWriting(const File& file);

    ArchiveKey key_;
    File archive_;
    File keyFile_;
    std::string failedPath_;
};

}  // namespace zelkor
