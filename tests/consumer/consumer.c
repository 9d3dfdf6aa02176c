/*
 * A program that uses the installed reader library as a game would: it
 * includes <zelkor/zelkor.h> alone and is plain C99.
 *
 * consumer ARCHIVE KEY_FILE SOURCE_ROOT LIST
 *
 * LIST names every archived path, one a line; each was packed from the file
 * of that path below SOURCE_ROOT. The archive is opened twice, from its path
 * and from memory through zlk_source callbacks, and each time every path is
 * found (also in upper and lower case, and with backslashes) and read back,
 * whole and, for entries stored raw, by ranges; every read must equal the
 * source file; zlk_open_set_source is there and refuses misuse. Exits 0 when
 * all did, 1 with a message otherwise.
 */
#include <zelkor/zelkor.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_PATHS 256

static int failures = 0;

static void fail(const char *what, const char *path, zlk_status status)
{
    if (status == ZLK_OK)
        fprintf(stderr, "consumer: %s (%s)\n", what, path);
    else
        fprintf(stderr, "consumer: %s (%s): %s\n", what, path, zlk_status_string(status));
    ++failures;
}

/* The whole file at `path` into memory; *size gets its length. */
static unsigned char *load(const char *path, size_t *size)
{
    FILE *file = fopen(path, "rb");
    unsigned char *bytes = NULL;
    long length;
    if (!file)
        return NULL;
    if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) >= 0 && fseek(file, 0, SEEK_SET) == 0) {
        bytes = malloc((size_t)length + 1);
        if (bytes && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
            free(bytes);
            bytes = NULL;
        }
        *size = (size_t)length;
    }
    fclose(file);
    return bytes;
}

struct memory {
    const unsigned char *bytes;
    size_t size;
};

static int64_t memory_read_at(void *opaque, uint64_t offset, void *buffer, size_t length)
{
    const struct memory *memory = opaque;
    if (offset >= memory->size)
        return 0;
    if (length > memory->size - offset)
        length = (size_t)(memory->size - offset);
    memcpy(buffer, memory->bytes + offset, length);
    return (int64_t)length;
}

static void memory_release(void *opaque)
{
    struct memory *memory = opaque;
    memory->bytes = NULL;
}

/* The path's variants that the name hash takes for the same name. */
static void variant(char *out, const char *path, int which)
{
    size_t i;
    for (i = 0; path[i]; ++i) {
        char c = path[i];
        if (which == 1 && c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (which == 2 && c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (which == 3 && c == '/')
            c = '\\';
        out[i] = c;
    }
    out[i] = '\0';
}

/* Finds `path` and its variants, reads the entry and compares it with the
 * source file below `root`. */
static void check_path(const zlk_archive *archive, const char *root, const char *path)
{
    char variants[4][512], source_path[1024];
    uint64_t index = 0, again;
    zlk_entry entry;
    zlk_status status;
    unsigned char *expected, *actual;
    size_t expected_size = 0;
    int which;

    for (which = 0; which < 4; ++which)
        variant(variants[which], path, which);
    if ((status = zlk_find(archive, path, strlen(path), &index)) != ZLK_OK) {
        fail("zlk_find", path, status);
        return;
    }
    for (which = 1; which < 4; ++which) {
        status = zlk_find(archive, variants[which], strlen(variants[which]), &again);
        if (status != ZLK_OK || again != index)
            fail("zlk_find of a variant finds another entry", variants[which], status);
    }
    if ((status = zlk_entry_at(archive, index, &entry)) != ZLK_OK) {
        fail("zlk_entry_at", path, status);
        return;
    }
    if (!entry.name || strcmp(entry.name, path) != 0 || entry.name_hash != zlk_name_hash(path, strlen(path)))
        fail("the entry's name and hash", path, ZLK_OK);

    snprintf(source_path, sizeof source_path, "%s/%s", root, path);
    expected = load(source_path, &expected_size);
    if (!expected) {
        fprintf(stderr, "consumer: cannot read %s\n", source_path);
        ++failures;
        return;
    }
    actual = malloc((size_t)entry.raw_size + 1);
    if (entry.raw_size != expected_size) {
        fail("the entry's size differs from its source's", path, ZLK_OK);
    } else if (entry.raw_size > 0 && zlk_read(archive, index, actual, entry.raw_size - 1, NULL) !=
                                         ZLK_BUFFER_TOO_SMALL) {
        fail("a buffer one byte short", path, ZLK_OK);
    } else if ((status = zlk_read(archive, index, actual, entry.raw_size, NULL)) != ZLK_OK) {
        fail("zlk_read", path, status);
    } else if (memcmp(actual, expected, expected_size) != 0) {
        fail("the content differs from its source", path, ZLK_OK);
    } else if (!entry.compressed && entry.raw_size > 0) {
        /* Ranges from the first byte, inside the second 16-byte block, and
         * up to the end. */
        uint64_t starts[3];
        int i;
        starts[0] = 0;
        starts[1] = entry.raw_size > 21 ? 21 : 0;
        starts[2] = entry.raw_size / 2;
        for (i = 0; i < 3; ++i) {
            size_t length = (size_t)(entry.raw_size - starts[i]);
            memset(actual, 0, length);
            status = zlk_read_range(archive, index, starts[i], actual, length, NULL);
            if (status != ZLK_OK || memcmp(actual, expected + starts[i], length) != 0)
                fail("zlk_read_range", path, status);
        }
    }
    free(actual);
    free(expected);
}

/* Every path of the list in `archive`, and nothing more. */
static void check_archive(const zlk_archive *archive, const char *root, char paths[][512], size_t count)
{
    size_t i;
    uint64_t index;
    if (zlk_entry_count(archive) != count || !zlk_has_names(archive)) {
        fprintf(stderr, "consumer: %lu entries with%s names, not %lu with names\n",
                (unsigned long)zlk_entry_count(archive), zlk_has_names(archive) ? "" : "out",
                (unsigned long)count);
        ++failures;
    }
    for (i = 0; i < count; ++i)
        check_path(archive, root, paths[i]);
    if (zlk_find(archive, "no/such/entry", 13, &index) != ZLK_NOT_FOUND)
        fail("zlk_find of a path that is not there", "no/such/entry", ZLK_OK);
}

int main(int argc, char **argv)
{
    static char paths[MAX_PATHS][512];
    size_t count = 0;
    FILE *list;
    zlk_archive *archive = NULL;
    zlk_error error;
    struct memory archive_bytes, key_bytes;
    zlk_source archive_source, key_source;
    unsigned char *archive_file, *key_file;

    if (argc != 5) {
        fprintf(stderr, "usage: consumer ARCHIVE KEY_FILE SOURCE_ROOT LIST\n");
        return 2;
    }
    if (zlk_version_number() != ZLK_VERSION_NUMBER || strcmp(zlk_version_string(), ZLK_VERSION_STRING) != 0) {
        fprintf(stderr, "consumer: the library is %s, the header %s\n", zlk_version_string(), ZLK_VERSION_STRING);
        return 1;
    }
    list = fopen(argv[4], "r");
    if (!list) {
        fprintf(stderr, "consumer: cannot read %s\n", argv[4]);
        return 1;
    }
    while (count < MAX_PATHS && fgets(paths[count], sizeof paths[count], list)) {
        paths[count][strcspn(paths[count], "\r\n")] = '\0';
        if (paths[count][0])
            ++count;
    }
    fclose(list);

    /* From the files. */
    if (zlk_open(argv[1], argv[2], &archive, &error) != ZLK_OK) {
        fprintf(stderr, "consumer: zlk_open: %s\n", error.message);
        return 1;
    }
    check_archive(archive, argv[3], paths, count);
    zlk_close(archive);

    /* From memory, through the caller's callbacks. */
    archive_file = load(argv[1], &archive_bytes.size);
    key_file = load(argv[2], &key_bytes.size);
    if (!archive_file || !key_file) {
        fprintf(stderr, "consumer: cannot load %s and %s\n", argv[1], argv[2]);
        return 1;
    }
    archive_bytes.bytes = archive_file;
    key_bytes.bytes = key_file;
    archive_source.opaque = &archive_bytes;
    archive_source.size = archive_bytes.size;
    archive_source.read_at = memory_read_at;
    archive_source.release = memory_release;
    key_source = archive_source;
    key_source.opaque = &key_bytes;
    key_source.size = key_bytes.size;
    if (zlk_open_source(&archive_source, &key_source, &archive, &error) != ZLK_OK) {
        fprintf(stderr, "consumer: zlk_open_source: %s\n", error.message);
        return 1;
    }
    check_archive(archive, argv[3], paths, count);
    zlk_close(archive);
    if (archive_bytes.bytes || key_bytes.bytes) {
        fprintf(stderr, "consumer: zlk_close did not release the sources\n");
        ++failures;
    }
    free(archive_file);
    free(key_file);

    /* A set through sources: linked and exported, and a manifest without
     * read_at is misuse. */
    {
        zlk_volume_sources volumes = {NULL, 1, NULL, NULL};
        zlk_source none = {NULL, 0, NULL, NULL};
        if (zlk_open_set_source(&none, &volumes, NULL, &archive, &error) != ZLK_MISUSE || archive) {
            fprintf(stderr, "consumer: zlk_open_set_source took a manifest without read_at\n");
            ++failures;
        }
    }

    if (failures)
        return 1;
    printf("consumer: %lu entries read back equal to their sources, from files and from memory (library %s)\n",
           (unsigned long)count, zlk_version_string());
    return 0;
}
