#pragma once

// What the library's tests pack and read back, and the read that many threads
// make of one open archive at once (run under ThreadSanitizer in CI).
#include "zelkor/zelkor.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace zelkor::testing {

struct Source {
    std::string name;
    std::string content;
};

// From `threads` threads at once, each starting at an entry of its own, finds
// every source by name and reads it whole, `rounds` times over; the number of
// finds and reads that failed or gave other bytes.
inline int ReadFromThreads(const zlk_archive* archive, const std::vector<Source>& sources, int threads, int rounds)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                for (std::size_t i = 0; i < sources.size(); ++i) {
                    const Source& source = sources[(i + static_cast<std::size_t>(t)) % sources.size()];
                    std::uint64_t index = 0;
                    std::string content(source.content.size(), '\0');
                    zlk_error error;
                    if (zlk_find(archive, source.name.data(), source.name.size(), &index) != ZLK_OK ||
                        zlk_read(archive, index, content.data(), content.size(), &error) != ZLK_OK ||
                        content != source.content)
                        ++failures;
                }
            }
        });
    }
    for (std::thread& thread : running)
        thread.join();
    return failures.load();
}

}  // namespace zelkor::testing
