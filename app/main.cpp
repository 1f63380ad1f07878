// Kestrin VNA: one window that drives the analyser and shows its sweeps.
#include <QApplication>
#include <QPointer>

#include "frmmain/TMainForm.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The application title: what task bars show for the program (WM_CLASS on X11).
    // Not the display name, which Qt would append to the window caption.
    QApplication::setApplicationName(QStringLiteral("Kestrin Tarsio"));
    RegisterWindowFont();
    InitWindowSynchronize();

    QPointer<TMainForm> mainForm = new TMainForm;
    mainForm->show();
    const int result = app.exec();
    // The closed window frees itself; if the loop ended first, free it here.
    delete mainForm.data();
    return result;
}
