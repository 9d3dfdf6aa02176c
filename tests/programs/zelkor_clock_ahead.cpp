// The archiver with its wall clock run ahead of the system's by the
// milliseconds ZELKOR_TEST_CLOCK_AHEAD_MS gives (behind when negative, as the
// system's when unset): sources written just before a run lie that long back
// for it, so that tests see them settled without waiting for the time to pass.
#include <optional>
#include <string>

#include "driver/driver.h"
#include "platform/environment.h"
#include "platform/wall_clock.h"

int main(int argc, char** argv)
{
    if (const std::optional<std::string> ahead = zelkor::EnvironmentVariable("ZELKOR_TEST_CLOCK_AHEAD_MS"))
        zelkor::RunWallClockAhead(std::stoll(*ahead) * 1'000'000);
    return zelkor::RunArchiverAsMain(argc, argv);
}
