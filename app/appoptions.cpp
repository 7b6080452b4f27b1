#include "app/appoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#ifndef FERRUN_VERSION
#define FERRUN_VERSION "unknown"
#endif

namespace app {

namespace {

// Options the toolkit's application object takes out of the command line itself. They are
// known here so that they are not refused before the application object sees them.
const QStringList ToolkitValueOptions { QStringLiteral("platform"), QStringLiteral("style"),
    QStringLiteral("stylesheet"), QStringLiteral("display"), QStringLiteral("geometry"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowtitle"),
    QStringLiteral("platformtheme") };
const QStringList ToolkitFlags { QStringLiteral("reverse") };

} // namespace

std::optional<AppOptions> parseArguments(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    // "-platform xcb" as the toolkit writes its options; "-h" and "-v" are names of their own.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, {});
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") }, {});
    const QCommandLineOption device(QStringLiteral("device"), {}, QStringLiteral("PATH"));
    const QCommandLineOption simulator(QStringLiteral("simulator"), {});
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), {}, QStringLiteral("FILE"));
    const QCommandLineOption lang(QStringLiteral("lang"), {}, QStringLiteral("LANGUAGE"));
    parser.addOptions({ help, version, device, simulator, screenshot, lang });
    for (const QString &name : ToolkitValueOptions)
        parser.addOption(QCommandLineOption(name, {}, QStringLiteral("VALUE")));
    for (const QString &name : ToolkitFlags)
        parser.addOption(QCommandLineOption(name, {}));

    // The parser takes the program's name as the first word.
    if (!parser.parse(QStringList { QStringLiteral("ferrun") } + arguments)) {
        *error = QStringLiteral("ferrun: %1 (ferrun --help lists the options)")
                     .arg(parser.errorText());
        return std::nullopt;
    }
    AppOptions options;
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    if (options.help || options.version)
        return options;
    // One data file may be named, as a file manager opens one.
    if (parser.positionalArguments().size() > 1) {
        *error = QStringLiteral("ferrun: unexpected argument '%1' (ferrun --help lists the "
                                "options)")
                     .arg(parser.positionalArguments().at(1));
        return std::nullopt;
    }
    options.file = parser.positionalArguments().value(0);
    options.simulator = parser.isSet(simulator);
    options.device = parser.value(device);
    options.screenshot = parser.value(screenshot);
    if (parser.isSet(device) && options.device.isEmpty()) {
        *error = QStringLiteral("ferrun: option --device needs a device path");
        return std::nullopt;
    }
    if (parser.isSet(screenshot) && options.screenshot.isEmpty()) {
        *error = QStringLiteral("ferrun: option --screenshot needs a file name");
        return std::nullopt;
    }
    if (parser.isSet(lang)) {
        options.language = languageFromCode(parser.value(lang));
        if (!options.language) {
            *error = QStringLiteral("ferrun: option --lang takes en or ru, not '%1'")
                         .arg(parser.value(lang));
            return std::nullopt;
        }
    }
    if (options.simulator && !options.device.isEmpty()) {
        *error = QStringLiteral("ferrun: --device and --simulator exclude each other");
        return std::nullopt;
    }
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "usage: ferrun [options] [FILE.kdx]\n"
        "The window of the thermocouple and photodiode acquisition board: finds the board by\n"
        "its USB identity, records, draws, saves and opens recordings. Settings are kept in\n"
        "Ferrun.ini beside the program. A data file given is opened once the window is up.\n"
        "\n"
        "options:\n"
        "  --device PATH     use this serial device instead of looking for the board\n"
        "                    (default: the board found by its USB identity)\n"
        "  --simulator       run against the built-in board simulator\n"
        "  --lang en|ru      the window's language for this run (default: the one chosen\n"
        "                    in its menu, else Russian)\n"
        "  -h, --help        show this help and exit\n"
        "  -v, --version     show the version and exit\n"
        "  -platform NAME, -style NAME, -display DISPLAY, ...\n"
        "                    the toolkit's own options\n"
        "\n"
        "exit status:\n"
        "  0  the window was closed\n"
        "  2  bad arguments (a line on standard error says which)\n");
}

QString versionText()
{
    return QStringLiteral("ferrun %1\n").arg(QStringLiteral(FERRUN_VERSION));
}

} // namespace app
