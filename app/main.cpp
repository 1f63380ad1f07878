// Kestrin VNA: one window that drives the analyser and shows its sweeps.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "frmmain/TMainForm.h"
#include "platform/Console.h"
#include "platform/PortList.h"
#include "sim/SimulatorPort.h"

namespace {

// Windows starts a window program without a console: what it would print on a usage error
// is shown in a message box as well.
#ifdef _WIN32
constexpr bool UsageErrorInABox = true;
#else
constexpr bool UsageErrorInABox = false;
#endif

} // namespace

int main(int argc, char* argv[])
{
    const QString version = QStringLiteral(KESTRIN_VERSION);
    std::vector<std::string> utf8;
    std::string badArgument;
    const bool valid = kestrin::ProgramArguments(argc, argv, utf8, badArgument);
    QStringList arguments;
    for (const std::string& argument : utf8)
        arguments << QString::fromStdString(argument);
    kestrin::CommandLine commandLine = kestrin::ParseCommandLine(arguments, version);
    if (!valid) {
        commandLine.Run = false;
        commandLine.ExitStatus = 2;
        commandLine.Out.clear();
        commandLine.Err = QStringLiteral("kestrin-vna: %1\n").arg(QString::fromStdString(badArgument));
    }
    if (!commandLine.Run && commandLine.ExitStatus != 0 && UsageErrorInABox) {
        kestrin::UseParentConsole();
        std::fputs(commandLine.Err.toUtf8().constData(), stderr);
        QApplication box(argc, argv);
        QMessageBox::critical(nullptr, QStringLiteral("Kestrin VNA"), commandLine.Err.trimmed());
        return commandLine.ExitStatus;
    }
    if (!commandLine.Run) {
        // A console application only, so that the help names the program as it was called;
        // no window system is touched.
        QCoreApplication console(argc, argv);
        if (valid)
            commandLine = kestrin::ParseCommandLine(arguments, version);
        kestrin::UseParentConsole();
        std::fputs(commandLine.Out.toUtf8().constData(), stdout);
        std::fputs(commandLine.Err.toUtf8().constData(), stderr);
        return commandLine.ExitStatus;
    }

    QApplication app(argc, argv);
    // The application title: what task bars show for the program (WM_CLASS on X11).
    // Not the display name, which Qt would append to the window caption.
    QApplication::setApplicationName(QStringLiteral("Kestrin Tarsio"));
    QApplication::setApplicationVersion(version);
    // Ties the window to the menu entry (the Wayland app id) and gives it the program's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(KESTRIN_APP_ID));
    QIcon icon;
    for (const int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/" KESTRIN_APP_ID "-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    RegisterWindowFont();
    InitWindowSynchronize();
    // Without hardware a person can try everything against the simulated analyser.
    kestrin::RegisterSimulatorPort(kestrin::SimulatorPortNumber);

    QPointer<TMainForm> mainForm = new TMainForm;
    // A setup given to the program (double-clicked, dropped on it) opens once the window is
    // on screen, as File > Open Setup would, with its message for a file that cannot be used.
    if (!commandLine.SetupFile.isEmpty())
        mainForm->OpenSetupWhenShown(commandLine.SetupFile);
    mainForm->show();
    const int result = app.exec();
    // The closed window frees itself; if the loop ended first, free it here.
    delete mainForm.data();
    return result;
}
