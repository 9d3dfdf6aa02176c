/*
 * zelkor.h: reading Zelkor archives from a game or an engine.
 *
 * Zelkor archives are built by the `zelkor` tool: every file is hashed
 * (XXH32), compressed with LZ4 when that pays, encrypted with AES-256-CFB and
 * appended; an optional key file beside the archive holds the second share of
 * the key and the names. This library opens an archive with or without its key
 * file, finds entries by path, and reads them back, checked, into memory the
 * caller gives.
 *
 * CONVENTIONS
 *
 * Handles. A zlk_archive is opaque. zlk_open, zlk_open_source and
 * zlk_open_set_source create it, zlk_close destroys it. A zlk_mounts (a
 * mount list: base, DLC and patches read as one tree) is created by
 * zlk_mounts_create and destroyed by zlk_mounts_destroy; it owns the archives mounted in it. Nothing else
 * allocates anything the caller frees.
 *
 * Errors. Every call that can fail returns a zlk_status; ZLK_OK is 0. The
 * statuses are graded: ZLK_ENTRY_DAMAGED concerns one entry, and the archive
 * stays usable for the others; ZLK_ARCHIVE_DAMAGED, ZLK_FOREIGN_KEY_FILE and
 * ZLK_IO mean that the archive (or a source) cannot be relied on. Calls that
 * take a zlk_error (it may be NULL) fill it with the status and a message that
 * names the file and the offset where it applies. No exception leaves the
 * library, and there is no global "last error".
 *
 * Threads. An open archive is immutable. Every call that takes a
 * `const zlk_archive *` may run on any number of threads at once, on the same
 * archive, with no lock on the read path: reads are positioned (pread, or the
 * caller's read_at, which must itself allow calls from several threads at
 * once). The key file's names are loaded once, by the first call that needs
 * them, and published atomically. zlk_close must not run while another call
 * uses the archive. The library has no global state: it installs no signal
 * handler, starts no thread and keeps nothing between calls but what a handle
 * holds. (The first open in a process prepares the AES and CRC tables once,
 * safely on any thread.) A mount list may be read on any number of threads
 * while others mount and unmount; see "Mount lists" below.
 *
 * Writes. Opening and reading never write anything. Only
 * zlk_complete_commit writes, and only when it is called.
 *
 * Memory. An open archive keeps an index of 16 bytes per entry, and, once
 * names are asked for (zlk_find, or zlk_entry_at with a key file), the key
 * file's names. zlk_read and zlk_read_range allocate nothing where the
 * processor has AES instructions; they use about 40 KiB of stack. Allocator
 * hooks (zlk_allocator) take the memory that grows with an archive: its
 * handle, its index, its names and the buffers of opening.
 *
 * Hostile files. Sizes and offsets in a file are never trusted: the structure
 * of both files is checked when they are opened, and every read checks again
 * what it uses. No allocation is sized by an unchecked field: the file's
 * length bounds them, and so does LZ4's greatest ratio (255:1) for every
 * decode. A damaged or crafted file gives a status, never a crash, a hang or a
 * read out of bounds.
 *
 * Volume sets. An archive ends before 4 GiB; zelkor splits a larger build
 * into volumes (game.pak, game_001.pak, ...), each an archive of its own with
 * its own key file (game_001.pak.zlk), and a manifest game.pak.set that names
 * every volume with its size and the digest of its records. zlk_open of the
 * first volume (when the manifest lies beside it) or of the manifest opens the
 * whole set as one zlk_archive: entries are numbered across the volumes in
 * order, zlk_find looks through all of them, and every other call works as on
 * one archive. key_path names the first volume's key file, and the others are
 * found as zelkor names them. The first volume is opened with the set, the
 * others when an entry of theirs is first needed; each is then checked against
 * the manifest, and a volume that is missing, cut short, or from another build
 * gives ZLK_ARCHIVE_DAMAGED, with a message that names it, from every call
 * that needs it (zlk_open_volumes checks them all at once). zlk_open_source
 * reads one archive; zlk_open_set_source reads a set through the caller's own
 * I/O.
 *
 * Names. Inside an archive an entry is known by the CRC-32 of its normalised
 * path (zlk_name_hash: A-Z lowered, backslashes turned into slashes); the key
 * file holds the paths. A name from the key file is trusted only when it
 * hashes to its entry's name hash. When several entries answer to one path,
 * zlk_find returns the first of them in archive order (see zlk_find).
 */
#ifndef ZELKOR_ZELKOR_H
#define ZELKOR_ZELKOR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header. zlk_version_number() gives the library's. */
#define ZLK_VERSION_MAJOR 1
#define ZLK_VERSION_MINOR 1
#define ZLK_VERSION_PATCH 0
#define ZLK_VERSION_NUMBER (ZLK_VERSION_MAJOR * 10000 + ZLK_VERSION_MINOR * 100 + ZLK_VERSION_PATCH)
#define ZLK_VERSION_STRING "1.1.0"

/* ZLK_API marks the library's functions. A program that links the static
 * library on Windows defines ZLK_STATIC (the CMake package and pkg-config's
 * --static do so). */
#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(ZLK_BUILDING_LIBRARY)
#    define ZLK_API __declspec(dllexport)
#  elif defined(ZLK_STATIC)
#    define ZLK_API
#  else
#    define ZLK_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define ZLK_API __attribute__((visibility("default")))
#else
#  define ZLK_API
#endif

/* An open archive, or a volume set read as one. */
typedef struct zlk_archive zlk_archive;

typedef enum zlk_status {
    ZLK_OK = 0,
    ZLK_NOT_FOUND,         /* no entry answers to the path; from an open, no file at the path */
    ZLK_BUFFER_TOO_SMALL,  /* the buffer is smaller than the entry's raw size; nothing was written */
    ZLK_ENTRY_DAMAGED,     /* this entry's bytes do not decode or do not match its hash; others may be fine */
    ZLK_NOT_RAW,           /* a range was asked of an entry stored compressed */
    ZLK_IO,                /* a file could not be opened or read, or a read_at callback failed */
    ZLK_ARCHIVE_DAMAGED,   /* the archive or key file breaks the format, or changed since it was opened */
    ZLK_FOREIGN_KEY_FILE,  /* the key file belongs to another archive */
    ZLK_COMMIT_PENDING,    /* a rebuild was cut short before its commit completed: see zlk_complete_commit */
    ZLK_NO_MEMORY,         /* an allocation failed */
    ZLK_MISUSE             /* a NULL where a value is needed, an index or range out of bounds */
} zlk_status;

/* What went wrong, for a person: the status again, and a message (always
 * NUL-terminated, cut at 255 bytes) that names the file and, where it applies,
 * the offset. */
typedef struct zlk_error {
    zlk_status status;
    char message[256];
} zlk_error;

/* The bytes of an archive or a key file, read through the caller's own I/O (a
 * package, memory, an engine's file system). read_at reads `length` bytes at
 * `offset` into `buffer` and returns how many it read: fewer only where the
 * source ends, or a negative number on failure. It is called from several
 * threads at once, and must not block forever. `release`, when not NULL, is
 * called once when the archive no longer needs the source (at zlk_close, or
 * when the open fails). */
typedef struct zlk_source {
    void *opaque;
    uint64_t size;
    int64_t (*read_at)(void *opaque, uint64_t offset, void *buffer, size_t length);
    void (*release)(void *opaque); /* may be NULL */
} zlk_source;

/* One entry of an archive. */
typedef struct zlk_entry {
    uint64_t index;          /* in archive order, from 0 */
    uint32_t raw_size;       /* bytes of content */
    uint32_t stored_size;    /* bytes in the archive */
    uint32_t content_hash;   /* XXH32 of the content, seed 0x0A0FED0C */
    uint32_t name_hash;      /* zlk_name_hash of its path */
    int compressed;          /* 0: stored raw (zlk_read_range works) */
    /* The path from the key file, NUL-terminated, when there is a key file and
     * the path hashes to name_hash; otherwise NULL. It lives as the archive.
     * name_length counts the bytes before the terminating NUL. */
    const char *name;
    size_t name_length;
} zlk_entry;

/* Allocator hooks for one archive: the memory that grows with it (its handle,
 * its index, its names, the buffers of opening) comes from them. A few small
 * objects made once per open (the wrappers of its files or sources, and the
 * AES key schedule that the crypto library allocates itself) come from the C++
 * runtime's allocator.
 * `allocate` returns memory of `size` bytes aligned to `alignment` (a power of
 * two), or NULL; `release` takes back what `allocate` gave, with the same size
 * and alignment. Both may be called from any thread. */
typedef struct zlk_allocator {
    void *opaque;
    void *(*allocate)(void *opaque, size_t size, size_t alignment);
    void (*release)(void *opaque, void *pointer, size_t size, size_t alignment);
} zlk_allocator;

/* Options of zlk_open_with, zlk_open_source_with and zlk_open_set_source.
 * Start from ZLK_OPEN_OPTIONS_INIT, so that fields added later keep their
 * defaults. */
typedef struct zlk_open_options {
    size_t struct_size;              /* sizeof(zlk_open_options) */
    const zlk_allocator *allocator;  /* NULL: malloc and free */
    const char *archive_name;        /* how messages name a source archive; NULL: "archive source" */
    const char *key_name;            /* how messages name a source key file; NULL: "key file source" */
} zlk_open_options;

#define ZLK_OPEN_OPTIONS_INIT { sizeof(zlk_open_options), NULL, NULL, NULL }

/* Opens the archive at `archive_path` with the key file at `key_path` (NULL:
 * none; the archive's own shares are then the key, and entries have no names)
 * and checks both. On ZLK_OK, *out holds the archive; otherwise *out is NULL.
 * A commit record left beside the archive (for a set, beside its first volume)
 * by a rebuild that was cut short gives ZLK_COMMIT_PENDING, and nothing is
 * opened. A missing file gives
 * ZLK_NOT_FOUND. Opening reads the archive's records front to back (the format
 * has no index), so it costs one read per entry that stores more than a few
 * hundred bytes. */
ZLK_API zlk_status zlk_open(const char *archive_path, const char *key_path, zlk_archive **out,
                            zlk_error *error);

/* The same, reading through the caller's sources. `key_file` may be NULL. The
 * archive takes the sources: their release is called when it no longer needs
 * them, also when the open fails. */
ZLK_API zlk_status zlk_open_source(const zlk_source *archive, const zlk_source *key_file, zlk_archive **out,
                                   zlk_error *error);

/* zlk_open and zlk_open_source with options (NULL: the defaults). */
ZLK_API zlk_status zlk_open_with(const char *archive_path, const char *key_path, const zlk_open_options *options,
                                 zlk_archive **out, zlk_error *error);
ZLK_API zlk_status zlk_open_source_with(const zlk_source *archive, const zlk_source *key_file,
                                        const zlk_open_options *options, zlk_archive **out, zlk_error *error);

/* The volumes of a set, read through the caller's own I/O, for
 * zlk_open_set_source. open_volume fills *archive with volume `volume`'s
 * archive (0 is the first volume) and, with key files, *key_file with its key
 * file, and returns 0; or returns nonzero, having filled nothing that needs
 * releasing, when the volume cannot be had: the open or the read in progress
 * then fails with ZLK_IO, naming the volume. It is called for the first volume
 * while the set opens, and for each other one when an entry of it is first
 * needed, from whichever thread needs it: two threads may ask for the same
 * volume at once, and the copy not kept is released. Every source it fills is
 * taken and released through its own release, as zlk_open_source releases its
 * sources (a source without read_at counts as none; a key file filled for a
 * set without key files is released at once). `release`, when not NULL, is
 * called once when the set no longer needs open_volume: at zlk_close, or when
 * the open fails. */
typedef struct zlk_volume_sources {
    void *opaque;
    /* Nonzero: open_volume fills key_file too. A set built with key files
     * needs them, and one built without refuses them, as zlk_open does with
     * and without key_path (ZLK_FOREIGN_KEY_FILE). */
    int with_key_files;
    int (*open_volume)(void *opaque, uint32_t volume, zlk_source *archive, zlk_source *key_file);
    void (*release)(void *opaque); /* may be NULL */
} zlk_volume_sources;

/* Opens a volume set whose manifest (NAME.pak.set) is read from `manifest`
 * and whose volumes come from `volumes`, and reads it as zlk_open reads a set
 * named by path: entries numbered across the volumes, zlk_find over all of
 * them, each volume opened when first needed and checked against the manifest
 * (one cut short or from another build gives ZLK_ARCHIVE_DAMAGED, naming it).
 * The manifest source is taken as zlk_open_source takes its sources, and
 * released once it is read, also when the open fails; `volumes` is copied.
 * options->archive_name names the manifest in messages (NULL: "set manifest
 * source"), and its directory part comes before the volumes' names there;
 * options->key_name names the first volume's key file (NULL: the first
 * volume's name followed by .zlk), and the others are named after it as zelkor
 * names them. As for sources, no commit record is looked for. */
ZLK_API zlk_status zlk_open_set_source(const zlk_source *manifest, const zlk_volume_sources *volumes,
                                       const zlk_open_options *options, zlk_archive **out, zlk_error *error);

/* Closes the archive and releases everything it holds. NULL is fine. */
ZLK_API void zlk_close(zlk_archive *archive);

/* The number of entries; 0 for NULL. */
ZLK_API uint64_t zlk_entry_count(const zlk_archive *archive);

/* Whether the archive was opened with a key file (entries then have names). */
ZLK_API int zlk_has_names(const zlk_archive *archive);

/* The fields of entry `index` (below zlk_entry_count) into *out. */
ZLK_API zlk_status zlk_entry_at(const zlk_archive *archive, uint64_t index, zlk_entry *out);

/* The entry that the archived path `path` (`length` bytes; case and separators
 * as the name hash sees them) names, into *index. Among the entries whose name
 * hash is the path's: the first in archive order whose trusted name equals the
 * path once both are normalised; failing that, the first whose name cannot be
 * trusted. Without a key file, the first entry with the path's name hash.
 * ZLK_NOT_FOUND when none is. The first call with a key file loads the names.
 * In a set the rule runs over the volumes in order, so a lookup opens them
 * until one holds a trusted match (all of them for a path that is not there). */
ZLK_API zlk_status zlk_find(const zlk_archive *archive, const char *path, size_t length, uint64_t *index);

/* Reads entry `index` whole into `buffer` (`capacity` bytes): reads, decrypts,
 * decodes, and checks the content hash. On ZLK_OK the first raw_size bytes of
 * the buffer hold the content. ZLK_BUFFER_TOO_SMALL writes nothing. On
 * ZLK_ENTRY_DAMAGED the buffer holds anything. Allocates nothing. */
ZLK_API zlk_status zlk_read(const zlk_archive *archive, uint64_t index, void *buffer, size_t capacity,
                            zlk_error *error);

/* Reads `length` bytes at `offset` of the content of an entry stored raw (big
 * media, read as it plays): CFB decrypts from any 16-byte block, so a range
 * costs what it reads. The content hash covers the whole entry, so a range is
 * not checked; zlk_read checks. ZLK_NOT_RAW for an entry stored compressed,
 * ZLK_MISUSE for a range past the end. */
ZLK_API zlk_status zlk_read_range(const zlk_archive *archive, uint64_t index, uint64_t offset, void *buffer,
                                  size_t length, zlk_error *error);

/* The name hash of an archived path: CRC-32 (IEEE, as zlib) of the path with
 * A-Z lowered and backslashes turned into slashes. */
ZLK_API uint32_t zlk_name_hash(const char *path, size_t length);

/* Completes the commit of a rebuild that was cut short (a crash or a kill
 * between the renames that put a new archive and key file in place), as the
 * next zelkor command would: the new files are put in place, or, when they
 * cannot be whole, the record is removed and the old files stay. For a launcher
 * or a patcher that may write beside the archive. The commit's record, beside
 * the archive (or a set's first volume), names every file of the commit, key
 * files included, so `key_path` is not needed and may be NULL; it is accepted
 * for symmetry with zlk_open and not read. ZLK_OK when no commit is pending
 * any more. */
ZLK_API zlk_status zlk_complete_commit(const char *archive_path, const char *key_path, zlk_error *error);

/* The number of volumes: the set's for a volume set, 1 for an archive, 0 for
 * NULL. */
ZLK_API uint32_t zlk_volume_count(const zlk_archive *archive);

/* Opens every volume of a set that is not open yet and checks it against the
 * manifest, for a launcher that would rather know at start than at the first
 * read: ZLK_ARCHIVE_DAMAGED (or ZLK_FOREIGN_KEY_FILE, ZLK_IO) names the first
 * volume that fails. ZLK_OK at once for an archive. Safe while other threads
 * read. */
ZLK_API zlk_status zlk_open_volumes(const zlk_archive *archive, zlk_error *error);

/* The memory the archive holds now: its index and, once loaded, its names. */
ZLK_API size_t zlk_memory_use(const zlk_archive *archive);

/* "ok", "not found", ...: a static string for every status. */
ZLK_API const char *zlk_status_string(zlk_status status);

/* The library's version: ZLK_VERSION_NUMBER and ZLK_VERSION_STRING as it was
 * built. */
ZLK_API uint32_t zlk_version_number(void);
ZLK_API const char *zlk_version_string(void);

/*
 * MOUNT LISTS
 *
 * A game ships a base archive, then DLC and patches; a mount list reads them
 * as one tree. Each archive is mounted with a priority. A path is looked up
 * from the highest priority down (among equal priorities, the archive mounted
 * last first), and the first archive that answers to it (by the rule of
 * zlk_find) gives the entry. A patch built with PatchOf holds only what
 * changed, and lists the names its base holds and the new build does not in a
 * deletion list beside it (PATCH.del); mounted, the patch hides those names in
 * every archive below it. Its own entries stay above its deletions.
 *
 * Threads. zlk_mounts_find and zlk_mounts_list may run on any number of
 * threads at once, also while other threads call zlk_mount and zlk_unmount on
 * the same list, with no lock on their path: every change publishes a new
 * immutable index of the list, which a reader pins with a counter of its own
 * and which is freed only once no reader holds it. zlk_mount and zlk_unmount
 * are serialised among themselves. zlk_unmount waits until no reader holds the
 * archive any more, then closes it. An archive that zlk_mounts_find or
 * zlk_mounts_list gives stays valid, for every call that takes a
 * `const zlk_archive *`, until it is unmounted; the caller makes sure that it
 * is done with it before it unmounts it (as with any handle it closes).
 * zlk_mounts_destroy must not run while another call uses the list.
 *
 * Memory. Beyond its archives, a list keeps a hash table of every mounted
 * archive's name hashes (16 to 32 bytes per distinct name hash), rebuilt at
 * every zlk_mount and zlk_unmount, and, once zlk_mounts_list has been called,
 * the merged tree's names (24 bytes per name; the names themselves are the
 * archives' own). A lookup costs one name hash and one probe of that table,
 * whatever the number of archives.
 */
typedef struct zlk_mounts zlk_mounts;

/* Creates an empty mount list. */
ZLK_API zlk_status zlk_mounts_create(zlk_mounts **out);

/* Unmounts and closes every archive of the list, and destroys it. NULL is fine. */
ZLK_API void zlk_mounts_destroy(zlk_mounts *mounts);

/* Opens the archive at `archive_path` with its key file (`key_path`; NULL:
 * ARCHIVE.zlk when that file exists, otherwise none) as zlk_open does, and,
 * when a deletion list ARCHIVE.del lies beside it, the list; then mounts both
 * with `priority` (higher wins). The archive is known in the list by
 * `archive_path`, byte for byte. ZLK_MISUSE when an archive of that path is
 * mounted already; the statuses of zlk_open otherwise, and ZLK_ARCHIVE_DAMAGED
 * for a deletion list that is damaged or belongs to another build of the
 * archive (a stale list beside a rebuilt patch: it would hide what the
 * rebuild's base should show). On failure nothing changes. */
ZLK_API zlk_status zlk_mount(zlk_mounts *mounts, const char *archive_path, const char *key_path, int priority,
                             zlk_error *error);

/* Mounts `archive`, opened by the caller (zlk_open_source, say), under `name`,
 * with the deletion list read from `deletions` (NULL: none), which is released
 * as a source of zlk_open_source is. On ZLK_OK the list owns the archive: the
 * caller must not zlk_close it. On failure the archive stays the caller's. */
ZLK_API zlk_status zlk_mount_archive(zlk_mounts *mounts, zlk_archive *archive, const zlk_source *deletions,
                                     const char *name, int priority, zlk_error *error);

/* Unmounts the archive mounted as `archive_path` and closes it, once no
 * reader holds it. ZLK_NOT_FOUND when none is. */
ZLK_API zlk_status zlk_unmount(zlk_mounts *mounts, const char *archive_path);

/* The number of archives mounted; 0 for NULL. */
ZLK_API size_t zlk_mounts_count(const zlk_mounts *mounts);

/* The entry that `path` (`length` bytes) names in the merged tree: the archive
 * it comes from into *archive, and its index there into *index, for zlk_read
 * and the other calls on that archive. ZLK_NOT_FOUND when no archive answers to
 * the path, or a deletion above the archives that do hides it. The archive
 * stays valid until it is unmounted. */
ZLK_API zlk_status zlk_mounts_find(const zlk_mounts *mounts, const char *path, size_t length,
                                   const zlk_archive **archive, uint64_t *index);

/* One name of the merged tree, as zlk_mounts_list gives it. */
typedef struct zlk_listing {
    const char *path;          /* the whole archived path, as its archive spells it; not NUL-terminated */
    size_t path_length;
    size_t name_offset;        /* where the last component starts in path */
    int is_directory;          /* 1: a directory, which has no archive and no index */
    const zlk_archive *archive; /* the archive the entry comes from */
    uint64_t index;            /* its index there */
} zlk_listing;

/* Called once per name; returns 0 to go on, anything else to stop. */
typedef int (*zlk_listing_callback)(void *opaque, const zlk_listing *item);

/* With zlk_mounts_list: every entry at any depth below the directory, and no
 * directories. */
#define ZLK_LIST_RECURSIVE 1u

/* The names under `directory` (`length` bytes; case and separators as the name
 * hash sees them; empty for the root), each with the archive and the entry a
 * lookup of it gives, in the order of their normalised bytes: without flags,
 * its direct children, files and subdirectories (each subdirectory once); with
 * ZLK_LIST_RECURSIVE, every entry below it. Deleted names are not listed, and a
 * name is listed once, from the archive that wins it. Names come from the key
 * files: an archive mounted without one lists nothing, though its entries are
 * found by path. The first call after a change builds the merged tree's names.
 * `path` lives while the callback runs. The callback must not unmount from the
 * same list (zlk_unmount would wait for it). ZLK_OK also when the directory
 * holds nothing, and when the callback stopped. */
ZLK_API zlk_status zlk_mounts_list(const zlk_mounts *mounts, const char *directory, size_t length, unsigned flags,
                                   zlk_listing_callback callback, void *opaque);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_ZELKOR_H */
