#include "driver/driver.h"
#include "platform/signal_cleanup.h"

int main(int argc, char** argv)
{
    zelkor::SignalCleanup::Install();
    return zelkor::RunArchiver(argc, argv);
}
