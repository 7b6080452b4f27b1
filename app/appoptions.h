#pragma once

#include "app/language.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace app {

// Command-line options of the window program.
struct AppOptions
{
    QString device; // --device PATH: use this serial device instead of discovery
    bool simulator = false; // --simulator: run against the built-in board simulator
    QString screenshot; // --screenshot FILE (hidden): grab the window after start-up, exit
    // --lang en|ru: the window's language for this run, over the one chosen in its menu
    std::optional<UiLanguage> language;
    QString file; // FILE: a data file to open once the window is up (a file manager's %f)
    bool help = false; // -h, --help: print the usage and exit
    bool version = false; // -v, --version: print the version and exit
};

// Parses the arguments after the program name with QCommandLineParser ("--opt value",
// "--opt=value" and "--" work). The toolkit's own options (-platform NAME, -style NAME, ...)
// are let through for the application object. Needs no application object, so that --help
// and --version work without a display. On an unknown option, a missing value or a stray
// argument returns nullopt and sets *error to a one-line message.
std::optional<AppOptions> parseArguments(const QStringList &arguments, QString *error);

// The text --help prints: synopsis, options and exit statuses.
QString usageText();
// The text --version prints.
QString versionText();

// Exit status of the program for arguments it cannot take.
inline constexpr int ExitUsage = 2;

} // namespace app
