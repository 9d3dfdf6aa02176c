#pragma once

#include <cstddef>
#include <memory>

#include "reader/set_volumes.h"
#include "zelkor/zelkor.h"

namespace zelkor {

// A caller's zlk_volume_sources as the opener of a set's volumes. Takes them:
// their release is called when this goes. Every source that open_volume fills
// is taken too, and released through its own release, whether it is kept or
// not.
class CallbackVolumes {
public:
    explicit CallbackVolumes(const zlk_volume_sources& volumes) : volumes_(volumes) {}
    ~CallbackVolumes();
    CallbackVolumes(const CallbackVolumes&) = delete;
    CallbackVolumes& operator=(const CallbackVolumes&) = delete;

    bool KeyFiles() const { return volumes_.with_key_files != 0; }

    // Volume `volume` of `set` through open_volume, its sources named as the
    // set names its files. Throws SourceError naming the volume when
    // open_volume fails, or fills no archive (or, in a set with key files, no
    // key file).
    SetVolumes::Sources Open(const SetVolumes& set, std::size_t volume) const;

    // An opener for SetVolumes that shares `volumes`: they are released when
    // the last copy goes.
    static SetVolumes::Opener Opener(std::shared_ptr<const CallbackVolumes> volumes);

private:
    zlk_volume_sources volumes_;
};

}  // namespace zelkor
