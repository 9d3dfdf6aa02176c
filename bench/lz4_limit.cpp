// The format's speed limit: LZ4 high compression at level 9, one block per file,
// over files already in memory, on one thread. Nothing around it (reading,
// hashing, encryption, writing) is timed, so no packer that compresses the same
// files the same way can beat it on one core.
//
//   lz4_limit LIST REPETITIONS
//
// LIST holds one path per line. Every file is read into memory first; then each
// repetition compresses every file once, in list order, and prints its wall
// time in seconds on a line of its own. The last line is "bytes N", the raw
// bytes compressed per repetition.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <lz4.h>
#include <lz4hc.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: lz4_limit LIST REPETITIONS\n";
        return 2;
    }
    std::ifstream list(argv[1]);
    const int repetitions = std::atoi(argv[2]);
    if (!list || repetitions < 1) {
        std::cerr << "cannot read " << argv[1] << " or bad repetition count\n";
        return 2;
    }

    std::vector<std::string> files;
    std::size_t largest = 0;
    unsigned long long bytes = 0;
    for (std::string path; std::getline(list, path);) {
        if (path.empty())
            continue;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << "cannot read " << path << "\n";
            return 1;
        }
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        largest = std::max(largest, files.back().size());
        bytes += files.back().size();
    }
    std::vector<char> output(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(largest))));

    unsigned long long produced = 0;
    for (int r = 0; r < repetitions; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& file : files)
            produced += static_cast<unsigned long long>(
                LZ4_compress_HC(file.data(), output.data(), static_cast<int>(file.size()),
                                static_cast<int>(output.size()), LZ4HC_CLEVEL_DEFAULT));
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        std::printf("%.6f\n", seconds.count());
        std::fflush(stdout);
    }
    // Printed so that the compression cannot be optimised away.
    std::fprintf(stderr, "compressed to %llu bytes per repetition\n", produced / repetitions);
    std::printf("bytes %llu\n", bytes);
    return 0;
}
