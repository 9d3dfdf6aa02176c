#include "inspect/key_file_options.h"

namespace zelkor {

void KeyFileOptions::AddTo(CommandOptions::Verb& command, const std::string& prefix, const std::string& archive)
{
    // A callback rather than a bound string, so that `--key ""` still counts as
    // given once the parser is gone.
    const int key = command.OptionTo(
        "--" + prefix + "key",
        [this](const std::string& path) {
            keyPath_ = path;
            given_ = true;
        },
        "The key file of " + archive + ", which holds the names and the second key share (default: " + archive +
            ".zlk when that file exists, otherwise none)",
        "FILE");
    const int noKey = command.Flag("--" + prefix + "no-key", none_, "Read " + archive + " alone, without a key file");
    command.Excludes(key, noKey);
}

namespace {

InspectedArchive::KeyChoice Choice(bool given, bool none)
{
    return given ? InspectedArchive::KeyChoice::Given
           : none ? InspectedArchive::KeyChoice::None
                  : InspectedArchive::KeyChoice::Default;
}

}  // namespace

InspectedArchive KeyFileOptions::Open(const std::string& path) const
{
    return InspectedArchive(path, Choice(given_, none_), keyPath_);
}

std::optional<std::string> KeyFileOptions::KeyFileFor(const std::string& path) const
{
    return InspectedArchive::ChooseKeyFile(path, Choice(given_, none_), keyPath_);
}

}  // namespace zelkor
