#include "files/inifile.h"
#include "files/settings.h"
#include "files/windows1251.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using files::IniFile;
using files::Settings;
namespace K = files::SettingsKeys;

namespace {

QString writeBytes(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("Ferrun.ini"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

} // namespace

TEST(IniFile, IntegerSyntax)
{
    EXPECT_EQ(IniFile::parseInteger(u"42"), 42);
    EXPECT_EQ(IniFile::parseInteger(u"  -17 "), -17);
    EXPECT_EQ(IniFile::parseInteger(u"+5"), 5);
    EXPECT_EQ(IniFile::parseInteger(u"$FF"), 255);
    EXPECT_EQ(IniFile::parseInteger(u"0x1a"), 26);
    EXPECT_EQ(IniFile::parseInteger(u"0XFF0000"), 0xFF0000);
    EXPECT_EQ(IniFile::parseInteger(u"$FFFFFFFF"), -1);
    EXPECT_EQ(IniFile::parseInteger(u"2147483647"), 2147483647);
    EXPECT_EQ(IniFile::parseInteger(u"-2147483648"), INT_MIN);
    for (const char16_t *bad : { u"", u" ", u"-", u"$", u"0x", u"12a", u"1.5", u"abc",
             u"2147483648", u"$100000000", u"1 2", u"0xG" })
        EXPECT_FALSE(IniFile::parseInteger(bad).has_value())
            << QString::fromUtf16(bad).toStdString();
}

TEST(IniFile, ReadsWindows1251BytesCaseInsensitively)
{
    QTemporaryDir dir;
    // [График сигнала] / высота=600 / ШИРИНА=700 and [Запуск] / Тип=1, in Windows-1251.
    const QByteArray bytes = "[\xC3\xF0\xE0\xF4\xE8\xEA \xF1\xE8\xE3\xED\xE0\xEB\xE0]\r\n"
                             "\xE2\xFB\xF1\xEE\xF2\xE0=600\r\n"
                             "\xD8\xC8\xD0\xC8\xCD\xC0 = 700 \r\n"
                             "\r\n"
                             "[\xC7\xE0\xEF\xF3\xF1\xEA]\r\n"
                             "\xD2\xE8\xEF=1\r\n"
                             "[options]\r\n"
                             "x SCALE=$2\r\n";
    IniFile file(writeBytes(dir, bytes));
    EXPECT_EQ(file.readInteger(K::chartSection, K::height, 0), 600);
    EXPECT_EQ(file.readInteger(K::chartSection, K::width, 0), 700);
    EXPECT_EQ(file.readInteger(K::launchSection, K::launchType, 0), 1);
    EXPECT_EQ(file.readInteger(K::optionsSection, K::xScale, 0), 2);
    EXPECT_EQ(file.readInteger(K::chartSection, K::left, -5), -5);
}

TEST(IniFile, ReadsUtf8AndLoneLineEnds)
{
    QTemporaryDir dir;
    const QByteArray bytes = QStringLiteral("\xFEFF[Окно F/T]\rF=4800\nSRAMblocks=3\r\n"
                                            "[YScale]\nY max=\"120\"")
                                 .toUtf8();
    IniFile file(writeBytes(dir, bytes));
    EXPECT_EQ(file.readInteger(K::ftSection, K::frequency, 0), 4800);
    EXPECT_EQ(file.readInteger(K::ftSection, K::sramBlocks, 0), 3);
    EXPECT_EQ(file.readInteger(K::yScaleSection, K::yMax, 0), 120);
}

TEST(IniFile, FirstOccurrenceWinsAndKeysStayInTheirSection)
{
    QTemporaryDir dir;
    IniFile file(writeBytes(dir, "[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\nj=5\n"));
    EXPECT_EQ(file.readInteger(u"A", u"k", 0), 1);
    EXPECT_EQ(file.readInteger(u"B", u"k", 0), 3);
    EXPECT_EQ(file.readInteger(u"A", u"j", 0), 0); // j is in the second [a], not the first
}

TEST(IniFile, WritesWindows1251WithCrLfAndKeepsOtherLines)
{
    QTemporaryDir dir;
    const QString path
        = writeBytes(dir, "; kept comment\n[Other]\nkey=text\n\n[Cycle]\nclear chart=0\n");
    IniFile file(path);
    ASSERT_TRUE(file.writeInteger(K::cycleSection, K::clearChart, 1));
    ASSERT_TRUE(file.writeInteger(K::cycleSection, K::oneFile, 1));
    ASSERT_TRUE(file.writeInteger(K::launchSection, K::launchType, 1));
    ASSERT_TRUE(file.writeInteger(u"Other"_qs, u"second"_qs, 7));
    const QByteArray expected = "; kept comment\r\n[Other]\r\nkey=text\r\nsecond=7\r\n\r\n"
                                "[Cycle]\r\nclear chart=1\r\nWrite to 1 file=1\r\n\r\n"
                                "[\xC7\xE0\xEF\xF3\xF1\xEA]\r\n\xD2\xE8\xEF=1\r\n";
    EXPECT_EQ(readBytes(path), expected);
    // Nothing else is left in the folder (no temporary files).
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(Settings, FirstRunDefaultsAndEveryKeyWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Ferrun.ini"));
    IniFile missing(path);
    const Settings s = Settings::read(missing);
    EXPECT_EQ(s.height, 515);
    EXPECT_EQ(s.width, 794);
    EXPECT_EQ(s.colors[0], 0xB27200);
    EXPECT_EQ(s.colors[7], 0);
    EXPECT_TRUE(s.shown[7]);
    EXPECT_EQ(s.sramBlocks, 8);
    EXPECT_EQ(s.frequency, 2400);
    EXPECT_EQ(s.time4allSram, 10000);
    EXPECT_EQ(s.integrateSamples, 8);
    EXPECT_TRUE(s.clearChart);
    EXPECT_EQ(s.yMax, 70);

    ASSERT_TRUE(s.write(missing));
    IniFile written(path);
    int entries = 0;
    for (const QString &line : written.text().split(QStringLiteral("\r\n")))
        entries += line.contains(u'=') ? 1 : 0;
    EXPECT_EQ(entries, 4 + 3 + 1 + 4 + 1 + 16 + 3 + 2);
    EXPECT_EQ(written.readInteger(K::colorSection, K::channel(1), 0), 0xB27200);
    EXPECT_EQ(written.readInteger(K::colorSection, K::channel(8), -1), 0);
    EXPECT_EQ(written.readString(K::selectSection, K::channel(3)), QStringLiteral("1"));
    EXPECT_EQ(written.readString(K::smoothSection, K::smooth), QStringLiteral("0"));
    const QByteArray bytes = readBytes(path);
    EXPECT_TRUE(bytes.startsWith("[\xC3\xF0\xE0\xF4\xE8\xEA \xF1\xE8\xE3\xED\xE0\xEB\xE0]\r\n"
                                 "\xE2\xFB\xF1\xEE\xF2\xE0=515\r\n"));
    EXPECT_FALSE(bytes.contains("\n\n")); // every line ends in CR LF

    // Sections and keys stand in the order of the shutdown sequence.
    QStringList lines;
    for (const QString &line : written.text().split(QStringLiteral("\r\n")))
        if (!line.isEmpty())
            lines << line;
    QStringList expected { QStringLiteral("[График сигнала]"), QStringLiteral("высота=515"),
        QStringLiteral("ширина=794"), QStringLiteral("слева=0"), QStringLiteral("сверху=0"),
        QStringLiteral("[Окно F/T]"), QStringLiteral("F=2400"),
        QStringLiteral("Time4allSRAM=10000"), QStringLiteral("SRAMblocks=8"),
        QStringLiteral("[Запуск]"), QStringLiteral("Тип=0"), QStringLiteral("[Options]"),
        QStringLiteral("X scale=0"), QStringLiteral("XYmode=0"), QStringLiteral("Trange=0"),
        QStringLiteral("Integrate on Samples Num=8"), QStringLiteral("[Smooth in MC]"),
        QStringLiteral("on 16 samples=0"), QStringLiteral("[Series Color]") };
    for (int n = 1; n <= 8; ++n)
        expected << QStringLiteral("Channel %1=%2").arg(n).arg(s.colors.at(size_t(n - 1)));
    expected << QStringLiteral("[Series select]");
    for (int n = 1; n <= 8; ++n)
        expected << QStringLiteral("Channel %1=1").arg(n);
    expected << QStringLiteral("[Cycle]") << QStringLiteral("Write to 1 file=0")
             << QStringLiteral("Clear Chart=1") << QStringLiteral("Chart skip Points=1")
             << QStringLiteral("[YScale]") << QStringLiteral("Y max=70")
             << QStringLiteral("Y min=0");
    EXPECT_EQ(lines, expected);
}

TEST(Settings, RoundTripAndOutOfRangeBlocks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Ferrun.ini"));
    Settings s;
    s.height = 600;
    s.width = 800;
    s.left = -4;
    s.xScale = -1;
    s.colors[2] = 0x00FF8040;
    s.shown[4] = false;
    s.launchType = 1;
    s.sramBlocks = 2;
    s.frequency = 241731;
    {
        IniFile file(path);
        ASSERT_TRUE(s.write(file));
    }
    IniFile file(path);
    const Settings r = Settings::read(file);
    EXPECT_EQ(r.height, 600);
    EXPECT_EQ(r.width, 800);
    EXPECT_EQ(r.left, -4);
    EXPECT_EQ(r.xScale, -1);
    EXPECT_EQ(r.colors[2], 0x00FF8040);
    EXPECT_FALSE(r.shown[4]);
    EXPECT_EQ(r.launchType, 1);
    EXPECT_EQ(r.sramBlocks, 2);
    EXPECT_EQ(r.frequency, 241731);
    EXPECT_TRUE(r.recentFiles.isEmpty());

    // Recent files: any characters a path may hold, also those the code page lacks; a
    // shorter list empties the entries it no longer reaches.
    Settings withRecent = r;
    withRecent.recentFiles = { QStringLiteral("/data/опыт Δλ/a=b;c%.kdx"),
        QStringLiteral("/data/2.kdx"), QStringLiteral("/data/3.kdx") };
    ASSERT_TRUE(withRecent.write(file));
    EXPECT_EQ(Settings::read(IniFile(path)).recentFiles, withRecent.recentFiles);
    withRecent.recentFiles.removeLast();
    ASSERT_TRUE(withRecent.write(file));
    EXPECT_EQ(Settings::read(IniFile(path)).recentFiles, withRecent.recentFiles);
    EXPECT_EQ(IniFile(path).readString(K::recentSection, K::recentFile(3)), QString());

    for (int stored : { 0, 9, -1 }) {
        ASSERT_TRUE(file.writeInteger(K::ftSection, K::sramBlocks, stored));
        EXPECT_EQ(Settings::read(IniFile(path)).sramBlocks, 8) << stored;
    }
}

TEST(Settings, BooleansAreIntegers)
{
    QTemporaryDir dir;
    const QString path = writeBytes(dir,
        "[Series select]\nChannel 1=2\nChannel 2=-1\nChannel 3=\n"
        "Channel 4=0\nChannel 5=yes\nChannel 6=$0\n"
        "[Cycle]\nClear Chart=\nWrite to 1 file=0x10\n");
    const Settings s = Settings::read(IniFile(path));
    EXPECT_TRUE(s.shown[0]);
    EXPECT_TRUE(s.shown[1]);
    EXPECT_TRUE(s.shown[2]); // empty: default
    EXPECT_FALSE(s.shown[3]);
    EXPECT_TRUE(s.shown[4]); // not a number: default
    EXPECT_FALSE(s.shown[5]);
    EXPECT_TRUE(s.clearChart);
    EXPECT_TRUE(s.writeToOneFile);
}

TEST(Settings, UnwritableTargetKeepsTheOldFile)
{
    QTemporaryDir dir;
    // A directory where the settings file should be: the rename cannot replace it.
    const QString path = dir.filePath(QStringLiteral("Ferrun.ini"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ferrun.ini")));
    IniFile blocked(path);
    EXPECT_EQ(Settings::read(blocked).width, 794);
    EXPECT_FALSE(Settings().write(blocked));
    EXPECT_FALSE(blocked.errorString().isEmpty());
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);

    // A folder that does not exist: the temporary file cannot be created.
    IniFile nowhere(dir.filePath(QStringLiteral("gone/Ferrun.ini")));
    EXPECT_FALSE(nowhere.writeInteger(K::yScaleSection, K::yMax, 1));
}

TEST(Settings, ReadOnlyFolderAndFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    QTemporaryDir dir;
    const QByteArray old = "[YScale]\r\nY max=99\r\n";
    const QString path = writeBytes(dir, old);
    QFile::setPermissions(path, QFile::ReadOwner);
    IniFile readOnlyFile(path);
    EXPECT_FALSE(Settings().write(readOnlyFile));
    EXPECT_EQ(readBytes(path), old);

    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    IniFile readOnlyFolder(path);
    EXPECT_FALSE(Settings().write(readOnlyFolder));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(readBytes(path), old);
}

TEST(Settings, FileBesideAPortableCopyAndInTheUserFolderForAnInstalledOne)
{
    QTemporaryDir portable;
    ASSERT_TRUE(portable.isValid());
    EXPECT_EQ(files::settingsPathFor(portable.path()), portable.filePath("Ferrun.ini"));

    // /usr/bin is never written, even by root. (Test mode keeps the user's own folder out.)
    QStandardPaths::setTestModeEnabled(true);
    const QString installed = files::settingsPathFor(QStringLiteral("/usr/bin"));
    EXPECT_FALSE(installed.startsWith(QStringLiteral("/usr/")));
    EXPECT_TRUE(installed.endsWith(QStringLiteral("/Ferrun.ini")));
    EXPECT_TRUE(QFileInfo(QFileInfo(installed).path()).isDir());
}
