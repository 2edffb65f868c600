#include "helper/link_helper.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("brennic-link %s\n", BRENNIC_VERSION);
        return 0;
    }
    return linkHelperMain();
}
