// SignalCleanup: at a request to stop, the decided commits' files reach their
// targets before the files being written are removed, and nothing else is
// touched.
#include "output/signal_cleanup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zelkor {
namespace {

// What the handler was asked to do, of this test's paths (a plain function
// pointer carries no state of its own).
std::vector<std::string> calls;
const std::string Here = "signal-cleanup-test/";

void Place(const char* temporary, const char* target)
{
    if (std::string(temporary).starts_with(Here))
        calls.push_back("place " + std::string(temporary) + " " + target);
}

void Remove(const char* path)
{
    if (std::string(path).starts_with(Here))
        calls.push_back("remove " + std::string(path));
}

TEST(SignalCleanupTest, CompletesFirstThenRemovesWhatIsStillCovered)
{
    SignalCleanup::Registration writing(Here + ".a.zelkor-1");
    SignalCleanup::Registration released(Here + ".b.zelkor-2");
    released.Release();
    SignalCleanup::Registration nothing("");
    SignalCleanup::Registration moved = SignalCleanup::Registration(Here + ".c.zelkor-3");
    SignalCleanup::Completion completion(
        {{Here + ".x.zelkor-4", Here + "x"}, {"", Here + "skipped"}, {Here + ".y.zelkor-5", Here + "y"}});
    calls.clear();
    SignalCleanup::CompleteAndRemove(Place, Remove);
    EXPECT_EQ(calls, (std::vector<std::string>{"place " + Here + ".x.zelkor-4 " + Here + "x",
                                               "place " + Here + ".y.zelkor-5 " + Here + "y",
                                               "remove " + Here + ".a.zelkor-1", "remove " + Here + ".c.zelkor-3"}));

    completion.Release();
    writing = SignalCleanup::Registration();
    calls.clear();
    SignalCleanup::CompleteAndRemove(Place, Remove);
    EXPECT_EQ(calls, (std::vector<std::string>{"remove " + Here + ".c.zelkor-3"}));
}

}  // namespace
}  // namespace zelkor
