#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace files {

// A small INI file in the format the Windows program reads and writes: "[section]" lines,
// each followed by "key=value" lines. Section and key names compare case-insensitively.
//
// Reading accepts UTF-8 and Windows-1251 files alike; every write stores the whole file in
// Windows-1251 with CR LF line ends, so one file serves both systems. Each write updates
// one key and puts the file on disk at once (no caching beyond this object): the text goes
// to a temporary file in the same folder, which then replaces the old file by a rename, so
// an interrupted or failed write leaves the previous file whole.
class IniFile
{
public:
    // Reads the file once; a missing or unreadable file reads as empty.
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }

    // The value of the first matching key, trimmed; nullopt when section or key is missing.
    std::optional<QString> readString(QStringView section, QStringView key) const;
    // Decimal, "$" or "0x" hexadecimal; the default when missing or not a number.
    int readInteger(QStringView section, QStringView key, int defaultValue) const;
    // An integer, any non-zero value meaning true; the default as for readInteger.
    bool readBool(QStringView section, QStringView key, bool defaultValue) const;

    // Each returns false when the file could not be written; errorString() then tells why.
    bool writeString(const QString &section, const QString &key, const QString &value);
    bool writeInteger(const QString &section, const QString &key, int value);
    bool writeBool(const QString &section, const QString &key, bool value);

    // Forces the file written last onto the disk (writes rename it into place but do not
    // wait for the disk each time).
    bool sync();

    QString errorString() const { return m_error; }

    // The text as it would be written (lines joined with CR LF), for inspection.
    QString text() const;

    // Integer syntax of the settings file: optional blanks and sign, then decimal digits or
    // hexadecimal digits after "$", "0x" or "0X", within 32 bits.
    static std::optional<int> parseInteger(QStringView text);

private:
    struct Line
    {
        QString raw;
        enum Kind { Other, Section, Entry } kind = Other;
        QString name; // section name or key
        QString value; // entry value
    };

    static Line parseLine(const QString &raw);
    int findSection(QStringView section) const;
    int findEntry(int sectionLine, QStringView key) const;
    bool commit();

    QString m_path;
    QList<Line> m_lines;
    QString m_error;
};

} // namespace files
