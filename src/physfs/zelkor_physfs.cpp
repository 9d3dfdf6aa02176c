// The C interface of include/zelkor/zelkor_physfs.h: the archiver PhysicsFS
// calls, over PhysfsArchive and EntryStream.
#include "zelkor/zelkor_physfs.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include <physfs.h>

#include "physfs/physfs_archive.h"

namespace {

using zelkor::PhysfsArchive;

// The options of the last registration. PhysicsFS calls openArchive under its
// own lock, but a registration may come from another thread.
std::mutex optionsLock;
zlk_physfs_options options = ZLK_PHYSFS_OPTIONS_INIT;

void* OpenArchive(PHYSFS_Io* io, const char* name, int forWrite, int* claimed)
{
    zlk_physfs_options now;
    {
        const std::lock_guard lock(optionsLock);
        now = options;
    }
    return PhysfsArchive::Open(io, name, forWrite, claimed, now);
}

PHYSFS_EnumerateCallbackResult Enumerate(void* opaque, const char* directory, PHYSFS_EnumerateCallback callback,
                                         const char* origin, void* data)
{
    return static_cast<const PhysfsArchive*>(opaque)->Enumerate(directory, callback, origin, data);
}

PHYSFS_Io* OpenRead(void* opaque, const char* path)
{
    return static_cast<const PhysfsArchive*>(opaque)->OpenRead(path);
}

PHYSFS_Io* OpenWrite(void*, const char*)
{
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return nullptr;
}

int Refuse(void*, const char*)
{
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return 0;
}

int Stat(void* opaque, const char* path, PHYSFS_Stat* stat)
{
    return static_cast<const PhysfsArchive*>(opaque)->Stat(path, stat);
}

void CloseArchive(void* opaque)
{
    delete static_cast<PhysfsArchive*>(opaque);
}

}  // namespace

extern "C" {

int zlk_physfs_register(void)
{
    return zlk_physfs_register_with(nullptr);
}

int zlk_physfs_register_with(const zlk_physfs_options* given)
{
    {
        zlk_physfs_options chosen = ZLK_PHYSFS_OPTIONS_INIT;
        if (given && given->struct_size >= sizeof(std::size_t))
            std::memcpy(&chosen, given, std::min(given->struct_size, sizeof chosen));
        chosen.struct_size = sizeof chosen;
        const std::lock_guard lock(optionsLock);
        options = chosen;
    }
    // Registered once; a later call only changes the options.
    for (const PHYSFS_ArchiveInfo* const* info = PHYSFS_supportedArchiveTypes(); info && *info; ++info) {
        if (std::strcmp((*info)->extension, ZLK_PHYSFS_EXTENSION) == 0)
            return 1;
    }
    PHYSFS_Archiver archiver{};
    archiver.version = 0;
    archiver.info = {ZLK_PHYSFS_EXTENSION, "Zelkor archives (encrypted, LZ4)", "Zelkor developers",
                     "https://localhost/zelkor", 0};
    archiver.openArchive = OpenArchive;
    archiver.enumerate = Enumerate;
    archiver.openRead = OpenRead;
    archiver.openWrite = OpenWrite;
    archiver.openAppend = OpenWrite;
    archiver.remove = Refuse;
    archiver.mkdir = Refuse;
    archiver.stat = Stat;
    archiver.closeArchive = CloseArchive;
    return PHYSFS_registerArchiver(&archiver);
}

int zlk_physfs_mount_list(const zlk_mounts* mounts, const char* name, const char* mount_point, int append_to_path)
{
    if (!mounts || !name) {
        PHYSFS_setErrorCode(PHYSFS_ERR_INVALID_ARGUMENT);
        return 0;
    }
    PHYSFS_Io* io = PhysfsArchive::MountListStream(mounts);
    if (!io)
        return 0;
    if (!PHYSFS_mountIo(io, name, mount_point, append_to_path)) {
        io->destroy(io);
        return 0;
    }
    return 1;
}

}  // extern "C"
