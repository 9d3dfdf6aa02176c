// The reader library measured side by side with the limits of its work and
// with PhysicsFS (make bench). Two modes, each printing one JSON object:
//
//   reader_bench read ARCHIVE KEY DEFLATED_ZIP STORED_ZIP REPS
//     RD   every entry read through the library (zlk_entry_at, zlk_read), one thread
//     RD2  the same on two threads, one open archive, each taking the next entry
//     LD   the in-memory limit of that work on one thread: the stored bytes already in
//          memory, AES-CFB decryption, LZ4 decoding and XXH32 of every entry, no I/O
//     PZ   PhysicsFS reading the same files from a zip of them (deflated), one thread
//     PZS  the same from a zip whose files are stored, for the I/O alone
//   Repetitions of the contenders are interleaved; the seconds of each are listed.
//
//   reader_bench set ARCHIVE KEY SET SET_KEY REPS
//     RA  the archive opened and every entry read through the library, one thread
//     RV  the same for a volume set of the same files (its first volume and key file)
//
//   reader_bench open ARCHIVE KEY ZIP NAMES REPS
//     open  zlk_open with the key file, then zlk_find of every name in NAMES
//     PZ    PhysicsFS mounting ZIP and opening (and closing) every name
//   with the library's memory after the open and after the names were loaded.
//
//   reader_bench mounts WHOLE PART1 PART2 PART3 NAMES REPS
//     F1  zlk_find of every name in NAMES in WHOLE, one archive of them all
//     M3  zlk_mounts_find of every name through a mount list of the three
//         PARTs (key files beside them), which hold the names between them
//
//   reader_bench physfs ARCHIVE REPS
//     RD  every entry found by its path and read through the library
//         (zlk_find, zlk_entry_at, zlk_read), one thread
//     PA  the same through PhysicsFS with the adapter (zelkor_physfs.h):
//         PHYSFS_openRead, PHYSFS_readBytes of the whole file, PHYSFS_close
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <lz4.h>
#include <physfs.h>
#include <xxhash.h>

#include "zelkor/zelkor.h"
#include "zelkor/zelkor_physfs.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

zlk_archive* Open(const std::string& archive, const std::string& key)
{
    zlk_archive* opened = nullptr;
    zlk_error error;
    if (zlk_open(archive.c_str(), key.c_str(), &opened, &error) != ZLK_OK)
        throw std::runtime_error(error.message);
    return opened;
}

struct Entry {
    std::string name;
    std::uint32_t rawSize = 0;
};

std::vector<Entry> Entries(zlk_archive* archive)
{
    std::vector<Entry> entries;
    for (std::uint64_t i = 0; i < zlk_entry_count(archive); ++i) {
        zlk_entry entry;
        if (zlk_entry_at(archive, i, &entry) != ZLK_OK || !entry.name)
            throw std::runtime_error("entry " + std::to_string(i) + " has no fields or no name");
        entries.push_back({std::string(entry.name, entry.name_length), entry.raw_size});
    }
    return entries;
}

// RD and RD2: every entry not yet taken by another thread, read through the
// library; the threads take the next entry as they finish one.
std::uint64_t ReadThrough(const zlk_archive* archive, std::atomic<std::uint64_t>& next, std::vector<char>& buffer)
{
    std::uint64_t bytes = 0;
    const std::uint64_t count = zlk_entry_count(archive);
    for (std::uint64_t i = next++; i < count; i = next++) {
        zlk_entry entry;
        zlk_error error;
        if (zlk_entry_at(archive, i, &entry) != ZLK_OK ||
            zlk_read(archive, i, buffer.data(), buffer.size(), &error) != ZLK_OK)
            throw std::runtime_error("read failed");
        bytes += entry.raw_size;
    }
    return bytes;
}

// LD: what reading every entry must do at least, done the straightforward way
// over stored bytes already in memory.
struct StoredEntry {
    std::string stored;
    std::uint32_t rawSize;
    std::uint32_t contentHash;
};

std::vector<StoredEntry> LoadStored(const std::string& archivePath, const std::string& keyPath, CryptoPP::byte key[32],
                                    CryptoPP::byte iv[16])
{
    const std::string archive = ReadFile(archivePath);
    const std::string keyFile = ReadFile(keyPath);
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<CryptoPP::byte>(archive[4 + i] ^ keyFile[i]);
    for (int i = 0; i < 16; ++i)
        iv[i] = static_cast<CryptoPP::byte>(archive[36 + i] ^ keyFile[32 + i]);
    std::vector<StoredEntry> entries;
    for (std::size_t at = 68; at + 20 <= archive.size();) {
        const std::uint32_t stored = Le32(archive, at + 12);
        entries.push_back({archive.substr(at + 20, stored), Le32(archive, at), Le32(archive, at + 4)});
        at += 20 + stored;
    }
    return entries;
}

std::uint64_t Limit(const std::vector<StoredEntry>& entries, const CryptoPP::byte key[32], const CryptoPP::byte iv[16],
                    std::vector<char>& scratch, std::vector<char>& buffer)
{
    std::uint64_t bytes = 0;
    for (const StoredEntry& entry : entries) {
        CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cipher(key, 32, iv);
        const auto* in = reinterpret_cast<const CryptoPP::byte*>(entry.stored.data());
        const char* raw = scratch.data();
        cipher.ProcessData(reinterpret_cast<CryptoPP::byte*>(scratch.data()), in, entry.stored.size());
        if (entry.stored.size() < entry.rawSize) {
            const int produced = LZ4_decompress_safe(scratch.data(), buffer.data(), static_cast<int>(entry.stored.size()),
                                                     static_cast<int>(entry.rawSize));
            if (produced != static_cast<int>(entry.rawSize))
                throw std::runtime_error("limit: bad block");
            raw = buffer.data();
        }
        if (XXH32(raw, entry.rawSize, 0x0A0FED0C) != entry.contentHash)
            throw std::runtime_error("limit: bad hash");
        bytes += entry.rawSize;
    }
    return bytes;
}

std::uint64_t ReadZip(const std::vector<Entry>& entries, std::vector<char>& buffer)
{
    std::uint64_t bytes = 0;
    for (const Entry& entry : entries) {
        PHYSFS_File* file = PHYSFS_openRead(entry.name.c_str());
        if (!file)
            throw std::runtime_error("PhysicsFS cannot open " + entry.name);
        const PHYSFS_sint64 got = PHYSFS_readBytes(file, buffer.data(), entry.rawSize);
        PHYSFS_close(file);
        if (got != static_cast<PHYSFS_sint64>(entry.rawSize))
            throw std::runtime_error("PhysicsFS read " + entry.name + " short");
        bytes += entry.rawSize;
    }
    return bytes;
}

void Mount(const std::string& zip)
{
    if (!PHYSFS_mount(zip.c_str(), nullptr, 0))
        throw std::runtime_error("PhysicsFS cannot mount " + zip);
}

void Unmount(const std::string& zip)
{
    PHYSFS_unmount(zip.c_str());
}

void PrintSeries(const char* name, const std::vector<double>& seconds, bool last = false)
{
    std::printf("  \"%s\": [", name);
    for (std::size_t i = 0; i < seconds.size(); ++i)
        std::printf("%s%.6f", i ? ", " : "", seconds[i]);
    std::printf("]%s\n", last ? "" : ",");
}

int ReadMode(char** argv)
{
    const std::string archivePath = argv[2], keyPath = argv[3], deflated = argv[4], stored = argv[5];
    const int reps = std::stoi(argv[6]);
    zlk_archive* archive = Open(archivePath, keyPath);
    const std::vector<Entry> entries = Entries(archive);
    std::uint32_t largest = 0;
    for (const Entry& entry : entries)
        largest = std::max(largest, entry.rawSize);
    std::vector<char> buffer(largest + 1, 1), second(largest + 1, 1), scratch(largest + 1, 1);
    CryptoPP::byte key[32], iv[16];
    const std::vector<StoredEntry> inMemory = LoadStored(archivePath, keyPath, key, iv);

    std::vector<double> rd, rd2, ld, pz, pzs;
    std::uint64_t bytes = 0;
    for (int rep = 0; rep < reps; ++rep) {
        std::atomic<std::uint64_t> next{0};
        auto start = Clock::now();
        bytes = ReadThrough(archive, next, buffer);
        rd.push_back(Seconds(start));

        next = 0;
        start = Clock::now();
        std::uint64_t other = 0;
        std::thread helper([&] { other = ReadThrough(archive, next, second); });
        const std::uint64_t mine = ReadThrough(archive, next, buffer);
        helper.join();
        rd2.push_back(Seconds(start));
        if (mine + other != bytes)
            throw std::runtime_error("two threads read other bytes than one");

        start = Clock::now();
        if (Limit(inMemory, key, iv, scratch, buffer) != bytes)
            throw std::runtime_error("the limit read other bytes");
        ld.push_back(Seconds(start));

        for (auto [zip, series] : {std::pair{&deflated, &pz}, std::pair{&stored, &pzs}}) {
            Mount(*zip);
            start = Clock::now();
            if (ReadZip(entries, buffer) != bytes)
                throw std::runtime_error("PhysicsFS read other bytes");
            series->push_back(Seconds(start));
            Unmount(*zip);
        }
    }
    std::printf("{\n  \"entries\": %zu,\n  \"bytes\": %llu,\n", entries.size(),
                static_cast<unsigned long long>(bytes));
    PrintSeries("RD", rd);
    PrintSeries("RD2", rd2);
    PrintSeries("LD", ld);
    PrintSeries("PZ", pz);
    PrintSeries("PZS", pzs, true);
    std::printf("}\n");
    zlk_close(archive);
    return 0;
}

// RA and RV: open, read every entry, close.
std::uint64_t OpenAndReadAll(const std::string& archivePath, const std::string& keyPath, std::vector<char>& buffer)
{
    zlk_archive* archive = Open(archivePath, keyPath);
    std::atomic<std::uint64_t> next{0};
    const std::uint64_t bytes = ReadThrough(archive, next, buffer);
    zlk_close(archive);
    return bytes;
}

int SetMode(char** argv)
{
    const std::string archivePath = argv[2], keyPath = argv[3], setPath = argv[4], setKeyPath = argv[5];
    const int reps = std::stoi(argv[6]);
    zlk_archive* set = Open(setPath, setKeyPath);
    const unsigned volumes = zlk_volume_count(set);
    std::uint32_t largest = 0;
    for (const Entry& entry : Entries(set))
        largest = std::max(largest, entry.rawSize);
    zlk_close(set);
    std::vector<char> buffer(largest + 1, 1);
    std::vector<double> ra, rv;
    std::uint64_t bytes = 0;
    for (int rep = 0; rep < reps; ++rep) {
        // A different one first each round.
        for (int turn = 0; turn < 2; ++turn) {
            const bool one = (turn + rep) % 2 == 0;
            const auto start = Clock::now();
            const std::uint64_t read = OpenAndReadAll(one ? archivePath : setPath, one ? keyPath : setKeyPath, buffer);
            (one ? ra : rv).push_back(Seconds(start));
            if (bytes != 0 && read != bytes)
                throw std::runtime_error("the set read other bytes than the archive");
            bytes = read;
        }
    }
    std::printf("{\n  \"volumes\": %u,\n  \"bytes\": %llu,\n", volumes, static_cast<unsigned long long>(bytes));
    PrintSeries("RA", ra);
    PrintSeries("RV", rv, true);
    std::printf("}\n");
    return 0;
}

int OpenMode(char** argv)
{
    const std::string archivePath = argv[2], keyPath = argv[3], zip = argv[4], namesPath = argv[5];
    const int reps = std::stoi(argv[6]);
    std::vector<std::string> names;
    std::ifstream in(namesPath);
    for (std::string line; std::getline(in, line);)
        names.push_back(line);

    std::vector<double> open, find, pzMount, pzOpen;
    std::size_t indexBytes = 0, withNames = 0;
    for (int rep = 0; rep < reps; ++rep) {
        auto start = Clock::now();
        zlk_archive* archive = Open(archivePath, keyPath);
        open.push_back(Seconds(start));
        indexBytes = zlk_memory_use(archive);
        start = Clock::now();
        for (const std::string& name : names) {
            std::uint64_t index;
            if (zlk_find(archive, name.data(), name.size(), &index) != ZLK_OK)
                throw std::runtime_error("not found: " + name);
        }
        find.push_back(Seconds(start));
        withNames = zlk_memory_use(archive);
        zlk_close(archive);

        start = Clock::now();
        Mount(zip);
        pzMount.push_back(Seconds(start));
        start = Clock::now();
        for (const std::string& name : names) {
            PHYSFS_File* file = PHYSFS_openRead(name.c_str());
            if (!file)
                throw std::runtime_error("PhysicsFS cannot open " + name);
            PHYSFS_close(file);
        }
        pzOpen.push_back(Seconds(start));
        Unmount(zip);
    }
    std::printf("{\n  \"entries\": %zu,\n  \"indexBytes\": %zu,\n  \"withNamesBytes\": %zu,\n", names.size(),
                indexBytes, withNames);
    PrintSeries("open", open);
    PrintSeries("find", find);
    PrintSeries("PZmount", pzMount);
    PrintSeries("PZopen", pzOpen, true);
    std::printf("}\n");
    return 0;
}

std::vector<std::string> ReadNames(const std::string& path)
{
    std::vector<std::string> names;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        names.push_back(line);
    return names;
}

int MountsMode(char** argv)
{
    const std::string whole = argv[2];
    const std::vector<std::string> parts = {argv[3], argv[4], argv[5]};
    const std::vector<std::string> names = ReadNames(argv[6]);
    const int reps = std::stoi(argv[7]);
    zlk_archive* archive = Open(whole, whole + ".zlk");
    zlk_mounts* mounts = nullptr;
    zlk_mounts_create(&mounts);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        zlk_error error;
        if (zlk_mount(mounts, parts[i].c_str(), nullptr, static_cast<int>(i), &error) != ZLK_OK)
            throw std::runtime_error(error.message);
    }
    std::vector<double> f1, m3;
    std::uint64_t checksum = 0;
    for (int rep = 0; rep < reps; ++rep) {
        auto start = Clock::now();
        for (const std::string& name : names) {
            std::uint64_t index;
            if (zlk_find(archive, name.data(), name.size(), &index) != ZLK_OK)
                throw std::runtime_error("not found: " + name);
            checksum += index;
        }
        f1.push_back(Seconds(start));
        start = Clock::now();
        for (const std::string& name : names) {
            const zlk_archive* from;
            std::uint64_t index;
            if (zlk_mounts_find(mounts, name.data(), name.size(), &from, &index) != ZLK_OK)
                throw std::runtime_error("not found through the mounts: " + name);
            checksum += index;
        }
        m3.push_back(Seconds(start));
    }
    std::printf("{\n  \"entries\": %zu,\n  \"checksum\": %llu,\n", names.size(),
                static_cast<unsigned long long>(checksum));
    PrintSeries("F1", f1);
    PrintSeries("M3", m3, true);
    std::printf("}\n");
    zlk_mounts_destroy(mounts);
    zlk_close(archive);
    return 0;
}

int PhysfsMode(char** argv)
{
    const std::string archivePath = argv[2];
    const int reps = std::stoi(argv[3]);
    zlk_archive* archive = Open(archivePath, archivePath + ".zlk");
    const std::vector<Entry> entries = Entries(archive);
    std::uint32_t largest = 0;
    for (const Entry& entry : entries)
        largest = std::max(largest, entry.rawSize);
    std::vector<char> buffer(largest + 1, 1);
    if (!zlk_physfs_register())
        throw std::runtime_error("the adapter does not register");
    Mount(archivePath);
    std::vector<double> rd, pa;
    std::uint64_t bytes = 0;
    for (int rep = 0; rep < reps; ++rep) {
        auto start = Clock::now();
        bytes = 0;
        for (const Entry& entry : entries) {
            std::uint64_t index;
            zlk_entry fields;
            zlk_error error;
            if (zlk_find(archive, entry.name.data(), entry.name.size(), &index) != ZLK_OK ||
                zlk_entry_at(archive, index, &fields) != ZLK_OK ||
                zlk_read(archive, index, buffer.data(), fields.raw_size, &error) != ZLK_OK)
                throw std::runtime_error("the library cannot read " + entry.name);
            bytes += fields.raw_size;
        }
        rd.push_back(Seconds(start));
        start = Clock::now();
        if (ReadZip(entries, buffer) != bytes)
            throw std::runtime_error("the adapter read other bytes");
        pa.push_back(Seconds(start));
    }
    Unmount(archivePath);
    std::printf("{\n  \"entries\": %zu,\n  \"bytes\": %llu,\n", entries.size(), static_cast<unsigned long long>(bytes));
    PrintSeries("RD", rd);
    PrintSeries("PA", pa, true);
    std::printf("}\n");
    zlk_close(archive);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        if (!PHYSFS_init(argv[0]))
            throw std::runtime_error("PhysicsFS does not start");
        int status = 2;
        if (argc == 7 && std::string(argv[1]) == "read")
            status = ReadMode(argv);
        else if (argc == 7 && std::string(argv[1]) == "open")
            status = OpenMode(argv);
        else if (argc == 7 && std::string(argv[1]) == "set")
            status = SetMode(argv);
        else if (argc == 8 && std::string(argv[1]) == "mounts")
            status = MountsMode(argv);
        else if (argc == 4 && std::string(argv[1]) == "physfs")
            status = PhysfsMode(argv);
        else
            std::fprintf(stderr, "usage: reader_bench read ARCHIVE KEY DEFLATED_ZIP STORED_ZIP REPS\n"
                                 "       reader_bench set ARCHIVE KEY SET SET_KEY REPS\n"
                                 "       reader_bench open ARCHIVE KEY ZIP NAMES REPS\n"
                                 "       reader_bench mounts WHOLE PART1 PART2 PART3 NAMES REPS\n"
                                 "       reader_bench physfs ARCHIVE REPS\n");
        PHYSFS_deinit();
        return status;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "reader_bench: %s\n", failure.what());
        return 1;
    }
}
