// The program's command line. --help and --version are answered without touching the window
// system, so they work without a display; Qt's own options (-platform, -style, -display, ...)
// are accepted and left to QApplication; one setup file (FILE.kvsetup) is opened in the
// window; any other argument is a usage error.
#pragma once

#include <QString>
#include <QStringList>

namespace kestrin {

struct CommandLine {
    bool Run = false;   // open the window; otherwise print Out and Err and exit with ExitStatus
    int ExitStatus = 0; // 0 after --help or --version, 2 after a usage error
    QString Out;        // for standard output
    QString Err;        // for standard error: one usage line
    QString SetupFile;  // with Run: the setup to open once the window is shown, or empty
};

// arguments: the whole argv, program name first. version: the text --version shows.
CommandLine ParseCommandLine(const QStringList& arguments, const QString& version);

} // namespace kestrin
