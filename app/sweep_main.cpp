// kestrin-vna-sweep: sweeps from the command line, without a window.
#include <cstdio>
#include <string>
#include <vector>

#include "app/SweepOptions.h"
#include "app/SweepTool.h"
#include "platform/Console.h"

int main(int argc, char** argv)
{
    using namespace kestrin;
    std::vector<std::string> arguments;
    std::string badArgument;
    if (!ProgramArguments(argc, argv, arguments, badArgument)) {
        std::fprintf(stderr, "%s: %s\n", SweepToolName, badArgument.c_str());
        return 2;
    }
    const SweepOptionsResult parsed = ParseSweepOptions(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    if (!parsed.Error.empty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for the options.\n", SweepToolName, parsed.Error.c_str(),
                     SweepToolName);
        return 2;
    }
    if (parsed.Options.Help) {
        std::fputs(SweepToolHelp().c_str(), stdout);
        return 0;
    }
    if (parsed.Options.Version) {
        std::printf("%s %s\n", SweepToolName, KESTRIN_VERSION);
        return 0;
    }
    return RunSweepTool(parsed.Options, stdout, stderr, IsTerminal(stderr));
}
