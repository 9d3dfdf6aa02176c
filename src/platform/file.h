#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

namespace zelkor {

// How File::Open opens a file; combine with |.
enum class OpenFlags : unsigned {
    Read = 1u << 0,
    Write = 1u << 1,
    ReadWrite = Read | Write,
    Create = 1u << 2,       // create the file when it is missing
    Exclusive = 1u << 3,    // with Create: fail (EEXIST) when the name exists, a link included
    Truncate = 1u << 4,     // cut an existing file to zero length
    NoFollow = 1u << 5,     // fail when the last component is a symbolic link
    Directory = 1u << 6,    // fail (ENOTDIR) unless it is a directory
    NonBlocking = 1u << 7,  // never wait for a peer (a FIFO without a writer, say)
};

constexpr OpenFlags operator|(OpenFlags a, OpenFlags b)
{
    return static_cast<OpenFlags>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// Whether `flags` holds every flag of `wanted`.
constexpr bool Has(OpenFlags flags, OpenFlags wanted)
{
    return (static_cast<unsigned>(flags) & static_cast<unsigned>(wanted)) == static_cast<unsigned>(wanted);
}

enum class FileKind { Regular, Directory, Link, Other };

// What the system tells of a file, as far as the tools use it.
struct FileStatus {
    FileKind kind = FileKind::Other;
    unsigned permissions = 0;  // read, write and execute for owner, group and others, the
                               // set-ID and sticky bits (07777)
    std::uint64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    unsigned owner = 0;
    unsigned group = 0;
    std::int64_t modifiedNanoseconds = 0;  // last change of the content, since the epoch
    std::int64_t changedNanoseconds = 0;   // last change of the content or the status
    // Where the file lives, as File::Status and StatusOf tell it (listings and
    // StatusAt leave these out): the identity of its mount (0 where the system
    // gives none), of its file system, and whether that file system is one
    // known to keep a true change time, which every write moves and nobody can
    // set or bring along in an image (ext4, xfs, btrfs, tmpfs; NTFS, ReFS).
    std::uint64_t mount = 0;
    std::uint64_t fileSystem = 0;
    bool keepsChangeTime = false;

    bool IsRegular() const { return kind == FileKind::Regular; }
    bool IsDirectory() const { return kind == FileKind::Directory; }
    bool IsLink() const { return kind == FileKind::Link; }
    // The same file as `other` (same device and inode).
    bool SameFileAs(const FileStatus& other) const { return device == other.device && inode == other.inode; }
};

// An open file or directory and the path it was opened with (for messages).
// Closes it on destruction. Move-only. Every call retries when a signal
// interrupts it, and reads and writes loop until the whole count is done, so
// callers never see a short transfer that is not an end of file or an error.
// After a failed call, errno tells why. A File may be used from several threads
// at once only through its positioned calls (ReadAt, WriteAt).
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens `path`; a file that Create makes gets `permissions` (less the
    // process's mask). The handle is not inherited by programs the process
    // starts. The result is not open when the call failed, and for a path
    // holding a NUL byte, which no file has (EINVAL).
    static File Open(const std::string& path, OpenFlags flags, unsigned permissions = 0666);

    // Opens `name` relative to the open directory `directory`, so that the
    // directory's own path is not looked up again. Path() is the directory's
    // path, a slash and `name`.
    static File OpenAt(const File& directory, const std::string& name, OpenFlags flags,
                       unsigned permissions = 0666);
    // The same with `path` as Path(), for callers that keep the path for
    // messages themselves: walking a deep tree, building each level's path
    // would copy the whole path once per level.
    static File OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned permissions,
                       std::string path);

    // Opens `path` as Open does and keeps it only when it is a regular file; a
    // directory, FIFO, device or socket gives a file that is not open. The open
    // does not block (NonBlocking is added), so a FIFO without a peer is refused
    // at once; on a regular file the flag changes nothing.
    // With `status`, the file's status (taken for the check) is stored there.
    static File OpenRegular(const std::string& path, OpenFlags flags, FileStatus* status = nullptr);
    // The same, relative to an open directory, as OpenAt (a file that Create
    // makes gets `permissions`, less the process's mask).
    static File OpenRegularAt(const File& directory, const std::string& name, OpenFlags flags,
                              FileStatus* status = nullptr, unsigned permissions = 0666);

    // The most pieces one WriteAll or ReadAt takes.
    static constexpr std::size_t MaxPieces = 8;

    bool IsOpen() const { return handle_ != NoHandle; }
    const std::string& Path() const { return path_; }

    // Writes all `size` bytes at the current position. False on any failure.
    bool WriteAll(const void* data, std::size_t size);
    // Writes the pieces one after the other, in one call to the system where it can.
    bool WriteAll(std::initializer_list<std::span<const std::uint8_t>> pieces);
    // Writes all `size` bytes at `offset` without moving the position.
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);

    // Reads up to `size` bytes, stopping early only at the end of the file.
    // Returns the number read, or nothing on a read error.
    std::optional<std::size_t> ReadUpTo(void* data, std::size_t size);

    // Reads up to `size` bytes at `offset` without moving the position, so that
    // several threads may read one file; stops early only at the end of the file.
    // Returns the number read, or nothing on a read error.
    std::optional<std::size_t> ReadAt(std::uint64_t offset, void* data, std::size_t size) const;
    // The same into the pieces one after the other (at most MaxPieces), in one
    // call to the system where it can.
    std::optional<std::size_t> ReadAt(std::uint64_t offset,
                                      std::initializer_list<std::span<std::uint8_t>> pieces) const;

    // The file's type, size and identity, or nothing when the system cannot tell.
    std::optional<FileStatus> Status() const;

    // Takes an exclusive lock on the file, released when it is closed. With
    // `wait`, waits for another holder to let go; without, fails at once (errno
    // EWOULDBLOCK when another holds it).
    bool Lock(bool wait);
    // The same, waiting at most `limit` for another holder to let go.
    enum class Locking { Locked, Busy, Failed };
    Locking LockWithin(std::chrono::milliseconds limit);

    // Asks the system to start writing `length` bytes at `offset` to the disk
    // now, without waiting for it, so that a later Sync has less to wait for.
    void StartWriteback(std::uint64_t offset, std::uint64_t length) const;

    // Waits until the file's data (or a directory's entries) are on the disk.
    bool Sync() const;

    // Sets the modification time to now.
    bool Touch() const;

    // Gives the file the owner, group and permission bits of `status`, as far as
    // the process may: the group alone when the owner cannot be given; the
    // permissions after the owner, since changing it may clear the set-ID bits.
    // Best effort: failures are not reported.
    void TakeAttributesOf(const FileStatus& status) const;

    // The current position, or nothing when it cannot be asked.
    std::optional<std::uint64_t> Position() const;

    // Cuts or extends the file to `length` bytes. False on failure.
    bool Truncate(std::uint64_t length = 0);

    // Moves the current position to `offset` from the start. False on failure.
    bool Seek(std::uint64_t offset);

    // Calls on a directory, for names directly in it (no slash): the name's
    // status, a link not followed; removing a file (not a directory); making a
    // directory; renaming within it. Rename with `replace` replaces whatever
    // file is at `to`; without, it fails with EEXIST when anything is there.
    std::optional<FileStatus> StatusAt(const std::string& name) const;
    bool RemoveAt(const std::string& name) const;
    bool MakeDirectoryAt(const std::string& name, unsigned permissions = 0777) const;
    bool RenameAt(const std::string& from, const std::string& to, bool replace) const;

    // Closes the file; false when the system reported an error (the handle is
    // released either way). Closing a file that is not open is a success.
    bool Close();

    // The system's own handle, only for the platform layer's implementation
    // (and code not yet moved onto the calls above; the source check names it).
    std::intptr_t NativeHandle() const { return handle_; }

private:
    static constexpr std::intptr_t NoHandle = -1;
    File(std::intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}

    std::intptr_t handle_ = NoHandle;
    std::string path_;
};

}  // namespace zelkor
