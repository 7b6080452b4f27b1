#include "files/datafile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace files;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray readAll(const QString &name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeAll(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Channels T1..T3, d1 = 99, d2 = 10, 250°, axis mode 0.
DataFileHeader workedExampleHeader()
{
    DataFileHeader h;
    h.ChartChannelBits = chartChannelBits(0x07, false);
    h.ChannelIntervalUs = 3055 / 14.7456 * 3;
    h.ValueScale = valueScaleForRange(0);
    h.ValueOffset = 0;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    return h;
}

QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 7 + i / 256);
    return data;
}

} // namespace

TEST(DataFile, LayoutByteForByte)
{
    const QByteArray data = pattern(480000);
    const QByteArray file = encodeDataFile(workedExampleHeader(), data, QStringLiteral("ok"));
    const QByteArray head = hex("0100100107"
                                "00530700"
                                "ABAAAAAA546C8340"
                                "000000000040AF3F"
                                "00000000"
                                "C2F0E5ECFF2C20ECEAF100"
                                "D2E5ECEFE5F0E0F2F3F0E000");
    ASSERT_EQ(file.left(head.size()).toHex(), head.toHex());
    EXPECT_EQ(file.mid(head.size(), data.size()), data);
    EXPECT_EQ(file.mid(head.size() + data.size()), QByteArray("ok"));
    EXPECT_EQ(file.size(), head.size() + data.size() + 2);
}

TEST(DataFile, CommentLineBreaksAndEncodingRoundTrip)
{
    const QString comment = QStringLiteral("Печь №2\nвторая строка\r\rконец\r\n");
    const QByteArray file = encodeDataFile(workedExampleHeader(), pattern(10), comment);
    DataFile loaded;
    ASSERT_EQ(decodeDataFile(file, &loaded), DataFileStatus::Ok);
    EXPECT_EQ(loaded.comment(), QStringLiteral("Печь №2\r\nвторая строка\r\n\r\nконец\r\n"));
    EXPECT_EQ(loaded.data, pattern(10));
    EXPECT_EQ(loaded.header.XTitle, QStringLiteral("Время, мкс"));
    EXPECT_EQ(loaded.header.YTitle, QStringLiteral("Температура"));
    EXPECT_EQ(loaded.header.ChannelIntervalUs, 3055 / 14.7456 * 3);
    EXPECT_EQ(loaded.header.DataLength, 10u);

    // A comment written elsewhere with lone CR or LF loads with CR LF.
    QByteArray foreignBreaks = file.left(file.size() - loaded.commentBytes.size());
    foreignBreaks += "a\nb\rc\r\n";
    ASSERT_EQ(decodeDataFile(foreignBreaks, &loaded), DataFileStatus::Ok);
    EXPECT_EQ(loaded.comment(), QStringLiteral("a\r\nb\r\nc\r\n"));

    // An empty comment is zero bytes; an empty recording and titles still make a whole file.
    DataFileHeader empty;
    const QByteArray bare = encodeDataFile(empty, {}, {});
    EXPECT_EQ(bare.size(), FixedHeaderSize + 12 + 2);
    ASSERT_EQ(decodeDataFile(bare, &loaded), DataFileStatus::Ok);
    EXPECT_TRUE(loaded.commentBytes.isEmpty());
    EXPECT_TRUE(loaded.data.isEmpty());
}

TEST(DataFile, DamagedFilesAreRejectedWithoutReadingPastTheEnd)
{
    const QByteArray good = encodeDataFile(workedExampleHeader(), pattern(1000), {});
    DataFile loaded;
    // Every truncation point: never Ok, never a read beyond the bytes (ASan watches).
    for (int cut = 0; cut < good.size(); cut += (cut < 80 ? 1 : 97)) {
        const QByteArray part = good.left(cut);
        const DataFileStatus status = decodeDataFile(part, &loaded);
        EXPECT_NE(status, DataFileStatus::Ok) << cut;
        EXPECT_EQ(status, cut < 2 ? DataFileStatus::NotInstrumentFile : DataFileStatus::Truncated)
            << cut;
    }
    // A file that ends inside its data hands over nothing.
    ASSERT_EQ(decodeDataFile(good.left(good.size() - 10), &loaded), DataFileStatus::Truncated);
    EXPECT_TRUE(loaded.data.isEmpty());

    QByteArray otherType = good;
    otherType[0] = 2;
    EXPECT_EQ(decodeDataFile(otherType, &loaded), DataFileStatus::NotInstrumentFile);
    // A DataLength near 4 GiB in a short file is a truncation, not an allocation.
    QByteArray huge = good;
    huge[5] = huge[6] = huge[7] = huge[8] = char(0xFF);
    EXPECT_EQ(decodeDataFile(huge, &loaded), DataFileStatus::Truncated);
}

TEST(DataFile, ForeignFilesAreTurnedAwayByTheirType)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    DataFile loaded;
    QString error;
    const QString foreign = dir.filePath("other.kdx");
    writeAll(foreign, QByteArray("\x02\x00", 2) + pattern(5000));
    EXPECT_EQ(readDataFile(foreign, &loaded, &error), DataFileStatus::NotInstrumentFile);
    EXPECT_TRUE(error.endsWith(QStringLiteral("ViewKDX.exe")));
    EXPECT_TRUE(loaded.data.isEmpty());

    // A source without an end is refused before anything is read from it.
    EXPECT_EQ(readDataFile("/dev/zero", &loaded, &error), DataFileStatus::NotRegularFile);
    EXPECT_EQ(error, QStringLiteral("Не удаётся открыть файл /dev/zero: это не обычный файл"));
}

TEST(DataFile, SaveReplacesTheOldFileAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath("run.kdx");
    writeAll(name, "old contents");
    QString error;
    ASSERT_TRUE(saveDataFile(name, workedExampleHeader(), pattern(3500), "c", &error))
        << qPrintable(error);
    DataFile loaded;
    ASSERT_EQ(readDataFile(name, &loaded, &error), DataFileStatus::Ok);
    EXPECT_EQ(loaded.data, pattern(3500));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "run.kdx" });

    // The replaced file keeps its permission bits.
    ASSERT_EQ(::chmod(QFile::encodeName(name).constData(), 0600), 0);
    ASSERT_TRUE(saveDataFile(name, workedExampleHeader(), pattern(10), "c", &error));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(name).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(DataFile, FailedSaveKeepsTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath("run.kdx");
    writeAll(name, "old contents");
    QString error;

    // A file of the user's named like an old temporary file is no obstacle, and stays.
    writeAll(name + ".saving", "the user's notes");
    EXPECT_TRUE(saveDataFile(name, workedExampleHeader(), pattern(10), {}, &error));
    EXPECT_EQ(readAll(name + ".saving"), QByteArray("the user's notes"));
    writeAll(name, "old contents");

    // The target is a folder: the rename fails and the temporary file is removed.
    const QString folder = dir.filePath("folder.kdx");
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.kdx/inside"));
    EXPECT_FALSE(saveDataFile(folder, workedExampleHeader(), pattern(100), {}, &error));
    EXPECT_EQ(error, QStringLiteral("Cannot create file %1").arg(folder));

    // The folder of the target is a file.
    const QString underFile = dir.filePath("run.kdx/x.kdx");
    EXPECT_FALSE(saveDataFile(underFile, workedExampleHeader(), {}, {}, &error));
    EXPECT_EQ(readAll(name), QByteArray("old contents"));

    // A name that uses all 255 bytes of a folder entry (Cyrillic letters take two) is saved.
    const QString longName = dir.filePath(QString(125, QChar(0x0416)) + QStringLiteral(".kdx"));
    EXPECT_TRUE(saveDataFile(longName, workedExampleHeader(), pattern(100), {}, &error))
        << qPrintable(error);
    DataFile loaded;
    EXPECT_EQ(readDataFile(longName, &loaded), DataFileStatus::Ok);
    EXPECT_EQ(loaded.data, pattern(100));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({ "folder.kdx", "run.kdx", "run.kdx.saving", QFileInfo(longName).fileName() }));
}

TEST(DataFile, SaveIntoReadOnlyFolderOrFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath("run.kdx");
    writeAll(name, "old contents");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    QString error;
    QString reason;
    EXPECT_FALSE(saveDataFile(name, workedExampleHeader(), pattern(100), {}, &error, &reason));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(error, QStringLiteral("Cannot create file %1").arg(name));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(readAll(name), QByteArray("old contents"));

    // A read-only file in a writable folder is not replaced either.
    ASSERT_EQ(::chmod(QFile::encodeName(name).constData(), 0444), 0);
    EXPECT_FALSE(saveDataFile(name, workedExampleHeader(), pattern(100), {}, &error, &reason));
    EXPECT_EQ(error, QStringLiteral("Cannot create file %1").arg(name));
    EXPECT_EQ(readAll(name), QByteArray("old contents"));
}
