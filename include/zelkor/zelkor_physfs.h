/*
 * zelkor_physfs.h: Zelkor archives in PhysicsFS.
 *
 * A small adapter over the reader library (zelkor.h) that registers the
 * format with PhysicsFS, so that PHYSFS_mount("game.pak", ...) works in any
 * PhysicsFS game: enumeration, stat and reads, with the key file found beside
 * the archive or handed in by the game. It is a library of its own
 * (libzelkor-physfs, pkg-config zelkor-physfs), so that a game that does not
 * use PhysicsFS does not link it.
 *
 *     PHYSFS_init(argv[0]);
 *     zlk_physfs_register();
 *     PHYSFS_mount("game.pak", NULL, 1);      (and game.pak.zlk beside it)
 *     PHYSFS_mount("game_p1.pak", NULL, 0);   (in front: the patch wins)
 *     PHYSFS_File *file = PHYSFS_openRead("textures/hero.png");
 *
 * CONVENTIONS
 *
 * Functions return PhysicsFS's convention: nonzero on success, zero on
 * failure with the reason in PHYSFS_getLastErrorCode(). Archives are
 * read-only.
 *
 * Opening. PhysicsFS holds its global lock while it opens a file, so opening
 * an entry (PHYSFS_openRead) only finds it: no read of the archive, no
 * decryption. The entry's record is read at the first read, seek or length,
 * and its content is decrypted, decoded and checked there, on the reading
 * thread, outside PhysicsFS's lock. Mounting reads the archive's records and
 * names once, as zlk_open does.
 *
 * Reads. A read of a whole entry from its start goes straight into the
 * caller's buffer, checked against the content hash (zlk_read). Other reads
 * of an entry stored compressed, or stored raw and small, decode it whole once
 * into memory of the file handle's own, checked, and serve the reads from
 * there. Reads inside an entry stored raw of more than 1 MiB (big media,
 * streamed) are positioned reads of just the bytes asked for (zlk_read_range),
 * which the content hash does not cover. A damaged entry fails its reads with
 * PHYSFS_ERR_CORRUPT.
 *
 * Threads. Files opened through the adapter may be read on any number of
 * threads at once, as the reader library allows. An archive that PhysicsFS
 * handed over as a stream (PHYSFS_mountIo, or an archive inside another) is
 * read under a mutex of its own, since a PHYSFS_Io has one position.
 *
 * Patches. PhysicsFS asks each archive of its search path in turn and takes
 * the first that has a file; it has no way for one archive to hide another's
 * file. So a patch mounted in PhysicsFS overrides the base's files, but its
 * deletions (PATCH.del) do not apply. zlk_physfs_mount_list mounts a whole
 * mount list (zelkor.h) as one PhysicsFS archive instead, deletions applied.
 */
#ifndef ZELKOR_ZELKOR_PHYSFS_H
#define ZELKOR_ZELKOR_PHYSFS_H

#include <stddef.h>

#include "zelkor.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(ZLK_PHYSFS_BUILDING_LIBRARY)
#    define ZLK_PHYSFS_API __declspec(dllexport)
#  elif defined(ZLK_STATIC)
#    define ZLK_PHYSFS_API
#  else
#    define ZLK_PHYSFS_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define ZLK_PHYSFS_API __attribute__((visibility("default")))
#else
#  define ZLK_PHYSFS_API
#endif

/* What PhysicsFS lists the archiver as (PHYSFS_supportedArchiveTypes). The
 * extension is only a hint to PhysicsFS: an archive of any name is recognised
 * by its magic number, and ".pak" is taken by PhysicsFS's Quake archiver. */
#define ZLK_PHYSFS_EXTENSION "ZELKOR"

/* Options of zlk_physfs_register_with. Start from ZLK_PHYSFS_OPTIONS_INIT. */
typedef struct zlk_physfs_options {
    size_t struct_size; /* sizeof(zlk_physfs_options) */
    /* The key file of the archive PhysicsFS mounts as `archive_name` (the name
     * given to PHYSFS_mount or PHYSFS_mountIo). To hand one in, fill *key (as
     * for zlk_open_source: its release is called when the archive is closed)
     * and return 1; return 0 for the default: ARCHIVE.zlk beside the archive
     * when the archive is a file and that file exists, otherwise none. It runs
     * under PhysicsFS's lock. NULL: always the default. */
    int (*key_file)(void *opaque, const char *archive_name, zlk_source *key);
    void *opaque;
} zlk_physfs_options;

#define ZLK_PHYSFS_OPTIONS_INIT { sizeof(zlk_physfs_options), NULL, NULL }

/* Registers the archiver with PhysicsFS (PHYSFS_registerArchiver), after
 * PHYSFS_init. Nonzero on success, as PhysicsFS answers. */
ZLK_PHYSFS_API int zlk_physfs_register(void);

/* The same with options (NULL: the defaults). The options hold for every
 * archive mounted after the call; registering again replaces them. */
ZLK_PHYSFS_API int zlk_physfs_register_with(const zlk_physfs_options *options);

/* Mounts the mount list `mounts` as one PhysicsFS archive named `name`, at
 * `mount_point` (NULL: the root), at the end of the search path when
 * `append_to_path` is nonzero, else in front (PHYSFS_mountIo's arguments):
 * lookups, enumeration and stat follow the list's priorities and its patches'
 * deletions. The list stays the caller's, and must outlive the mount
 * (PHYSFS_unmount(name)); it may change meanwhile, as zelkor.h allows.
 * Nonzero on success. */
ZLK_PHYSFS_API int zlk_physfs_mount_list(const zlk_mounts *mounts, const char *name, const char *mount_point,
                                         int append_to_path);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_ZELKOR_PHYSFS_H */
