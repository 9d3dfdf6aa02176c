#include "inspect/entry_walk.h"

#include <iostream>

#include "archive/archive_format.h"

namespace zelkor {

namespace {

// Archives from this size on show a status line while they are walked.
constexpr std::uint64_t ProgressFrom = 64 * 1024 * 1024;

// Lines written to it appear above a progress line.
class AboveProgress : public std::streambuf {
public:
    explicit AboveProgress(ProgressLine& progress) : progress_(progress) {}

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        line_ += static_cast<char>(c);
        if (c == '\n') {
            progress_.WriteAbove(line_);
            line_.clear();
        }
        return c;
    }

private:
    ProgressLine& progress_;
    std::string line_;
};

// A status line only on the process's own standard error, and only there when
// it is a terminal.
std::unique_ptr<ProgressLine> StartProgress(const InspectedArchive& archive, const std::ostream& err)
{
    const SetReader& reader = archive.Reader();
    if (reader.ArchiveSize() <= ProgressFrom || err.rdbuf() != std::cerr.rdbuf())
        return nullptr;
    return ProgressLine::ForStandardError("entries", reader.EntryCount(), reader.ArchiveSize());
}

}  // namespace

EntryWalk::EntryWalk(const InspectedArchive& archive, EntrySelector& selector, std::ostream& err)
    : archive_(archive),
      selector_(selector),
      walk_(archive.Reader().Entries()),
      progress_(StartProgress(archive, err)),
      above_(progress_ ? std::make_unique<AboveProgress>(*progress_) : nullptr),
      plain_(err.rdbuf()),
      messages_(above_ ? above_.get() : plain_)
{
}

EntryWalk::~EntryWalk()
{
    Finish();
}

bool EntryWalk::Next(ArchiveReader::Entry& entry)
{
    while (walk_.Next(entry)) {
        if (progress_)
            progress_->Advance(1, FileEntry::Size + entry.fields.storedSize);
        if (selector_.Selects(entry.name)) {
            ++selected_;
            return true;
        }
    }
    return false;
}

ArchiveReader::ContentStatus EntryWalk::Decode(const ArchiveReader::Entry& entry, std::vector<std::uint8_t>& content)
{
    const ArchiveReader::ContentStatus status = archive_.Reader().ReadContent(entry, content);
    // An empty entry decodes with any key, so only entries with content tell.
    if (entry.fields.rawSize > 0) {
        ++withContent_;
        if (status != ArchiveReader::ContentStatus::Ok) {
            ++undecodable_;
            if (!failed_)
                failed_ = entry;
        }
    }
    return status;
}

std::optional<std::string> EntryWalk::Hint() const
{
    if (!failed_ || undecodable_ != withContent_)
        return std::nullopt;
    return archive_.KeyFileHint(withContent_, *failed_);
}

void EntryWalk::Finish()
{
    if (!progress_)
        return;
    // Lines written after this go straight to the message stream.
    messages_.flush();
    messages_.rdbuf(plain_);
    above_.reset();
    progress_.reset();
}

}  // namespace zelkor
