#include "library/callback_volumes.h"

#include <cstdint>
#include <utility>

#include "library/callback_source.h"
#include "reader/source_error.h"

namespace zelkor {

namespace {

void Release(zlk_source& source)
{
    if (source.release)
        source.release(source.opaque);
    source = {};
}

// Wraps `source` when it can be read, and then it is no longer the caller's
// to release here.
void Take(zlk_source& source, const std::string& name, std::unique_ptr<ByteSource>& into)
{
    if (!source.read_at)
        return;
    into = std::make_unique<CallbackSource>(source, name);
    source = {};
}

}  // namespace

CallbackVolumes::~CallbackVolumes()
{
    if (volumes_.release)
        volumes_.release(volumes_.opaque);
}

SetVolumes::Sources CallbackVolumes::Open(const SetVolumes& set, std::size_t volume) const
{
    zlk_source archive{};
    zlk_source keyFile{};
    // A set has at most 256 volumes.
    if (volumes_.open_volume(volumes_.opaque, static_cast<std::uint32_t>(volume), &archive, &keyFile) != 0)
        throw SourceError::CannotOpen(set.Name(volume));
    SetVolumes::Sources sources;
    try {
        Take(archive, set.ArchivePath(volume), sources.first);
        if (const std::string* keyPath = set.KeyPath(volume))
            Take(keyFile, *keyPath, sources.second);
    } catch (...) {
        Release(archive);
        Release(keyFile);
        throw;
    }
    // What was filled and not taken: a source without read_at, or a key file
    // for a set without them.
    Release(archive);
    Release(keyFile);
    if (!sources.first)
        throw SourceError::CannotOpen(set.Name(volume));
    if (set.HasKeyFiles() && !sources.second)
        throw SourceError::CannotOpen(set.Name(volume) + ": its key file " + *set.KeyPath(volume));
    return sources;
}

SetVolumes::Opener CallbackVolumes::Opener(std::shared_ptr<const CallbackVolumes> volumes)
{
    return [volumes = std::move(volumes)](const SetVolumes& set, std::size_t volume) {
        return volumes->Open(set, volume);
    };
}

}  // namespace zelkor
