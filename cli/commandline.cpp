#include "cli/commandline.h"

#include "cli/output.h"

#include <QRegularExpression>
#include <algorithm>

namespace cli {

CommandLine::CommandLine(
    const QString &command, const QString &synopsis, const QString &description)
    : m_command(command)
    , m_synopsis(synopsis)
    , m_description(description)
{
    setCommand(command);
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

namespace {

// An option as typed: "-o" or "--output".
QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Values that name a file, a folder or a device: an empty one names nothing.
bool namesAFile(const QCommandLineOption &option)
{
    static const QStringList kinds { "FILE", "OUT", "PATH", "DIR", "DEV", "Ferrun.ini" };
    return kinds.contains(option.valueName());
}

} // namespace

QString CommandLine::parserError() const
{
    const QStringList unknown = m_parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        QStringList names;
        for (const QString &name : unknown)
            names << dashed(name);
        return QString("unknown option%1 %2 (ferrun-cli %3 --help lists the options)")
            .arg(unknown.size() > 1 ? "s" : "", escaped(names.join(", ")), m_command);
    }
    // The parser's other texts, in the style of every other message.
    const QString text = m_parser.errorText();
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    static const QRegularExpression unexpected(
        QStringLiteral("^Unexpected value after '(.*)'\\.$"));
    if (const QRegularExpressionMatch match = missing.match(text); match.hasMatch())
        return QString("%1 needs a value").arg(escaped(match.captured(1)));
    if (const QRegularExpressionMatch match = unexpected.match(text); match.hasMatch())
        return QString("%1 takes no value").arg(escaped(match.captured(1)));
    QString plain = text;
    if (plain.endsWith(u'.'))
        plain.chop(1);
    if (!plain.isEmpty())
        plain[0] = plain[0].toLower();
    return escaped(plain);
}

std::optional<int> CommandLine::parse(const QStringList &args, int minPositional, int maxPositional)
{
    // QCommandLineParser takes the program's name as the first word.
    if (!m_parser.parse(QStringList { QStringLiteral("ferrun-cli") } + args))
        return error(parserError());
    if (m_parser.isSet("help"))
        return printText(helpText());
    const QStringList positional = m_parser.positionalArguments();
    const qsizetype count = positional.size();
    if (count < minPositional)
        return error(m_positional.size() > count
                ? QString("%1 is required").arg(m_positional.at(count).first)
                : QString("an argument is missing"));
    if (count > maxPositional)
        return error(
            QString("unexpected argument '%1'").arg(escaped(positional.at(maxPositional))));
    for (qsizetype i = 0; i < count; ++i)
        if (positional.at(i).isEmpty())
            return error(QString("%1 is an empty name")
                             .arg(m_positional.value(std::min(i, m_positional.size() - 1)).first));
    for (const QCommandLineOption &option : m_options)
        if (namesAFile(option) && m_parser.isSet(option.names().first())
            && m_parser.value(option.names().first()).isEmpty()) {
            QStringList names;
            for (const QString &name : option.names())
                names << dashed(name);
            return error(QString("%1 is an empty name").arg(names.join('/')));
        }
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
                  .arg(escaped(text)));
        return std::nullopt;
    }
    return int(value);
}

std::optional<int> CommandLine::choiceValue(const QString &name, const QStringList &choices) const
{
    const QString text = m_parser.value(name);
    const qsizetype index = choices.indexOf(text);
    if (index < 0) {
        error(QString("--%1 expects one of %2, got '%3'")
                  .arg(name, choices.join(", "), escaped(text)));
        return std::nullopt;
    }
    return int(index);
}

int CommandLine::error(const QString &message) const
{
    note(message);
    return ExitUsage;
}

void CommandLine::note(const QString &text) const
{
    message(text);
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
