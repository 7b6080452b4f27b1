#pragma once

#include "cli/exitstatus.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

// The command line of one ferrun-cli command, on QCommandLineParser: "--opt value",
// "--opt=value", "-o value" and "--" all work. "-h"/"--help" prints the synopsis, the
// options with their defaults and the command's exit statuses on standard output. An empty
// name (a positional argument, or the value of an option that names a file, a folder or a
// device) is refused like any bad argument. Constructing one names the command for every
// message (cli::setCommand).
//
//     CommandLine line("export", "FILE [options]", "Writes the points of a data file as CSV.");
//     line.addOption({ { "o", "output" }, "Write to OUT instead of standard output.", "OUT" });
//     line.addExitCode(ExitDone, "written");
//     if (const auto status = line.parse(args))
//         return *status;               // --help (0) or an error already printed (2)
//     const auto skip = line.intValue("skip", 1, 1000000);
//     if (!skip)
//         return ExitUsage;             // the message is printed
class CommandLine
{
public:
    CommandLine(const QString &command, const QString &synopsis, const QString &description);

    void addOption(const QCommandLineOption &option);
    // A flag: an option without a value.
    void addFlag(const QStringList &names, const QString &description);
    void addPositional(const QString &name, const QString &description);
    void addExitCode(int code, const QString &meaning);

    // Parses the words after the command's name. Returns a status to exit with at once: 0
    // after --help (1 when the help could not be written), ExitUsage after an error
    // (printed); nothing when the command goes on.
    // Positional arguments beyond `maxPositional` (or fewer than `minPositional`) are an
    // error.
    std::optional<int> parse(const QStringList &args, int minPositional = 0, int maxPositional = 0);

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    // Whether the command has the option at all.
    bool offers(const QString &name) const;
    // The option's value, or its default when not given.
    QString value(const QString &name) const { return m_parser.value(name); }
    QStringList positional() const { return m_parser.positionalArguments(); }

    // The option's value (or default) as a whole number within min..max. Out of range or
    // not a number: the message names the allowed range, and nothing is returned.
    std::optional<int> intValue(const QString &name, int min, int max) const;
    // The option's value (or default) as one of `choices`; returns its index.
    std::optional<int> choiceValue(const QString &name, const QStringList &choices) const;

    // Prints "ferrun-cli <command>: <message>" on standard error; returns ExitUsage.
    int error(const QString &message) const;
    // The same line, for something the user should know while the command goes on.
    void note(const QString &message) const;
    QString helpText() const;

private:
    // The parser's complaint in the style of every other message.
    QString parserError() const;

    QString m_command;
    QString m_synopsis;
    QString m_description;
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    QList<QPair<QString, QString>> m_positional;
    QList<QPair<int, QString>> m_exitCodes;
};

} // namespace cli
