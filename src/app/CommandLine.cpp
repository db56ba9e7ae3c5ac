#include "app/CommandLine.h"

#include "base/Unicode.h"
#include "resources/DialogTemplates.h"

namespace {

std::string HelpText()
{
    return "Usage: perennix [--version | --help]\n"
           "\n"
           "Perennix keeps one program running: while guarding is on it checks at a set interval\n"
           "whether a process of the configured image name exists and starts the program again\n"
           "when none does; it can also restart it every day at set times. The settings are made\n"
           "in its window and kept in config.ini, with the run log log.txt, beside the program\n"
           "(in $XDG_CONFIG_HOME/perennix when that folder is not writable and holds no config.ini).\n"
           "\n"
           "  --version  print the version and exit\n"
           "  --help     print this help and exit\n";
}

}  // namespace

CommandLineOutcome ParseCommandLine(const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (arg == "--version")
            return {false, 0, "perennix " + px::ToUtf8(ProgramVersion()) + "\n", {}};
        if (arg == "--help")
            return {false, 0, HelpText(), {}};
        // "--" ends the options; a lone "-" is no option.
        if (arg == "--")
            break;
        if (arg.size() > 1 && arg[0] == '-')
            return {false, 2, {}, "perennix: unknown option '" + arg + "'\nTry 'perennix --help' for the options.\n"};
    }
    return {};
}
