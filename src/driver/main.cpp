#include "driver/driver.h"

int main(int argc, char** argv)
{
    return zelkor::RunArchiverAsMain(argc, argv);
}
