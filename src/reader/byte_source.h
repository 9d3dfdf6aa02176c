#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zelkor {

// The bytes of an archive or a key file as a reader takes them: read by
// position, so that any number of threads may read one source at once, and
// never trusted to hold what their size says.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The size the source had when it was opened.
    virtual std::uint64_t Size() const = 0;

    // How messages name the source: a path, or what the caller called it.
    virtual const std::string& Name() const = 0;

    // Reads up to `buffer.size()` bytes at `offset`, fewer only where the source
    // ends. Nothing on a read error. Safe on several threads at once.
    virtual std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const = 0;
};

}  // namespace zelkor
