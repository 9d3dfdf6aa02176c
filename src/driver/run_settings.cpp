#include "driver/run_settings.h"

#include <list>

#include "platform/environment.h"
#include "runtime/messages.h"
#include "store/cache_settings.h"

namespace zelkor {

namespace {

// Physical memory taken when the system does not say.
constexpr std::uint64_t AssumedPhysicalMemory = std::uint64_t{4} << 30;

std::optional<unsigned> ParseThreads(std::string_view text)
{
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > RunSettings::MaxThreads)
        return std::nullopt;
    return value;
}

}  // namespace

RunSettings RunSettings::FromEnvironment(const Lookup& lookup)
{
    RunSettings settings;
    if (const char* threads = lookup("ZELKOR_THREADS"); threads && *threads) {
        if (const std::optional<unsigned> parsed = ParseThreads(threads))
            settings.threads = *parsed;
        else
            settings.badThreads = threads;
    }
    if (const char* memory = lookup("ZELKOR_MEMORY"); memory && *memory) {
        // A budget of nothing would admit one source at a time however small:
        // more likely a typing error than a wish.
        const std::optional<std::uint64_t> parsed = CacheSettings::ParseSize(memory);
        if (parsed && *parsed > 0)
            settings.memory = *parsed;
        else
            settings.badMemory = memory;
    }
    return settings;
}

RunSettings RunSettings::FromEnvironment()
{
    // The values as the platform reads them, kept here while they are read.
    std::list<std::string> values;
    return FromEnvironment([&values](const char* name) -> const char* {
        std::optional<std::string> value = EnvironmentVariable(name);
        return value ? values.emplace_back(std::move(*value)).c_str() : nullptr;
    });
}

std::vector<std::string> RunSettings::Warnings() const
{
    std::vector<std::string> warnings;
    if (!badThreads.empty())
        warnings.push_back(message::ThreadsNotANumber(badThreads));
    if (!badMemory.empty())
        warnings.push_back(message::MemoryNotASize(badMemory));
    return warnings;
}

std::uint64_t RunSettings::MemoryBudget(std::uint64_t physical) const
{
    if (memory)
        return *memory;
    return (physical != 0 ? physical : AssumedPhysicalMemory) / 2;
}

}  // namespace zelkor
