#pragma once

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
};

// Parses the arguments after the program name. On an unknown option or a missing value
// returns nullopt and sets *error to a one-line message.
std::optional<AppOptions> parseArguments(const QStringList &arguments, QString *error);

} // namespace app
