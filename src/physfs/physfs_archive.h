#pragma once

#include <cstdint>
#include <mutex>

#include <physfs.h>

#include "zelkor/zelkor.h"
#include "zelkor/zelkor_physfs.h"

namespace zelkor {

// One archive that PhysicsFS mounted through the adapter, as the opaque of
// the archiver's calls: a mount list of its own holding the archive, or a
// caller's mount list (zlk_physfs_mount_list). Lookups, enumeration and stat
// go through the list, so both kinds answer alike. PhysicsFS makes these calls
// under its global lock; the streams of OpenRead are read outside it.
class PhysfsArchive {
public:
    // The archive PhysicsFS hands over as `io` named `name`, when it is one
    // of ours (its magic number, or the stream of zlk_physfs_mount_list):
    // `claimed` is set then, even when opening fails. `options` say where the
    // key file comes from. Null on failure, with PhysicsFS's error set.
    static PhysfsArchive* Open(PHYSFS_Io* io, const char* name, int forWrite, int* claimed,
                               const zlk_physfs_options& options);
    // Closes the archive and PhysicsFS's stream.
    ~PhysfsArchive();
    PhysfsArchive(const PhysfsArchive&) = delete;
    PhysfsArchive& operator=(const PhysfsArchive&) = delete;

    PHYSFS_EnumerateCallbackResult Enumerate(const char* directory, PHYSFS_EnumerateCallback callback,
                                             const char* origin, void* data) const;
    PHYSFS_Io* OpenRead(const char* path) const;
    int Stat(const char* path, PHYSFS_Stat* stat) const;

    // The stream that zlk_physfs_mount_list hands to PHYSFS_mountIo for `mounts`;
    // null when memory runs out.
    static PHYSFS_Io* MountListStream(const zlk_mounts* mounts);

private:
    explicit PhysfsArchive(PHYSFS_Io* io) : io_(io) {}

    // Opens the archive itself into a list of its own: by its name when that
    // is a file, otherwise through io_. PhysicsFS's error code on failure.
    PHYSFS_ErrorCode OpenOwn(const char* name, const zlk_physfs_options& options);
    // The read_at of a zlk_source over io_.
    static int64_t ReadStream(void* opaque, uint64_t offset, void* buffer, size_t length);

    PHYSFS_Io* io_;
    zlk_mounts* owned_ = nullptr;  // null for a caller's list
    const zlk_mounts* mounts_ = nullptr;
    // Serialises reads of io_ when the archive is read through it.
    std::mutex ioLock_;
    // The entry the last Stat found in an archive of its own: PhysicsFS stats
    // every component of a path before it opens it, so OpenRead finds its
    // fields here. Used under PhysicsFS's lock, as Stat and OpenRead are.
    mutable const zlk_archive* statArchive_ = nullptr;
    mutable std::uint64_t statIndex_ = 0;
    mutable zlk_entry statEntry_{};
};

}  // namespace zelkor
