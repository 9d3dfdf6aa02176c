#pragma once

#include <string>

#include "reader/byte_source.h"
#include "zelkor/zelkor.h"

namespace zelkor {

// A caller's zlk_source as a byte source. Takes the source: its release is
// called when this goes.
class CallbackSource : public ByteSource {
public:
    CallbackSource(const zlk_source& source, std::string name);
    ~CallbackSource() override;
    CallbackSource(const CallbackSource&) = delete;
    CallbackSource& operator=(const CallbackSource&) = delete;

    std::uint64_t Size() const override { return source_.size; }
    const std::string& Name() const override { return name_; }
    // Calls read_at until the piece is whole or the source ends; nothing when
    // it fails or says it read more than it was asked.
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;

private:
    zlk_source source_;
    std::string name_;
};

}  // namespace zelkor
