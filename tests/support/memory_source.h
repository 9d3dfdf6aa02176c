#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "reader/byte_source.h"

namespace zelkor::testing {

// Bytes held in memory as a byte source, for readers under test.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes, std::string name = "memory")
        : bytes_(std::move(bytes)), name_(std::move(name))
    {
    }

    std::uint64_t Size() const override { return bytes_.size(); }
    const std::string& Name() const override { return name_; }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override
    {
        if (offset >= bytes_.size())
            return 0;
        const std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
        std::memcpy(buffer.data(), bytes_.data() + offset, count);
        return count;
    }

private:
    std::string bytes_;
    std::string name_;
};

}  // namespace zelkor::testing
