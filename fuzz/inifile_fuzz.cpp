// Fuzz target: the settings file reader, its integer syntax, and one write back.

#include "files/inifile.h"
#include "fuzz/fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath("Ferrun.ini");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    files::IniFile ini(path);
    const QString text = ini.text();
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0)
            (void)files::IniFile::parseInteger(QStringView(line).mid(eq + 1));
    }
    (void)ini.readString(u"Form1", u"Left");
    (void)ini.readInteger(u"Options", u"Freq", 7);
    (void)ini.readBool(u"Cycle", u"OneFile", true);

    // One write through the temporary-file-and-rename path, then a fresh reader.
    FUZZ_CHECK(ini.writeString(
        QStringLiteral("Options"), QStringLiteral("Comment"), QStringLiteral("значение 1")));
    const files::IniFile again(path);
    (void)again.text();
    return 0;
}
