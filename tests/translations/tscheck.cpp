#include "tests/translations/tscheck.h"

#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

namespace tscheck {

namespace {

QSet<QString> placeholders(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("%(\\d{1,2})"));
    QSet<QString> found;
    for (const QRegularExpressionMatch &m : pattern.globalMatch(text))
        found.insert(m.captured(0));
    return found;
}

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type;
    bool numerus = false;
    bool hasTranslation = false;
};

void check(const Message &m, QStringList &out)
{
    const QString where = m.context + QStringLiteral(": \"") + m.source + u'"';
    if (!m.hasTranslation)
        out << where + QStringLiteral(": no translation");
    else if (!m.type.isEmpty())
        out << where + QStringLiteral(": translation ") + m.type;
    else if (m.translation.trimmed().isEmpty())
        out << where + QStringLiteral(": empty translation");
    else if (!m.numerus && placeholders(m.source) != placeholders(m.translation))
        out << where + QStringLiteral(": placeholders differ in \"") + m.translation + u'"';
}

} // namespace

QStringList faults(const QByteArray &tsText)
{
    QStringList out;
    QXmlStreamReader xml(tsText);
    QString context;
    Message message;
    bool inMessage = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("context")) {
                context.clear();
            } else if (name == QLatin1String("name") && !inMessage) {
                context = xml.readElementText();
            } else if (name == QLatin1String("message")) {
                message = Message { context, {}, {}, {}, false, false };
                message.numerus
                    = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
                inMessage = true;
            } else if (name == QLatin1String("source") && inMessage) {
                message.source = xml.readElementText();
            } else if (name == QLatin1String("translation") && inMessage) {
                message.hasTranslation = true;
                message.type = xml.attributes().value(QLatin1String("type")).toString();
                // Plural forms are <numerusform> children; their texts are joined.
                message.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            check(message, out);
            inMessage = false;
        }
    }
    if (xml.hasError())
        out << QStringLiteral("XML error at line %1: %2")
                   .arg(xml.lineNumber())
                   .arg(xml.errorString());
    return out;
}

QStringList untranslatedCyrillic(const QString &source)
{
    // The code with comments blanked out, and where each literal lies in it.
    QString code = source;
    QList<std::pair<qsizetype, qsizetype>> literals; // start (the quote), end (past it)
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        const QChar next = i + 1 < code.size() ? code.at(i + 1) : QChar();
        if (c == u'/' && next == u'/') {
            while (i < code.size() && code.at(i) != u'\n')
                code[i++] = u' ';
        } else if (c == u'/' && next == u'*') {
            while (i + 1 < code.size() && !(code.at(i) == u'*' && code.at(i + 1) == u'/'))
                code[i++] = u' ';
            if (i + 1 < code.size())
                code[i] = code[i + 1] = u' ';
            ++i;
        } else if (c == u'\'' || c == u'"') {
            const qsizetype start = i;
            for (++i; i < code.size() && code.at(i) != c; ++i)
                if (code.at(i) == u'\\')
                    ++i;
            if (c == u'"')
                literals.append({ start, i + 1 });
        }
    }

    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    static const QRegularExpression call(
        QStringLiteral("(?:\\b(?:tr|QT_TR_NOOP)\\s*\\(|\\b(?:translate|QT_TRANSLATE_NOOP)\\s*\\("
                       "\\s*\"[^\"]*\"\\s*,)"
                       "\\s*$"));
    QStringList out;
    for (qsizetype n = 0; n < literals.size();) {
        // A run of adjacent literals, only blanks between them.
        qsizetype last = n;
        while (last + 1 < literals.size()
            && code.mid(literals[last].second, literals[last + 1].first - literals[last].second)
                   .trimmed()
                   .isEmpty())
            ++last;
        QString text;
        for (qsizetype k = n; k <= last; ++k)
            text += code.mid(literals[k].first + 1, literals[k].second - literals[k].first - 2);
        const qsizetype from = std::max<qsizetype>(0, literals[n].first - 120);
        const QString before = code.mid(from, literals[n].first - from);
        if (text.contains(cyrillic) && !call.match(before).hasMatch())
            out << text;
        n = last + 1;
    }
    return out;
}

} // namespace tscheck
