#include "files/inifile.h"

#include "files/windows1251.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace files {

IniFile::IniFile(QString path)
    : m_path(std::move(path))
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString text = decodeUtf8OrWindows1251(file.readAll());
    // CR LF, CR and LF all end a line; a final line end adds no empty line.
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            m_lines.append(parseLine(line));
            line.clear();
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else {
            line.append(c);
        }
    }
    if (!line.isEmpty())
        m_lines.append(parseLine(line));
}

IniFile::Line IniFile::parseLine(const QString &raw)
{
    Line line;
    line.raw = raw;
    const QString trimmed = raw.trimmed();
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.indexOf(u']');
        line.kind = Line::Section;
        line.name = (close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1)).trimmed();
        return line;
    }
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq <= 0 || trimmed.startsWith(u';'))
        return line;
    line.kind = Line::Entry;
    line.name = trimmed.left(eq).trimmed();
    QString value = trimmed.mid(eq + 1).trimmed();
    // Matching quotes around a value are not part of it.
    if (value.size() >= 2
        && ((value.front() == u'"' && value.back() == u'"')
            || (value.front() == u'\'' && value.back() == u'\'')))
        value = value.mid(1, value.size() - 2);
    line.value = value;
    return line;
}

int IniFile::findSection(QStringView section) const
{
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.kind == Line::Section
            && QStringView(line.name).compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniFile::findEntry(int sectionLine, QStringView key) const
{
    for (int i = sectionLine + 1; i < m_lines.size(); ++i) {
        const Line &line = m_lines.at(i);
        if (line.kind == Line::Section)
            break;
        if (line.kind == Line::Entry
            && QStringView(line.name).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

std::optional<QString> IniFile::readString(QStringView section, QStringView key) const
{
    const int s = findSection(section);
    if (s < 0)
        return std::nullopt;
    const int e = findEntry(s, key);
    if (e < 0)
        return std::nullopt;
    return m_lines.at(e).value;
}

std::optional<int> IniFile::parseInteger(QStringView text)
{
    QStringView s = text.trimmed();
    bool negative = false;
    if (!s.isEmpty() && (s.front() == u'-' || s.front() == u'+')) {
        negative = s.front() == u'-';
        s = s.mid(1);
    }
    int base = 10;
    if (s.startsWith(u'$')) {
        base = 16;
        s = s.mid(1);
    } else if (s.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        s = s.mid(2);
    }
    if (s.isEmpty())
        return std::nullopt;
    qint64 magnitude = 0;
    for (QChar c : s) {
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c.unicode() - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c.unicode() - u'A' + 10;
        else
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFLL)
            return std::nullopt;
    }
    if (base == 16 && !negative) {
        // Hexadecimal covers the full 32 bits: $FFFFFFFF is -1.
        return int(quint32(magnitude));
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return int(value);
}

int IniFile::readInteger(QStringView section, QStringView key, int defaultValue) const
{
    const std::optional<QString> text = readString(section, key);
    if (!text)
        return defaultValue;
    return parseInteger(*text).value_or(defaultValue);
}

bool IniFile::readBool(QStringView section, QStringView key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QString IniFile::text() const
{
    QString out;
    for (const Line &line : m_lines) {
        out += line.raw;
        out += QLatin1String("\r\n");
    }
    return out;
}

bool IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    Line entry;
    entry.kind = Line::Entry;
    entry.name = key;
    entry.value = value;
    entry.raw = key + u'=' + value;

    const int s = findSection(section);
    if (s < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().raw.trimmed().isEmpty())
            m_lines.append(Line {});
        Line header;
        header.kind = Line::Section;
        header.name = section;
        header.raw = u'[' + section + u']';
        m_lines.append(header);
        m_lines.append(entry);
    } else if (const int e = findEntry(s, key); e >= 0) {
        entry.name = m_lines.at(e).name; // keep the spelling already in the file
        entry.raw = entry.name + u'=' + value;
        m_lines[e] = entry;
    } else {
        // After the section's last entry, before any blank lines that separate it from the
        // next section.
        int at = s + 1;
        for (int i = s + 1; i < m_lines.size() && m_lines.at(i).kind != Line::Section; ++i) {
            if (!m_lines.at(i).raw.trimmed().isEmpty())
                at = i + 1;
        }
        m_lines.insert(at, entry);
    }
    return commit();
}

bool IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    return writeString(section, key, QString::number(value));
}

bool IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    return writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::commit()
{
    m_error.clear();
    QFileInfo info(m_path);
    // A symbolic link stays a link: the file it points to is replaced.
    const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    const QByteArray targetName = QFile::encodeName(target);
    if (info.exists() && !info.isDir() && ::access(targetName.constData(), W_OK) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    const QByteArray bytes = toWindows1251(text());
    QTemporaryFile temporary(QFileInfo(target).absolutePath() + QLatin1String("/.")
        + QFileInfo(target).fileName() + QLatin1String(".XXXXXX"));
    if (!temporary.open()) {
        m_error = temporary.errorString();
        return false;
    }
    if (temporary.write(bytes) != bytes.size() || !temporary.flush()) {
        m_error = temporary.errorString();
        return false;
    }
    QFile::Permissions permissions
        = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (info.exists() && !info.isDir())
        permissions = QFileInfo(target).permissions();
    temporary.setPermissions(permissions);
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), targetName.constData())
        != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false; // the temporary file is removed with its object
    }
    temporary.setAutoRemove(false);
    return true;
}

bool IniFile::sync()
{
    // The file and the folder entry that the last rename changed.
    for (const QString &name : { m_path, QFileInfo(m_path).absolutePath() }) {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        const bool ok = ::fsync(fd) == 0;
        if (!ok)
            m_error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace files
