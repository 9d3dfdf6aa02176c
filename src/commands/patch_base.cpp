#include "commands/patch_base.h"

#include <exception>
#include <unordered_set>

#include "output/joint_commit.h"
#include "platform/file_system.h"
#include "reader/file_source.h"
#include "reader/volume_set.h"
#include "runtime/messages.h"
#include "script/script_vocabulary.h"

namespace zelkor {

PatchBase::PatchBase(std::unique_ptr<ReadableArchive> archive)
    : archive_(std::move(archive)), identity_(archive_->Identity())
{
}

std::unique_ptr<PatchBase> PatchBase::Open(const NamedPath& base, std::string& failure)
{
    const std::string keyPath = base.path + std::string(vocabulary::DefaultKeySuffix);
    try {
        JointCommit::Complete(base.path);
        if (StatusOf(base.path) && !StatusOf(keyPath)) {
            failure = message::PatchBaseHasNoKeyFile(base.shown, base.shown + std::string(vocabulary::DefaultKeySuffix));
            return nullptr;
        }
        // A volume set, named by its first volume, is read whole.
        return std::unique_ptr<PatchBase>(new PatchBase(VolumeSet::OpenArchiveOrSet(base.path, &keyPath)));
    } catch (const std::exception&) {
        // Missing, unreadable, damaged, or a key file of another archive.
        failure = message::CannotReadPatchBase(base.shown);
        return nullptr;
    }
}

PatchBase::Verdict PatchBase::Judge(const std::string& name, std::uint64_t rawSize, std::uint32_t contentHash)
{
    const std::string normal = NormalizeName(name);
    if (const auto earlier = decided_.find(normal); earlier != decided_.end())
        return earlier->second ? Verdict::Store : Verdict::Skip;
    if (const std::optional<std::uint64_t> index = archive_->Find(name)) {
        const FileEntry fields = archive_->Fields(*index);
        if (fields.rawSize == rawSize && fields.contentHash == contentHash) {
            decided_.emplace(normal, false);
            return Verdict::Skip;
        }
    }
    return Verdict::Store;
}

void PatchBase::Stored(const std::string& name)
{
    decided_.emplace(NormalizeName(name), true);
}

std::vector<std::string> PatchBase::Deleted() const
{
    std::vector<std::uint32_t> hashes(archive_->EntryCount());
    archive_->VisitNameHashes([&](std::uint32_t hash, std::uint64_t index) { hashes[index] = hash; });
    std::vector<std::string> deleted;
    std::unordered_set<std::string> named;
    for (std::uint64_t i = 0; i < hashes.size(); ++i) {
        const std::optional<std::string_view> name = archive_->NameAt(i);
        if (!name || NameHash(*name) != hashes[i])
            continue;
        std::string normal = NormalizeName(*name);
        if (decided_.count(normal) == 0 && named.insert(std::move(normal)).second)
            deleted.emplace_back(*name);
    }
    return deleted;
}

}  // namespace zelkor
