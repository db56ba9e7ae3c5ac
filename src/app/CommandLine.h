#pragma once
// The program's command line: --version and --help print and end the program before any
// window exists; any other option is refused. Arguments that are no option are left alone,
// as before.

#include <string>
#include <vector>

struct CommandLineOutcome {
    bool run = true;  // false: end at once with exitCode, after writing the texts
    int exitCode = 0;
    std::string standardOutput;
    std::string standardError;
};

// args: the arguments after the program's name, as given (UTF-8 on Linux).
CommandLineOutcome ParseCommandLine(const std::vector<std::string>& args);
