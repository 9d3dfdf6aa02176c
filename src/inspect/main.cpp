#include <iostream>

#include "inspect/inspector.h"

int main(int argc, char** argv)
{
    return zelkor::RunInspector(argc, argv, std::cout, std::cerr);
}
