#pragma once

#include <memory>

#include "library/hook_memory.h"
#include "reader/readable_archive.h"
#include "zelkor/zelkor.h"

namespace zelkor {
class VolumeSet;
}

// What a zlk_archive is: the archive, and the memory (the caller's hooks, or
// malloc) that it and the handle itself come from. NewHandle and DeleteHandle
// make and destroy it in that memory.
struct zlk_archive {
    explicit zlk_archive(const zlk_allocator* hooks)
        : memory(hooks), hooks(hooks ? *hooks : zlk_allocator{}), hooked(hooks)
    {
    }

    zelkor::HookMemory memory;
    zlk_allocator hooks;
    bool hooked;
    std::unique_ptr<zelkor::ReadableArchive> archive;
    zelkor::VolumeSet* set = nullptr;  // the archive, when it is a volume set
};

namespace zelkor {

// A new archive handle with the hooks, or null when its memory cannot be had.
zlk_archive* NewHandle(const zlk_allocator* hooks);
void DeleteHandle(zlk_archive* archive);

}  // namespace zelkor
