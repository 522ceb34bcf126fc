#include "commandline/programarguments.h"

#include <cstdio>
#include <cstring>

int ProgramArguments::answer(int argc, char** argv, const char* program, const char* version, const char* usage)
{
    if (argc < 2)
        return -1;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", program, version);
        return 0;
    }
    std::fprintf(stderr, "%s: unknown argument \"%s\"; nothing started (%s --help)\n", program, argv[1], program);
    return 2;
}
