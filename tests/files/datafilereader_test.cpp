#include "files/datafile.h"
#include "files/windows1251.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace files;
using namespace filestest;

// Saving before any recording, and loading that file again.
TEST(DataFileReader, EmptySaveAndItsReload)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    DataFileHeader initial;
    initial.YTitle = QStringLiteral("единицы АЦП");
    const QString name = dir.filePath("empty.kdx");
    QString error;
    ASSERT_TRUE(saveDataFile(name, initial, {}, QStringLiteral("abc"), &error))
        << qPrintable(error);
    const QByteArray expected = QByteArray::fromHex("0100100100"
                                                    "00000000"
                                                    "0000000000000000"
                                                    "0000000000000000"
                                                    "00000000"
                                                    "00")
        + toWindows1251(QStringLiteral("единицы АЦП")) + QByteArray(1, '\0') + "abc";
    EXPECT_EQ(readBytes(name).toHex(), expected.toHex());

    DataFile loaded;
    ASSERT_EQ(readDataFile(name, &loaded, &error), DataFileStatus::Ok);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(loaded.data.isEmpty());
    EXPECT_EQ(loaded.header.DataLength, 0u);
    EXPECT_EQ(loaded.header.ChannelIntervalUs, 0.0);
    EXPECT_EQ(loaded.header.XTitle, QString());
    EXPECT_EQ(loaded.header.YTitle, QStringLiteral("единицы АЦП"));
    EXPECT_EQ(loaded.comment(), QStringLiteral("abc"));
}

// Every cut of a saved file, read from disk: the loader hands over nothing and names the
// fault; the summary keeps the header of a file that ends inside its data.
TEST(DataFileReader, TruncatedFilesHandOverNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray good
        = encodeDataFile(recordingHeader(), QByteArray(500, 'd'), QStringLiteral("comment"));
    const qsizetype dataStart = good.size() - 500 - 7;
    const QString name = dir.filePath("cut.kdx");
    for (qsizetype cut : { qsizetype(0), qsizetype(1), qsizetype(2), qsizetype(16), qsizetype(28),
             qsizetype(29), qsizetype(35), dataStart - 1, dataStart, dataStart + 499 }) {
        writeBytes(name, good.left(cut));
        DataFile loaded;
        loaded.data = "stale";
        QString error;
        const DataFileStatus status = readDataFile(name, &loaded, &error);
        EXPECT_EQ(status, cut < 2 ? DataFileStatus::NotInstrumentFile : DataFileStatus::Truncated)
            << cut;
        EXPECT_TRUE(loaded.data.isEmpty() && loaded.commentBytes.isEmpty()) << cut;
        if (cut >= 2) {
            EXPECT_EQ(error, QStringLiteral("Ошибка чтения потока")) << cut;
        }

        DataFileSummary summary;
        EXPECT_EQ(readDataFileSummary(name, &summary), status) << cut;
        if (cut >= dataStart) {
            EXPECT_EQ(summary.header.YTitle, QStringLiteral("Температура")) << cut;
        }
    }
    // The whole file, and with the comment only partly there (a shorter comment is still a
    // whole file: the comment runs to the end).
    writeBytes(name, good);
    DataFile loaded;
    ASSERT_EQ(readDataFile(name, &loaded), DataFileStatus::Ok);
    EXPECT_EQ(loaded.data, QByteArray(500, 'd'));
    EXPECT_EQ(loaded.commentBytes, QByteArray("comment"));
    writeBytes(name, good.left(good.size() - 3));
    ASSERT_EQ(readDataFile(name, &loaded), DataFileStatus::Ok);
    EXPECT_EQ(loaded.commentBytes, QByteArray("comm"));
}

// A DataLength beyond the end of the file is refused before memory is taken for it (under
// AddressSanitizer an allocation of 4 GiB would abort the test).
TEST(DataFileReader, DataLengthBeyondTheFileIsRefusedUnread)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray bytes = encodeDataFile(recordingHeader(), QByteArray(1000, 'd'), {});
    bytes[5] = bytes[6] = bytes[7] = bytes[8] = char(0xFF);
    const QString name = dir.filePath("huge.kdx");
    writeBytes(name, bytes);
    DataFile loaded;
    QString error;
    EXPECT_EQ(readDataFile(name, &loaded, &error), DataFileStatus::Truncated);
    EXPECT_EQ(error, QStringLiteral("Ошибка чтения потока"));
    EXPECT_EQ(decodeDataFile(bytes, &loaded), DataFileStatus::Truncated);

    // One byte short of DataLength is as bad as four gigabytes.
    bytes = encodeDataFile(recordingHeader(), QByteArray(1000, 'd'), {});
    bytes[5] = char(0xE9); // 1001
    bytes[6] = char(0x03);
    writeBytes(name, bytes);
    EXPECT_EQ(readDataFile(name, &loaded, &error), DataFileStatus::Truncated);
}

// A FIFO is refused at once (opening it for reading would wait for a writer, reading it
// for ever); a folder cannot be opened; a missing file neither.
TEST(DataFileReader, OnlyRegularFilesAreRead)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("pipe.kdx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    DataFile loaded;
    DataFileSummary summary;
    QString error;
    EXPECT_EQ(readDataFile(fifo, &loaded, &error), DataFileStatus::NotRegularFile);
    EXPECT_EQ(error, QStringLiteral("Не удаётся открыть файл %1: это не обычный файл").arg(fifo));
    EXPECT_EQ(readDataFileSummary(fifo, &summary, 100, &error), DataFileStatus::NotRegularFile);

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.kdx"));
    const QString folder = dir.filePath("folder.kdx");
    EXPECT_EQ(readDataFile(folder, &loaded, &error), DataFileStatus::CannotOpen);
    EXPECT_EQ(error, QStringLiteral("Не удаётся открыть файл %1").arg(folder));
    EXPECT_EQ(readDataFileSummary(folder, &summary, 100, &error), DataFileStatus::CannotOpen);

    const QString missing = dir.filePath("missing.kdx");
    EXPECT_EQ(readDataFile(missing, &loaded, &error), DataFileStatus::CannotOpen);
    EXPECT_EQ(error, QStringLiteral("Не удаётся открыть файл %1").arg(missing));
    EXPECT_EQ(readDataFile(QString(), &loaded, &error), DataFileStatus::CannotOpen);

    // The descriptor entry points refuse anything but a regular file too.
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readDataFile(fd, &loaded), DataFileStatus::NotRegularFile);
    EXPECT_EQ(readDataFileSummary(fd, &summary, 100), DataFileStatus::NotRegularFile);
    ::close(fd);
}

// The summary reads header, titles and at most the asked part of the comment.
TEST(DataFileReader, SummaryWithBoundedComment)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath("run.kdx");
    const QString comment = QStringLiteral("первая\r\nвторая\rтретья\n");
    writeDataFile(name, comment, 480000);

    DataFileSummary summary;
    QString error;
    ASSERT_EQ(readDataFileSummary(name, &summary, UnlimitedComment, &error), DataFileStatus::Ok);
    EXPECT_EQ(summary.header.DataLength, 480000u);
    EXPECT_EQ(summary.header.XTitle, QStringLiteral("Время, мкс"));
    EXPECT_EQ(summary.header.ChartChannelBits, 0x07);
    EXPECT_EQ(summary.commentSize, toWindows1251(comment).size() + 2);
    EXPECT_FALSE(summary.commentCut());
    EXPECT_EQ(summary.commentLines(),
        QStringList(
            { QStringLiteral("первая"), QStringLiteral("вторая"), QStringLiteral("третья") }));

    ASSERT_EQ(readDataFileSummary(name, &summary, 8), DataFileStatus::Ok);
    EXPECT_TRUE(summary.commentCut());
    EXPECT_EQ(summary.commentBytes, toWindows1251(QStringLiteral("первая\r\n")));

    // A title without an end inside the file is a truncation, not a read past it.
    QByteArray open = encodeDataFile(recordingHeader(), {}, {});
    open.chop(1);
    writeBytes(name, open);
    EXPECT_EQ(readDataFileSummary(name, &summary), DataFileStatus::Truncated);
}

// Titles longer than the reader keeps are cut, and the data after them is still found.
TEST(DataFileReader, VeryLongTitleIsCutButSkipped)
{
    DataFileHeader h = recordingHeader();
    h.XTitle = QString(MaxTitleBytes + 5000, u'x');
    const QByteArray bytes = encodeDataFile(h, QByteArray(10, 'd'), QStringLiteral("c"));
    DataFile loaded;
    ASSERT_EQ(decodeDataFile(bytes, &loaded), DataFileStatus::Ok);
    EXPECT_EQ(loaded.header.XTitle.size(), MaxTitleBytes);
    EXPECT_EQ(loaded.header.YTitle, QStringLiteral("Температура"));
    EXPECT_EQ(loaded.data, QByteArray(10, 'd'));
    EXPECT_EQ(loaded.commentBytes, QByteArray("c"));
}

TEST(DataFileReader, SplitLines)
{
    EXPECT_EQ(splitLines(QString()), QStringList());
    EXPECT_EQ(splitLines(QStringLiteral("a")), QStringList({ "a" }));
    EXPECT_EQ(splitLines(QStringLiteral("a\r\n")), QStringList({ "a" }));
    EXPECT_EQ(
        splitLines(QStringLiteral("a\r\n\r\nb\rc\nd")), QStringList({ "a", "", "b", "c", "d" }));
    EXPECT_EQ(splitLines(QStringLiteral("\n\r")), QStringList({ "", "" }));
    EXPECT_EQ(splitLines(QStringLiteral("\r\n")), QStringList({ "" }));
}
