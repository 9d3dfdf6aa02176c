// Any bytes as a commit record found beside an archive: Decode refuses them,
// or gives a record that can only rename temporary files of its targets beside
// them, and encodes back to the same bytes. The bytes are tried as they are and
// with their checksum made right, so that the fuzzer reaches past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "output/commit_record.h"
#include "output/output_guard.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"

namespace {

const std::string RecordName = zelkor::CommitRecord::NameFor("a.pak");

void Check(const std::vector<std::uint8_t>& bytes)
{
    const std::optional<zelkor::CommitRecord> record = zelkor::CommitRecord::Decode(bytes, RecordName);
    if (!record)
        return;
    const auto& pairs = record->pairs;
    if (pairs.empty() || pairs.size() > zelkor::CommitRecord::MaxPairs || pairs.back().target != "a.pak")
        std::abort();
    for (const auto& pair : pairs) {
        const std::string name = zelkor::NamePart(pair.target);
        if ((name != pair.target && !zelkor::IsAbsolutePath(pair.target)) || name.empty() || name == "." ||
            name == ".." || zelkor::NamePart(pair.temporary) != pair.temporary ||
            !zelkor::OutputGuard::IsTemporaryName(pair.temporary, name))
            std::abort();
    }
    if (record->Encode() != bytes)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    Check(bytes);
    if (size >= 4) {
        // FNV-1a of everything before the last four bytes, as the record's own.
        std::uint32_t hash = 2166136261u;
        for (std::size_t i = 0; i + 4 < size; ++i)
            hash = (hash ^ bytes[i]) * 16777619u;
        zelkor::EncodeFixed32(bytes.data() + size - 4, hash);
        Check(bytes);
    }
    return 0;
}
