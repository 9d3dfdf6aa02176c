// The record files of the compression cache (DIR/sources, DIR/builds), as a
// crafted or damaged one may hold anything. The input is a byte choosing the
// kind of file, eight bytes of the run's time, and a body, which is put in a
// whole file of this machine (so that the fuzzer need not find the checksum and
// the machine's identity); the bytes are also read as a file of their own.
// Decoding either refuses the bytes or yields records that encode back to what
// decodes the same; a table loaded from the file and used, recorded and
// written back at that time neither crashes nor overflows (UBSan).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/directory.h"
#include "platform/little_endian.h"
#include "records/build_records.h"
#include "records/record_file.h"
#include "records/record_table.h"
#include "records/status_records.h"
#include "scratch_dir.h"

namespace {

using zelkor::BuildRecords;
using zelkor::RecordFile;
using zelkor::RecordTable;
using zelkor::StatusRecords;

void CheckPayloads(const RecordTable::Records& records, std::uint32_t magic)
{
    for (const auto& [name, record] : records) {
        if (magic == StatusRecords::Magic) {
            if (const auto decoded = StatusRecords::Decode(record.payload)) {
                if (StatusRecords::Encode(*decoded) != record.payload)
                    std::abort();
            }
        } else if (const auto decoded = BuildRecords::Decode(record.payload)) {
            if (BuildRecords::Decode(BuildRecords::Encode(*decoded)) != decoded)
                std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const zelkor::fuzz::ScratchDir scratch;
    static const zelkor::Directory directory = *zelkor::Directory::Open(scratch.path().string());
    if (size < 9)
        return 0;
    const std::uint32_t magic = data[0] % 2 == 0 ? StatusRecords::Magic : BuildRecords::Magic;
    const auto now = static_cast<std::int64_t>(zelkor::DecodeFixed64(data + 1));
    const std::span<const std::uint8_t> body(data + 9, size - 9);

    // The bytes as a file of their own: refused, or a body no longer than they.
    if (const auto raw = RecordFile::Decode(std::span(data, size), magic); raw && raw->size() > size)
        std::abort();

    // The body in a whole file: it decodes back to itself, and its records
    // encode to a body that decodes to the same records.
    const std::vector<std::uint8_t> file = RecordFile::Encode(magic, body);
    const auto decoded = RecordFile::Decode(file, magic);
    if (!decoded || !std::equal(decoded->begin(), decoded->end(), body.begin(), body.end()))
        std::abort();
    if (const auto records = RecordTable::DecodeBody(body)) {
        const auto again = RecordTable::DecodeBody(RecordTable::EncodeBody(*records));
        if (!again || again->size() != records->size())
            std::abort();
        for (const auto& [name, record] : *records) {
            const auto found = again->find(name);
            if (found == again->end() || found->second.payload != record.payload || found->second.used != record.used)
                std::abort();
        }
        CheckPayloads(*records, magic);

        // Loaded by a run at `now`, each record used, one put, and written back
        // with the pruning that ages and bounds them.
        if (!RecordFile::Write(directory, "t", magic, body))
            std::abort();
        RecordTable table(directory, "t", magic, 64 * 1024, now);
        for (const auto& [name, record] : *records)
            table.Use(name);
        table.Put("/fuzz/new", std::vector<std::uint8_t>(4, 1));
        table.Flush();
    }
    return 0;
}
