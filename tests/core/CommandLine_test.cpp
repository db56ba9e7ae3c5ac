// The command line: what each argument list prints, and whether the program runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "base/Unicode.h"
#include "resources/DialogTemplates.h"

namespace {

TEST(CommandLine, PrintsEndsRefusesOrRuns)
{
    const std::string version = "perennix " + px::ToUtf8(ProgramVersion()) + "\n";
    const std::string unknown = "\nTry 'perennix --help' for the options.\n";
    struct Case {
        std::vector<std::string> args;
        bool run;
        int exitCode;
        std::string out;  // "<help>": the help text
        std::string err;
    };
    const Case cases[] = {
        {{}, true, 0, "", ""},
        {{"--version"}, false, 0, version, ""},
        {{"--help"}, false, 0, "<help>", ""},
        {{"--version", "--help"}, false, 0, version, ""},
        {{"--verbose"}, false, 2, "", "perennix: unknown option '--verbose'" + unknown},
        {{"-h"}, false, 2, "", "perennix: unknown option '-h'" + unknown},
        {{"-platform", "offscreen"}, false, 2, "", "perennix: unknown option '-platform'" + unknown},
        {{"--bad", "--version"}, false, 2, "", "perennix: unknown option '--bad'" + unknown},
        {{"--", "--version"}, true, 0, "", ""},
        {{"-"}, true, 0, "", ""},
        {{"file.txt"}, true, 0, "", ""},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        const CommandLineOutcome outcome = ParseCommandLine(c.args);
        EXPECT_EQ(outcome.run, c.run);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        if (c.out == "<help>") {
            EXPECT_EQ(outcome.standardOutput.rfind("Usage: perennix [--version | --help]\n", 0), 0u);
            EXPECT_NE(outcome.standardOutput.find("--version  print the version and exit"), std::string::npos);
        } else {
            EXPECT_EQ(outcome.standardOutput, c.out);
        }
        EXPECT_EQ(outcome.standardError, c.err);
    }
}

TEST(CommandLine, TheVersionIsMajorMinorPatch)
{
    const std::string version = px::ToUtf8(ProgramVersion());
    int dots = 0;
    for (char c : version) {
        dots += c == '.';
        EXPECT_TRUE(c == '.' || (c >= '0' && c <= '9')) << version;
    }
    EXPECT_EQ(dots, 2) << version;
}

}  // namespace
