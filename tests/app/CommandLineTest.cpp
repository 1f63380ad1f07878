#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <QStringList>

#include "app/CommandLine.h"

using kestrin::CommandLine;
using kestrin::ParseCommandLine;

namespace {

CommandLine Parse(QStringList arguments)
{
    arguments.prepend(QStringLiteral("kestrin-vna"));
    return ParseCommandLine(arguments, QStringLiteral("1.2.3"));
}

#ifndef _WIN32 // runs the program through the shell, as a Linux user would with no display
struct Outcome {
    int Status = -1;
    std::string Out, Err;
};

// Runs the built program through the shell with no display at all: if it tried to open a
// window, Qt's xcb platform would fail to connect and abort.
Outcome RunProgram(const std::string& arguments)
{
    const std::string dir = ::testing::TempDir();
    const std::string out = dir + "kestrin-vna-out", err = dir + "kestrin-vna-err";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout -s KILL 20 "
                                KESTRIN_PROGRAM " " + arguments + " >" + out + " 2>" + err + " </dev/null";
    Outcome run;
    const int status = std::system(command.c_str());
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto [path, text] : {std::pair{out, &run.Out}, std::pair{err, &run.Err}}) {
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
                text->append(buf, n);
            std::fclose(f);
        }
        std::remove(path.c_str());
    }
    return run;
}
#endif

} // namespace

TEST(CommandLine, HelpAndVersionAnswerAndExitWithoutAWindow)
{
    for (const char* option : {"--help", "-h", "-?"}) {
        const CommandLine help = Parse({QString::fromLatin1(option)});
        EXPECT_FALSE(help.Run) << option;
        EXPECT_EQ(help.ExitStatus, 0) << option;
        EXPECT_TRUE(help.Err.isEmpty()) << option;
        for (const char* word : {"Usage:", "--help", "--version", "Simulator", "-platform", "kestrin-vna(1)"})
            EXPECT_TRUE(help.Out.contains(QString::fromLatin1(word))) << option << ": " << word;
        // Qt's options are accepted, not listed as the program's own.
        EXPECT_FALSE(help.Out.contains(QStringLiteral("--session"))) << option;
    }
    for (const char* option : {"--version", "-v"}) {
        const CommandLine version = Parse({QString::fromLatin1(option)});
        EXPECT_FALSE(version.Run);
        EXPECT_EQ(version.ExitStatus, 0);
        EXPECT_EQ(version.Out, QStringLiteral("kestrin-vna 1.2.3\n"));
    }
}

TEST(CommandLine, AnyOtherArgumentIsOneUsageLineAndStatusTwo)
{
    const QStringList bad[] = {
        {QStringLiteral("--frobnicate")},
        {QStringLiteral("file.s1p")},
        {QStringLiteral("-hv")},
        {QStringLiteral("--help-all")},
        {QStringLiteral("--help"), QStringLiteral("--frobnicate")}, // an error wins over help
        {QStringLiteral("--version"), QStringLiteral("stray")},
        {QStringLiteral("-platform")},                             // Qt's option without its value
        {QStringLiteral("--version=2")},
        {QStringLiteral("a.kvsetup"), QStringLiteral("b.kvsetup")}, // one setup at a time
        {QStringLiteral("--help"), QStringLiteral("a.kvsetup")},
    };
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const CommandLine result = Parse(arguments);
        EXPECT_FALSE(result.Run);
        EXPECT_EQ(result.ExitStatus, 2);
        EXPECT_TRUE(result.Out.isEmpty());
        EXPECT_TRUE(result.Err.startsWith(QStringLiteral("kestrin-vna: ")));
        EXPECT_TRUE(result.Err.contains(QStringLiteral("Usage: kestrin-vna [--help] [--version]")));
        EXPECT_EQ(result.Err.count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(result.Err.endsWith(QLatin1Char('\n')));
    }
    EXPECT_TRUE(Parse({QStringLiteral("stray")}).Err.contains(QStringLiteral("'stray'")));
    EXPECT_TRUE(Parse({QStringLiteral("--frobnicate")}).Err.contains(QStringLiteral("frobnicate")));
}

TEST(CommandLine, NoArgumentsOrQtsOwnOptionsOpenTheWindow)
{
    const QStringList good[] = {
        {},
        {QStringLiteral("-platform"), QStringLiteral("offscreen")},
        {QStringLiteral("--platform"), QStringLiteral("xcb")},
        {QStringLiteral("-style=Fusion"), QStringLiteral("-reverse")},
        {QStringLiteral("-display"), QStringLiteral(":1"), QStringLiteral("-geometry"), QStringLiteral("800x600")},
        {QStringLiteral("-session"), QStringLiteral("1234_5678")},
    };
    for (const QStringList& arguments : good) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const CommandLine result = Parse(arguments);
        EXPECT_TRUE(result.Run);
        EXPECT_TRUE(result.Out.isEmpty());
        EXPECT_TRUE(result.Err.isEmpty());
        EXPECT_TRUE(result.SetupFile.isEmpty());
    }
    // A setup double-clicked or dropped on the program: the window opens it.
    const QString jurgen = QStringLiteral("C:\\Users\\J\u00fcrgen\\40m Dipol.KVSETUP");
    const CommandLine setup = Parse({QStringLiteral("-style=Fusion"), jurgen});
    EXPECT_TRUE(setup.Run);
    EXPECT_EQ(setup.SetupFile, jurgen);
}

#ifndef _WIN32
TEST(CommandLine, TheProgramAnswersWithoutADisplay)
{
    const Outcome help = RunProgram("--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: " KESTRIN_PROGRAM " [options]"), std::string::npos) << help.Out;
    EXPECT_EQ(help.Err, "");

    const Outcome version = RunProgram("--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, "kestrin-vna " KESTRIN_VERSION "\n");
    EXPECT_EQ(version.Err, "");

    const Outcome bad = RunProgram("--frobnicate");
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Out, "");
    EXPECT_EQ(bad.Err, "kestrin-vna: Unknown option '--frobnicate'. Usage: kestrin-vna [--help] [--version] [FILE.kvsetup]\n");
}
#endif
