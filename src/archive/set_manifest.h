#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// The manifest of a volume set: the file NAME.pak.set beside the set's first
// volume NAME.pak, naming every volume of one build in order with its size, its
// number of entries and the digest of its records (RecordsDigest), so that a
// reader refuses a set with a volume missing, cut short, rebuilt or taken from
// another build, and says which. It also names the volumes of earlier builds
// that this build made obsolete and that may still lie beside it (a crash
// after the commit), so that the next build removes exactly those. The layout
// is in docs/format.md.
//
// Each volume is an archive of the format of its own, with its own key file
// when the set has key files; the manifest is read only by what reads a set.
//
// Decode trusts nothing: every field is checked against the limits of the
// format before anything is sized by it.
class SetManifest {
public:
    static constexpr std::uint32_t Magic = 0x534B4C5A;  // "ZLKS"
    static constexpr std::uint32_t Version = 1;
    // NAME.pak and NAME_001.pak to NAME_255.pak.
    static constexpr std::size_t MaxVolumes = 256;
    static constexpr std::size_t HeaderSize = 20;  // magic, version, volumes, retired, flags
    // The one flag: every volume has a key file.
    static constexpr std::uint32_t KeyFilesFlag = 1;
    static constexpr std::size_t ChecksumSize = 8;
    static constexpr std::size_t MaxNameLength = 255;
    static constexpr std::size_t VolumeFixedSize = 2 + 8 + 8 + 8 + 8;
    static constexpr std::size_t MaxSize =
        HeaderSize + 2 * MaxVolumes * (VolumeFixedSize + MaxNameLength) + ChecksumSize;
    // What the manifest's name adds to the first volume's.
    static constexpr std::string_view Suffix = ".set";

    struct Volume {
        std::string name;               // a bare file name, beside the manifest
        std::uint64_t size = 0;         // of the file, in bytes
        std::uint64_t entries = 0;      // that it holds
        std::uint64_t recordsHash = 0;  // RecordsDigest of its records
        std::uint64_t keyFileHash = 0;  // RecordsDigest::KeyFile of its key file's header; 0 without

        bool operator==(const Volume&) const = default;
    };

    bool keyFiles = false;        // every volume has a key file
    std::vector<Volume> volumes;  // in order, from the first
    std::vector<Volume> retired;  // of earlier builds, to remove where found as named

    std::vector<std::uint8_t> Encode() const;

    // Whether Decode holds the manifest's name to the first volume's.
    enum class NameCheck {
        FileName,  // `name` is the manifest's path: its last component is the first volume's name and Suffix
        None,      // `name` only names the manifest in messages (a caller's source has no file name)
    };

    // The manifest in `bytes`, read from the file named `name` (a path, for
    // messages; its last component must be the first volume's name followed by
    // Suffix, unless `check` is None). Throws ArchiveFormatError naming the
    // file and the fault.
    static SetManifest Decode(std::span<const std::uint8_t> bytes, const std::string& name,
                              NameCheck check = NameCheck::FileName);

    // The path of volume `volume` (from 0) of the set whose first volume is at
    // `first`: the first itself, then its name with "_001", "_002", ...
    // before the extension (the last dot of the name that does not start it):
    // game.pak, game_001.pak; data, data_001.
    static std::string VolumePath(const std::string& first, std::size_t volume);

    // The key file of volume `volume`, whose archive is at `volumeArchive`, in
    // a set whose first volume's archive and key file are `firstArchive` and
    // `firstKey`: beside the volume with KeyFileSuffix when the first one's is
    // (game_001.pak.zlk), otherwise numbered as VolumePath numbers it
    // (keys/game.key, keys/game_001.key).
    static std::string VolumeKeyPath(const std::string& firstArchive, const std::string& firstKey,
                                     const std::string& volumeArchive, std::size_t volume);

    // The manifest beside the first volume at `first`.
    static std::string PathFor(const std::string& first) { return first + std::string(Suffix); }
};

}  // namespace zelkor
