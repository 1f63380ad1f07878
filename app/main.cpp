// Kestrin VNA: one window that drives the analyser and shows its sweeps.
#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <cstdio>

#include "app/CommandLine.h"
#include "frmmain/TMainForm.h"
#include "platform/Console.h"
#include "platform/PortList.h"
#include "sim/SimulatorPort.h"

namespace {

QStringList Arguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char* argv[])
{
    const QString version = QStringLiteral(KESTRIN_VERSION);
    const QStringList arguments = Arguments(argc, argv);
    kestrin::CommandLine commandLine = kestrin::ParseCommandLine(arguments, version);
    if (!commandLine.Run) {
        // A console application only, so that the help names the program as it was called;
        // no window system is touched.
        QCoreApplication console(argc, argv);
        commandLine = kestrin::ParseCommandLine(arguments, version);
        kestrin::UseParentConsole();
        std::fputs(commandLine.Out.toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.Err.toLocal8Bit().constData(), stderr);
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
    mainForm->show();
    const int result = app.exec();
    // The closed window frees itself; if the loop ended first, free it here.
    delete mainForm.data();
    return result;
}
