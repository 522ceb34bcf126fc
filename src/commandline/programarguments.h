#pragma once
// The command line of the two programs, which take no arguments: --help
// (or -h) prints the usage and --version the version, both on standard
// output; anything else is refused on standard error. Either way the
// program ends before it touches anything (no data root, no log, no port).
class ProgramArguments {
public:
    // The exit code to end with (0 answered, 2 refused), or -1 when there
    // are no arguments and the program is to start.
    static int answer(int argc, char** argv, const char* program, const char* version, const char* usage);
};
