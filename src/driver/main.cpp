#include "driver/driver.h"

int main(int argc, char** argv)
{
    return zelkor::RunArchiver(argc, argv);
}
