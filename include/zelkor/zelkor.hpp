/*
 * zelkor.hpp: a thin C++20 layer over zelkor.h, header-only. RAII for the
 * archive handle, std::span and std::string_view for buffers and paths,
 * statuses as values (no exceptions, so that it builds where they are off).
 * Every promise of zelkor.h holds: an open zlk::Archive may be read from any
 * number of threads at once through its const members.
 */
#ifndef ZELKOR_ZELKOR_HPP
#define ZELKOR_ZELKOR_HPP

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "zelkor/zelkor.h"

namespace zlk {

class Archive {
public:
    Archive() = default;
    ~Archive() { zlk_close(archive_); }
    Archive(Archive&& other) noexcept : archive_(std::exchange(other.archive_, nullptr)) {}
    Archive& operator=(Archive&& other) noexcept
    {
        if (this != &other) {
            zlk_close(archive_);
            archive_ = std::exchange(other.archive_, nullptr);
        }
        return *this;
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    /* Opens an archive (key_path null: none); on failure the archive is empty
     * and `error`, when given, says why. */
    static Archive open(const char* archive_path, const char* key_path, zlk_error* error = nullptr)
    {
        Archive archive;
        zlk_open(archive_path, key_path, &archive.archive_, error);
        return archive;
    }
    static Archive open(const zlk_source& source, const zlk_source* key_file, zlk_error* error = nullptr)
    {
        Archive archive;
        zlk_open_source(&source, key_file, &archive.archive_, error);
        return archive;
    }

    /* Opens a volume set through the caller's own I/O (zlk_open_set_source;
     * `options` null: the defaults). */
    static Archive open_set(const zlk_source& manifest, const zlk_volume_sources& volumes,
                            const zlk_open_options* options = nullptr, zlk_error* error = nullptr)
    {
        Archive archive;
        zlk_open_set_source(&manifest, &volumes, options, &archive.archive_, error);
        return archive;
    }

    explicit operator bool() const { return archive_ != nullptr; }
    const zlk_archive* get() const { return archive_; }

    std::uint64_t size() const { return zlk_entry_count(archive_); }

    std::optional<zlk_entry> entry(std::uint64_t index) const
    {
        zlk_entry entry;
        if (zlk_entry_at(archive_, index, &entry) != ZLK_OK)
            return std::nullopt;
        return entry;
    }

    std::optional<std::uint64_t> find(std::string_view path) const
    {
        std::uint64_t index;
        if (zlk_find(archive_, path.data(), path.size(), &index) != ZLK_OK)
            return std::nullopt;
        return index;
    }

    zlk_status read(std::uint64_t index, std::span<std::byte> buffer, zlk_error* error = nullptr) const
    {
        return zlk_read(archive_, index, buffer.data(), buffer.size(), error);
    }

    zlk_status read_range(std::uint64_t index, std::uint64_t offset, std::span<std::byte> buffer,
                          zlk_error* error = nullptr) const
    {
        return zlk_read_range(archive_, index, offset, buffer.data(), buffer.size(), error);
    }

private:
    zlk_archive* archive_ = nullptr;
};

inline std::uint32_t name_hash(std::string_view path)
{
    return zlk_name_hash(path.data(), path.size());
}

}  // namespace zlk

#endif /* ZELKOR_ZELKOR_HPP */
