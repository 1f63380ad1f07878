#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace kestrin {

namespace {

const QString kProgram = QStringLiteral("kestrin-vna");

// The options Qt's application classes take for themselves: QGuiApplication's (the list
// QCommandLineParser's --help-all shows), QApplication's and the X11 ones. Name, value name.
struct QtOption {
    const char* Name;
    const char* Value;
};
constexpr QtOption kQtOptions[] = {
    {"platform", "platformName[:options]"}, {"platformpluginpath", "path"}, {"platformtheme", "theme"},
    {"plugin", "plugin"}, {"qmljsdebugger", "value"}, {"qwindowgeometry", "geometry"}, {"qwindowicon", "icon"},
    {"qwindowtitle", "title"}, {"reverse", nullptr}, {"session", "session"}, {"style", "style"},
    {"stylesheet", "stylesheet"}, {"widgetcount", nullptr}, {"display", "hostname:screen"},
    {"geometry", "geometry"},
};

// The option called name as the person typed it ("--bogus" for the name "bogus"), without
// a value given with '='.
QString AsTyped(const QStringList& arguments, const QString& name)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--"))
            break;
        const QString typed = argument.section(QLatin1Char('='), 0, 0);
        qsizetype dashes = 0;
        while (dashes < typed.size() && dashes < 2 && typed[dashes] == QLatin1Char('-'))
            ++dashes;
        if (dashes > 0 && typed.mid(dashes) == name)
            return typed;
    }
    return name;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments, const QString& version)
{
    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform), so single-dash words are long options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Kestrin VNA: sweeps a DDS-based one-port antenna analyser on a serial port and shows\n"
        "SWR, return loss, phase and impedance over frequency. Without options it opens its\n"
        "window; choose the port \"Simulator\" to try it without an analyser.\n"
        "Given a setup file (.kvsetup), it opens the setup as File > Open Setup would.\n"
        "Qt's own options (-platform, -style, -display, ...) are accepted as well.\n"
        "See kestrin-vna(1) for serial port permissions and the simulated analyser."));
    // Our own -h/--help rather than addHelpOption(): its --help-all would list Qt's options
    // before any QApplication exists, that is without the window system's ones.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.kvsetup"), QStringLiteral("A setup to open."),
                                 QStringLiteral("[FILE.kvsetup]"));
    for (const QtOption& qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.Name), QStringLiteral("Qt's own option."),
                                  qt.Value ? QString::fromLatin1(qt.Value) : QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLine result;
    QString error;
    if (!parser.parse(arguments))
        error = parser.unknownOptionNames().isEmpty()
                    ? parser.errorText()
                    : QStringLiteral("Unknown option '%1'.").arg(AsTyped(arguments, parser.unknownOptionNames().constFirst()));
    else if (const QStringList files = parser.positionalArguments(); !files.isEmpty()) {
        auto isSetup = [](const QString& file) { return file.endsWith(QStringLiteral(".kvsetup"), Qt::CaseInsensitive); };
        const QString& first = files.constFirst();
        if (files.size() == 1 && isSetup(first) && !parser.isSet(help) && !parser.isSet(versionOption))
            result.SetupFile = first;
        else
            error = QStringLiteral("Unexpected argument '%1'.").arg(isSetup(first) && files.size() > 1 ? files[1] : first);
    }
    if (!error.isEmpty()) {
        result.ExitStatus = 2;
        result.Err = QStringLiteral("%1: %2 Usage: %1 [--help] [--version] [FILE.kvsetup]\n").arg(kProgram, error);
    } else if (parser.isSet(help)) {
        result.Out = parser.helpText();
    } else if (parser.isSet(versionOption)) {
        result.Out = QStringLiteral("%1 %2\n").arg(kProgram, version);
    } else {
        result.Run = true;
    }
    return result;
}

} // namespace kestrin
