#include "reader/file_source.h"

#include "reader/source_error.h"

namespace zelkor {

FileSource::FileSource(const std::string& path)
{
    file_ = File::OpenRegular(path, OpenFlags::Read, &status_);
    if (!file_.IsOpen())
        throw SourceError::CannotOpen(path);
    size_ = status_.size;
}

std::optional<std::size_t> FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    return file_.ReadAt(offset, buffer.data(), buffer.size());
}

}  // namespace zelkor
