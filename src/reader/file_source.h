#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "reader/byte_source.h"

namespace zelkor {

// A regular file as a byte source, read with positioned reads.
class FileSource : public ByteSource {
public:
    // Opens `path`, refusing anything but a regular file without waiting on it
    // (a FIFO is refused at once). Throws SourceError when it cannot.
    explicit FileSource(const std::string& path);

    std::uint64_t Size() const override { return size_; }
    const std::string& Name() const override { return file_.Path(); }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;

    // The file's status when it was opened.
    const FileStatus& Status() const { return status_; }

private:
    File file_;
    FileStatus status_;
    std::uint64_t size_ = 0;
};

}  // namespace zelkor
