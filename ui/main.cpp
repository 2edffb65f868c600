#include "ui/start.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("brennic %s\n", BRENNIC_VERSION);
        return 0;
    }
    return runBrennic(argc, argv, runSheetModule);
}
