/* The PhysicsFS adapter against Debian's real libphysfs, as a C game uses it:
 * an archive mounted through the adapter, every file read by path (whole, and
 * in pieces after seeks), directories enumerated and stat'ed; a patch mounted
 * in front of its base in PhysicsFS's order, which overrides the base; a mount
 * list mounted as one archive, which also applies the patch's deletions; a key
 * file handed in by the game; and a file that is no archive left to others.
 *
 * Usage: physfs_adapter_test ZELKOR SCRATCH_DIR
 * Builds its archives with the zelkor at ZELKOR in a fresh directory below
 * SCRATCH_DIR, which it removes at the end. Exit status 0 when every check holds. */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <physfs.h>

#include "zelkor/zelkor.h"
#include "zelkor/zelkor_physfs.h"

static int failures = 0;

#define CHECK(condition, ...)                                                 \
    do {                                                                      \
        if (!(condition)) {                                                   \
            fprintf(stderr, "%s:%d: %s failed: ", __FILE__, __LINE__, #condition); \
            fprintf(stderr, __VA_ARGS__);                                     \
            fprintf(stderr, " (PhysicsFS: %s)\n",                             \
                    PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));        \
            ++failures;                                                       \
        }                                                                     \
    } while (0)

/* The files of the two builds: a name and its content in each (NULL: absent). */
typedef struct {
    const char *name;
    char *before;
    char *after;
    size_t before_size, after_size;
} File;

static char *Text(size_t size, unsigned seed)
{
    static const char *words[] = {"hero ", "level ", "sound ", "texture ", "the ", "map ", "of ", "zelkor "};
    char *text = malloc(size + 1);
    size_t at = 0;
    while (at < size) {
        const char *word = words[(seed = seed * 1103515245u + 12345u) >> 28 & 7];
        while (*word && at < size)
            text[at++] = *word++;
    }
    text[size] = '\0';
    return text;
}

static char *Noise(size_t size, unsigned seed)
{
    char *bytes = malloc(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char)((seed = seed * 1103515245u + 12345u) >> 24);
    return bytes;
}

static void WriteFile(const char *path, const char *content, size_t size)
{
    char directory[256];
    snprintf(directory, sizeof directory, "%s", path);
    for (char *slash = strchr(directory, '/'); slash; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        mkdir(directory, 0777);
        *slash = '/';
    }
    FILE *out = fopen(path, "wb");
    if (!out || fwrite(content, 1, size, out) != size || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(2);
    }
}

static char *ReadWhole(const char *path, size_t *size)
{
    FILE *in = fopen(path, "rb");
    char *bytes = malloc(1 << 22);
    *size = in ? fread(bytes, 1, 1 << 22, in) : 0;
    if (in)
        fclose(in);
    return bytes;
}

/* A pack command of the files that are there in one build (`after`). */
static void WriteScript(const char *script, const char *archive, const char *root, const File *files, size_t count,
                        int after, const char *attributes)
{
    FILE *out = fopen(script, "w");
    fprintf(out, "<ScriptFile><CreateOrvanPack ArchivePath=\"%s\" BuildKeyfile=\"true\"%s>\n", archive, attributes);
    for (size_t i = 0; i < count; ++i) {
        if (after ? files[i].after != NULL : files[i].before != NULL)
            fprintf(out, "<File ArchivedPath=\"%s\">%s/%s</File>\n", files[i].name, root, files[i].name);
    }
    fprintf(out, "</CreateOrvanPack></ScriptFile>\n");
    fclose(out);
}

static void Run(const char *zelkor, const char *script)
{
    char command[1024];
    snprintf(command, sizeof command, "'%s' %s >/dev/null", zelkor, script);
    if (system(command) != 0) {
        fprintf(stderr, "%s failed\n", command);
        exit(2);
    }
}

/* Reads `name` through PhysicsFS whole, and again in pieces from a few
 * offsets, and compares both with `content` (NULL: the file must not exist). */
static void Expect(const char *name, const char *content, size_t size)
{
    PHYSFS_File *file = PHYSFS_openRead(name);
    if (!content) {
        CHECK(file == NULL && !PHYSFS_exists(name), "%s is found", name);
        if (file)
            PHYSFS_close(file);
        return;
    }
    CHECK(file != NULL, "%s cannot be opened", name);
    if (!file)
        return;
    CHECK(PHYSFS_fileLength(file) == (PHYSFS_sint64)size, "%s has length %lld", name, (long long)PHYSFS_fileLength(file));
    char *buffer = malloc(size + 1);
    CHECK(PHYSFS_readBytes(file, buffer, size + 1) == (PHYSFS_sint64)size && memcmp(buffer, content, size) == 0,
          "%s reads other bytes", name);
    const size_t offsets[] = {1, size / 3, size - size / 4};
    for (size_t i = 0; i < 3 && size > 8; ++i) {
        const size_t piece = size - offsets[i] < 4096 ? size - offsets[i] : 4096;
        CHECK(PHYSFS_seek(file, offsets[i]) && PHYSFS_readBytes(file, buffer, piece) == (PHYSFS_sint64)piece &&
                  memcmp(buffer, content + offsets[i], piece) == 0,
              "%s reads other bytes at %zu", name, offsets[i]);
    }
    free(buffer);
    PHYSFS_close(file);
}

/* The names PhysicsFS lists in `directory`, joined by spaces. */
static void ExpectListing(const char *directory, const char *expected)
{
    char **names = PHYSFS_enumerateFiles(directory);
    char listing[512] = "";
    for (char **name = names; name && *name; ++name) {
        if (listing[0])
            strcat(listing, " ");
        strncat(listing, *name, sizeof listing - strlen(listing) - 2);
    }
    PHYSFS_freeList(names);
    CHECK(strcmp(listing, expected) == 0, "%s lists \"%s\", not \"%s\"", directory, listing, expected);
}

/* The game hands in the key file of an archive it renamed. */
static char *handed_key;
static size_t handed_key_size;

static int64_t ReadHanded(void *opaque, uint64_t offset, void *buffer, size_t length)
{
    (void)opaque;
    if (offset >= handed_key_size)
        return 0;
    if (length > handed_key_size - offset)
        length = handed_key_size - offset;
    memcpy(buffer, handed_key + offset, length);
    return (int64_t)length;
}

static int KeyFor(void *opaque, const char *archive, zlk_source *key)
{
    (void)opaque;
    const size_t length = strlen(archive);
    if (length < 11 || strcmp(archive + length - 11, "renamed.bin") != 0)
        return 0;
    key->opaque = NULL;
    key->size = handed_key_size;
    key->read_at = ReadHanded;
    key->release = NULL;
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: physfs_adapter_test ZELKOR SCRATCH_DIR\n");
        return 2;
    }
    char work[512];
    snprintf(work, sizeof work, "%s/physfs-XXXXXX", argv[2]);
    if (!mkdtemp(work) || chdir(work) != 0) {
        fprintf(stderr, "cannot make a directory below %s\n", argv[2]);
        return 2;
    }

    File files[] = {
        {"a.txt", "alpha", "ALPHA, edited", 5, 13},
        {"dir/b.txt", Text(40000, 1), NULL, 40000, 0},   /* compressed, unchanged */
        {"dir/sub/c.bin", Noise(3 << 20, 2), NULL, 3 << 20, 0}, /* stored raw, streamed by ranges */
        {"dir/sub/d.bin", Noise(5000, 3), Noise(5001, 4), 5000, 5001},
        {"gone.txt", "removed in the patch", NULL, 20, 0},
        {"new.txt", NULL, "added in the patch", 0, 18},
    };
    const size_t count = sizeof files / sizeof files[0];
    files[1].after = files[1].before;
    files[1].after_size = files[1].before_size;
    files[2].after = files[2].before;
    files[2].after_size = files[2].before_size;
    char path[256];
    for (size_t i = 0; i < count; ++i) {
        if (files[i].before) {
            snprintf(path, sizeof path, "v1/%s", files[i].name);
            WriteFile(path, files[i].before, files[i].before_size);
        }
        if (files[i].after) {
            snprintf(path, sizeof path, "v2/%s", files[i].name);
            WriteFile(path, files[i].after, files[i].after_size);
        }
    }
    WriteScript("base.xml", "base.pak", "v1", files, count, 0, "");
    WriteScript("patch.xml", "patch.pak", "v2", files, count, 1, " PatchOf=\"base.pak\"");
    Run(argv[1], "base.xml");
    Run(argv[1], "patch.xml");

    CHECK(PHYSFS_init(argv[0]), "PHYSFS_init");
    CHECK(zlk_physfs_register() != 0, "zlk_physfs_register");

    /* The base alone: every file, the tree, stat. */
    CHECK(PHYSFS_mount("base.pak", NULL, 1), "mounting base.pak");
    for (size_t i = 0; i < count; ++i)
        Expect(files[i].name, files[i].before, files[i].before_size);
    ExpectListing("", "a.txt dir gone.txt");
    ExpectListing("dir", "b.txt sub");
    ExpectListing("dir/sub", "c.bin d.bin");
    PHYSFS_Stat stat;
    CHECK(PHYSFS_stat("dir/sub", &stat) && stat.filetype == PHYSFS_FILETYPE_DIRECTORY, "dir/sub is no directory");
    CHECK(PHYSFS_stat("dir/b.txt", &stat) && stat.filetype == PHYSFS_FILETYPE_REGULAR && stat.filesize == 40000,
          "dir/b.txt is no file of 40000 bytes");
    CHECK(!PHYSFS_stat("nowhere", &stat), "nowhere exists");

    /* The patch in front, PhysicsFS's order: the first archive that has a file
     * wins. PhysicsFS has no deletions, so the base's removed file shows. */
    CHECK(PHYSFS_mount("patch.pak", NULL, 0), "mounting patch.pak in front");
    for (size_t i = 0; i < count; ++i) {
        if (files[i].after)
            Expect(files[i].name, files[i].after, files[i].after_size);
    }
    Expect("gone.txt", files[4].before, files[4].before_size);
    ExpectListing("", "a.txt dir gone.txt new.txt");
    CHECK(PHYSFS_unmount("patch.pak") && PHYSFS_unmount("base.pak"), "unmounting");

    /* A mount list as one archive: the patch's deletions apply too. */
    zlk_mounts *mounts = NULL;
    zlk_error error;
    CHECK(zlk_mounts_create(&mounts) == ZLK_OK, "zlk_mounts_create");
    CHECK(zlk_mount(mounts, "base.pak", NULL, 0, &error) == ZLK_OK, "zlk_mount base.pak: %s", error.message);
    CHECK(zlk_mount(mounts, "patch.pak", NULL, 1, &error) == ZLK_OK, "zlk_mount patch.pak: %s", error.message);
    CHECK(zlk_physfs_mount_list(mounts, "game", NULL, 1), "zlk_physfs_mount_list");
    for (size_t i = 0; i < count; ++i)
        Expect(files[i].name, files[i].after, files[i].after_size);
    ExpectListing("", "a.txt dir new.txt");
    CHECK(PHYSFS_unmount("game"), "unmounting the mount list");
    zlk_mounts_destroy(mounts);

    /* A key file handed in by the game; without it the archive is read alone
     * and its entries decode to noise, which reads refuse. */
    size_t size = 0;
    char *bytes = ReadWhole("base.pak", &size);
    WriteFile("renamed.bin", bytes, size);
    free(bytes);
    handed_key = ReadWhole("base.pak.zlk", &handed_key_size);
    CHECK(PHYSFS_mount("renamed.bin", NULL, 1), "mounting renamed.bin without its key");
    PHYSFS_File *noise = PHYSFS_openRead("a.txt");
    char buffer[16];
    CHECK(noise && PHYSFS_readBytes(noise, buffer, sizeof buffer) == -1 &&
              PHYSFS_getLastErrorCode() == PHYSFS_ERR_CORRUPT,
          "a.txt read without its key file");
    if (noise)
        PHYSFS_close(noise);
    CHECK(PHYSFS_unmount("renamed.bin"), "unmounting renamed.bin");
    zlk_physfs_options options = ZLK_PHYSFS_OPTIONS_INIT;
    options.key_file = KeyFor;
    CHECK(zlk_physfs_register_with(&options), "zlk_physfs_register_with");
    CHECK(PHYSFS_mount("renamed.bin", NULL, 1), "mounting renamed.bin with its key handed in");
    Expect("a.txt", "alpha", 5);
    CHECK(PHYSFS_unmount("renamed.bin"), "unmounting renamed.bin");

    /* A file that is no archive of ours is left to PhysicsFS's other archivers. */
    CHECK(!PHYSFS_mount("v1/a.txt", NULL, 1) && PHYSFS_getLastErrorCode() == PHYSFS_ERR_UNSUPPORTED,
          "a text file was taken for an archive");

    CHECK(PHYSFS_deinit(), "PHYSFS_deinit");
    free(handed_key);
    free(files[1].before);
    free(files[2].before);
    free(files[3].before);
    free(files[3].after);
    if (chdir("/") == 0) {
        char command[600];
        snprintf(command, sizeof command, "rm -rf '%s'", work);
        if (system(command) != 0)
            fprintf(stderr, "cannot remove %s\n", work);
    }
    if (failures == 0)
        printf("PhysicsFS read every archive through the adapter\n");
    return failures == 0 ? 0 : 1;
}
