// kestrin-vna-sim: a simulated antenna analyser on a pseudo-terminal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "measure/NumberText.h"
#include "sim/Simulator.h"

namespace {

using namespace kestrin::sim;

constexpr const char* kName = "kestrin-vna-sim";

void PrintHelp()
{
    std::printf(
        "Usage: %s [options]\n"
        "\n"
        "Simulates a DDS antenna analyser on a pseudo-terminal. Prints the path of the\n"
        "terminal to open (115200 baud, 8N1) and serves sweep requests until interrupted.\n"
        "\n"
        "Options:\n"
        "  --link PATH         also make PATH a symbolic link to the terminal, e.g.\n"
        "                      /dev/ttyUSB9 so the program's port list shows it; an\n"
        "                      existing symbolic link there is replaced; removed on exit\n"
        "  --load KIND         the load on the analyser's port:\n"
        "                        antenna  fan dipole resonant near 3.6, 7.1, 14.2 and\n"
        "                                 28.5 MHz (default)\n"
        "                        50       a perfect 50 ohm termination\n"
        "                        open     an open circuit\n"
        "                        short    a short circuit\n"
        "                        rlc      a series R-L-C, set by --r, --l and --c\n"
        "  --r OHM             resistance of the rlc load (default 50)\n"
        "  --l UH              inductance of the rlc load in microhenry (default 0: none)\n"
        "  --c PF              capacitance of the rlc load in picofarad (default 0: none)\n"
        "  --clock HZ          DDS reference clock (default 400000000; 1250000000 for the\n"
        "                      500 MHz model)\n"
        "  --fast              answer as fast as possible instead of at 11520 bytes/s\n"
        "  --slow              answer at a tenth of the line rate, 1152 bytes/s\n"
        "  --fault MODE        misbehave on purpose:\n"
        "                        silent     read requests, never answer\n"
        "                        short      leave out the last N bytes of every reply\n"
        "                        surplus    send N extra bytes after every reply\n"
        "                        highbytes  set bits above 3 in every high byte\n"
        "                        vanish     close the terminal after N bytes of the\n"
        "                                   first reply (a device loss), then exit\n"
        "  --fault-bytes N     the N of short, surplus and vanish (default 4)\n"
        "  --record FILE       append every byte the program sends (the request lines\n"
        "                      as they arrive) to FILE\n"
        "  -h, --help          show this help and exit\n"
        "      --version       show the version and exit\n"
        "\n"
        "Exit status: 0 after an interrupt or a vanish, 1 when the terminal or the link\n"
        "cannot be made, 2 for a bad option.\n",
        kName);
}

int Usage(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for the options.\n", kName, message.c_str(), kName);
    return 2;
}

struct Options {
    SimConfig Config;
    std::string Link;
    std::string Record;
    bool Help = false;
    bool Version = false;
};

bool ParseFault(std::string_view text, Fault& fault)
{
    if (text == "silent") fault = Fault::Silent;
    else if (text == "short") fault = Fault::Short;
    else if (text == "surplus") fault = Fault::Surplus;
    else if (text == "highbytes") fault = Fault::HighBytes;
    else if (text == "vanish") fault = Fault::Vanish;
    else if (text == "none") fault = Fault::None;
    else return false;
    return true;
}

// Returns 0 on success, else the exit status after printing the message.
int ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            options.Help = true;
            return 0;
        }
        if (arg == "--version") {
            options.Version = true;
            return 0;
        }
        if (arg == "--fast") {
            options.Config.Pace = Pacing::Fast;
            continue;
        }
        if (arg == "--slow") {
            options.Config.Pace = Pacing::Slow;
            continue;
        }
        std::string value;
        bool haveValue = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            haveValue = true;
        }
        const bool known = arg == "--link" || arg == "--load" || arg == "--r" || arg == "--l" || arg == "--c" ||
                           arg == "--clock" || arg == "--fault" || arg == "--fault-bytes" || arg == "--record";
        if (!known && arg.rfind("-", 0) != 0)
            return Usage("unexpected argument '" + arg + "'");
        if (!known)
            return Usage("unknown option '" + std::string(argv[i]) + "'");
        if (!haveValue) {
            if (i + 1 >= argc)
                return Usage("option '" + arg + "' needs a value");
            value = argv[++i];
        }

        if (arg == "--link") {
            if (value.empty())
                return Usage("--link needs a path");
            options.Link = value;
        } else if (arg == "--record") {
            if (value.empty())
                return Usage("--record needs a path");
            options.Record = value;
        } else if (arg == "--load") {
            if (!ParseLoadKind(value, options.Config.Load.Kind))
                return Usage("unknown load '" + value + "' (antenna, 50, open, short or rlc)");
        } else if (arg == "--r" || arg == "--l" || arg == "--c") {
            const auto v = ParseDecimal(value);
            if (!v || *v < 0)
                return Usage("option '" + arg + "' needs a number of 0 or more, not '" + value + "'");
            (arg == "--r" ? options.Config.Load.R : arg == "--l" ? options.Config.Load.LuH : options.Config.Load.CpF) = *v;
        } else if (arg == "--clock") {
            const auto v = ParseWhole32(value);
            if (!v || *v < 1)
                return Usage("--clock needs a whole number of hertz from 1 to 2147483647, not '" + value + "'");
            options.Config.ClockHz = *v;
        } else if (arg == "--fault") {
            if (!ParseFault(value, options.Config.Mode))
                return Usage("unknown fault '" + value + "' (silent, short, surplus, highbytes or vanish)");
        } else if (arg == "--fault-bytes") {
            const auto v = ParseWhole32(value);
            if (!v || *v < 0)
                return Usage("--fault-bytes needs a whole number of 0 or more, not '" + value + "'");
            options.Config.FaultBytes = *v;
        }
    }
    return 0;
}

// Makes link point at target; an existing symbolic link is replaced, anything else is kept.
bool MakeLink(const std::string& link, const std::string& target)
{
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "%s: cannot link %s: a file that is not a symbolic link is in the way\n", kName,
                         link.c_str());
            return false;
        }
        if (unlink(link.c_str()) != 0) {
            std::fprintf(stderr, "%s: cannot replace %s: %s\n", kName, link.c_str(), std::strerror(errno));
            return false;
        }
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot create the link %s: %s%s\n", kName, link.c_str(), std::strerror(errno),
                     errno == EACCES ? " (a link under /dev needs root, e.g. sudo)" : "");
        return false;
    }
    return true;
}

// Removes link only while it still points at target (another run may have taken it over).
void RemoveLink(const std::string& link, const std::string& target)
{
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return;
    if (std::string(buf, static_cast<size_t>(n)) == target)
        unlink(link.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const int status = ParseOptions(argc, argv, options); status != 0)
        return status;
    if (options.Help) {
        PrintHelp();
        return 0;
    }
    if (options.Version) {
        std::printf("%s %s\n", kName, KESTRIN_VERSION);
        return 0;
    }

    // The signals are taken synchronously below; the simulator's thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> record(nullptr, std::fclose);
    if (!options.Record.empty()) {
        record.reset(std::fopen(options.Record.c_str(), "ab"));
        if (!record) {
            std::fprintf(stderr, "%s: cannot open %s: %s\n", kName, options.Record.c_str(), std::strerror(errno));
            return 1;
        }
        options.Config.Received = [file = record.get()](std::string_view bytes) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fflush(file);
        };
    }
    Simulator simulator(options.Config);
    std::string error;
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
        return 1;
    }
    if (!options.Link.empty() && !MakeLink(options.Link, simulator.SlavePath())) {
        simulator.Stop();
        return 1;
    }
    std::printf("%s\n", simulator.SlavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s load, %s pacing, clock %lld Hz%s%s; Ctrl+C ends\n", kName,
                 LoadKindName(options.Config.Load.Kind).c_str(),
                 options.Config.Pace == Pacing::Real   ? "11520 bytes/s"
                 : options.Config.Pace == Pacing::Slow ? "1152 bytes/s"
                                                       : "fast",
                 static_cast<long long>(options.Config.ClockHz), options.Link.empty() ? "" : ", linked at ",
                 options.Link.c_str());

    for (;;) {
        const timespec tick{0, 200 * 1000 * 1000};
        const int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig > 0)
            break;
        if (!simulator.Serving()) {
            std::fprintf(stderr, "%s: the simulated analyser has gone%s\n", kName,
                         options.Config.Mode == Fault::Vanish ? " (vanish fault)" : "");
            break;
        }
    }
    simulator.Stop();
    if (!options.Link.empty())
        RemoveLink(options.Link, simulator.SlavePath());
    return 0;
}
