#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "archive/entry_stream.h"
#include "platform/file.h"

namespace zelkor {

// A source stored as it is, read from its open file a piece at a time, so that
// no buffer holds the whole file: once to measure it where it is loaded, and
// once more while the archive writer writes it.
//
// Owns the file. Used by one thread at a time.
class StreamedSource final : public EntryStream {
public:
    // The bytes read at a time.
    static constexpr std::size_t Piece = 1024 * 1024;

    explicit StreamedSource(File file);

    bool Measure(std::uint64_t& size, std::uint32_t& contentHash) override;
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> piece) override;

    const File& Source() const { return file_; }

private:
    File file_;
    std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace zelkor
