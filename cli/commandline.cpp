#include "cli/commandline.h"

#include <algorithm>
#include <cstdio>

namespace cli {

CommandLine::CommandLine(
    const QString &command, const QString &synopsis, const QString &description)
    : m_command(command)
    , m_synopsis(synopsis)
    , m_description(description)
{
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    addFlag({ "h", "help" }, "Show this help and exit.");
}

void CommandLine::addOption(const QCommandLineOption &option)
{
    m_parser.addOption(option);
    m_options.append(option);
}

void CommandLine::addFlag(const QStringList &names, const QString &description)
{
    addOption(QCommandLineOption(names, description));
}

void CommandLine::addPositional(const QString &name, const QString &description)
{
    m_positional.append({ name, description });
}

void CommandLine::addExitCode(int code, const QString &meaning)
{
    m_exitCodes.append({ code, meaning });
}

std::optional<int> CommandLine::parse(const QStringList &args, int minPositional, int maxPositional)
{
    // QCommandLineParser takes the program's name as the first word.
    if (!m_parser.parse(QStringList { QStringLiteral("ferrun-cli") } + args))
        return error(m_parser.errorText());
    if (m_parser.isSet("help")) {
        std::fputs(helpText().toUtf8().constData(), stdout);
        return 0;
    }
    const qsizetype count = m_parser.positionalArguments().size();
    if (count < minPositional)
        return error(m_positional.size() > count
                ? QString("%1 is required").arg(m_positional.at(count).first)
                : QString("an argument is missing"));
    if (count > maxPositional)
        return error(QString("unexpected argument '%1'")
                         .arg(m_parser.positionalArguments().at(maxPositional)));
    return std::nullopt;
}

std::optional<int> CommandLine::intValue(const QString &name, int min, int max) const
{
    const QString text = m_parser.value(name);
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < min || value > max) {
        error(QString("--%1 expects a whole number from %2 to %3, got '%4'")
                  .arg(name)
                  .arg(min)
                  .arg(max)
                  .arg(text));
        return std::nullopt;
    }
    return int(value);
}

std::optional<int> CommandLine::choiceValue(const QString &name, const QStringList &choices) const
{
    const QString text = m_parser.value(name);
    const qsizetype index = choices.indexOf(text);
    if (index < 0) {
        error(QString("--%1 expects one of %2, got '%3'").arg(name, choices.join(", "), text));
        return std::nullopt;
    }
    return int(index);
}

int CommandLine::error(const QString &message) const
{
    note(message);
    return ExitUsage;
}

void CommandLine::note(const QString &message) const
{
    std::fprintf(stderr, "ferrun-cli %s: %s\n", qPrintable(m_command), qPrintable(message));
}

QString CommandLine::helpText() const
{
    QString text
        = QString("usage: ferrun-cli %1 %2\n%3\n").arg(m_command, m_synopsis, m_description);
    const auto column = [&text](const QString &left, const QString &right) {
        text += QString("  %1  %2\n").arg(left.leftJustified(26), right);
    };
    if (!m_positional.isEmpty()) {
        text += "\narguments:\n";
        for (const auto &[name, description] : m_positional)
            column(name, description);
    }
    text += "\noptions:\n";
    for (const QCommandLineOption &option : m_options) {
        QStringList names;
        for (const QString &name : option.names())
            names.append(name.size() == 1 ? "-" + name : "--" + name);
        QString left = names.join(", ");
        if (!option.valueName().isEmpty())
            left += " " + option.valueName();
        QString right = option.description();
        if (!option.defaultValues().isEmpty())
            right += QString(" (default: %1)").arg(option.defaultValues().join(","));
        column(left, right);
    }
    QList<QPair<int, QString>> codes = m_exitCodes;
    if (std::none_of(
            codes.cbegin(), codes.cend(), [](const auto &c) { return c.first == ExitUsage; }))
        codes.append({ ExitUsage, "bad arguments (a line on standard error says which)" });
    std::sort(
        codes.begin(), codes.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    text += "\nexit status:\n";
    for (const auto &[code, meaning] : codes)
        text += QString("  %1  %2\n").arg(code).arg(meaning);
    return text;
}

bool CommandLine::offers(const QString &name) const
{
    for (const QCommandLineOption &option : m_options)
        if (option.names().contains(name))
            return true;
    return false;
}

} // namespace cli
