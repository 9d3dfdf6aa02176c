#include "reader/set_reader.h"

namespace zelkor {

SetReader::SetReader(const std::string& archivePath, const std::string* keyPath)
{
    readers_.push_back(std::make_unique<ArchiveReader>(archivePath, keyPath));
    firsts_ = {0, readers_.front()->EntryCount()};
    size_ = readers_.front()->ArchiveSize();
}

SetReader::SetReader(SetVolumes volumes) : volumes_(std::move(volumes))
{
    firsts_.push_back(0);
    for (std::size_t volume = 0; volume < volumes_->Count(); ++volume) {
        auto [archive, keyFile] = volumes_->Open(volume);
        SetVolumes::Observer observer;
        readers_.push_back(std::make_unique<ArchiveReader>(std::move(archive), std::move(keyFile), &observer));
        volumes_->Check(volume, observer, readers_.back()->KeyHeader());
        firsts_.push_back(firsts_.back() + readers_.back()->EntryCount());
        size_ += readers_.back()->ArchiveSize();
    }
}

bool SetReader::Walk::Next(ArchiveReader::Entry& entry)
{
    while (volume_ < reader_->readers_.size()) {
        if (!walk_) {
            const ArchiveReader& volume = *reader_->readers_[volume_];
            walk_.emplace(names_ ? volume.Entries() : volume.Records());
        }
        if (walk_->Next(entry)) {
            entry.position.volume = static_cast<std::uint32_t>(volume_);
            entry.position.index += reader_->firsts_[volume_];
            return true;
        }
        walk_.reset();
        ++volume_;
    }
    return false;
}

ArchiveReader::Position SetReader::Local(const ArchiveReader::Position& position, std::uint64_t first)
{
    ArchiveReader::Position local = position;
    local.index -= first;
    local.volume = 0;
    return local;
}

ArchiveReader::Entry SetReader::ReadEntry(const ArchiveReader::Position& position) const
{
    ArchiveReader::Entry entry =
        readers_[position.volume]->ReadEntry(Local(position, firsts_[position.volume]));
    entry.position = position;
    return entry;
}

ArchiveReader::ContentStatus SetReader::ReadContent(const ArchiveReader::Entry& entry,
                                                    std::vector<std::uint8_t>& content) const
{
    return readers_[entry.position.volume]->ReadContent(entry, content);
}

ArchiveReader::ContentStatus SetReader::ReadContent(const ArchiveReader::Entry& entry, std::vector<std::uint8_t>& content,
                                                    const ArchiveKey& key) const
{
    return readers_[entry.position.volume]->ReadContent(entry, content, key);
}

}  // namespace zelkor
