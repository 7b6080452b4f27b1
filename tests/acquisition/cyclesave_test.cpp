#include "acquisition/cyclerun.h"
#include "files/cyclesave.h"
#include "files/datafile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

files::DataFileHeader header()
{
    files::DataFileHeader h;
    h.ChartChannelBits = 0x87;
    h.ChannelIntervalUs = 12.5;
    h.ValueScale = files::ValueScale250;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    return h;
}

QByteArray cycleArray(int k)
{
    QByteArray a(files::CycleRecordBytes, '\0');
    for (int i = 0; i < a.size(); ++i)
        a[i] = char((i * 7 + k * 31) & 0xFF);
    return a;
}

// Three stored cycles 0..2 and the empty head 3, oldest first.
std::vector<files::CycleRecord> threeCycles()
{
    return { { 0, cycleArray(0) }, { 1, cycleArray(1) }, { 2, cycleArray(2) }, { 3, {} } };
}

void expectCycleFile(const QString &name, int k)
{
    files::DataFile file;
    ASSERT_EQ(files::readDataFile(name, &file), files::DataFileStatus::Ok) << qPrintable(name);
    EXPECT_EQ(file.header.DataLength, 3500u);
    EXPECT_EQ(file.header.ChartChannelBits, 0x87);
    EXPECT_EQ(file.header.ChannelIntervalUs, 12.5);
    EXPECT_EQ(file.header.YTitle, QStringLiteral("Температура"));
    EXPECT_TRUE(file.data == cycleArray(k)) << qPrintable(name);
    EXPECT_EQ(file.comment(), QStringLiteral("печь 2\r\nзамер"));
}

} // namespace

TEST(CycleSave, FileNames)
{
    EXPECT_EQ(files::cycleFileName("/x/run.kdx", 7), "/x/run0007.kdx");
    EXPECT_EQ(files::cycleFileName("/x/run.txt", 0), "/x/run0000.kdx");
    EXPECT_EQ(files::cycleFileName("/x.d/run", 12), "/x.d/run0012.kdx");
    EXPECT_EQ(files::cycleFileName("/x/run.old.kdx", 3), "/x/run.old0003.kdx");
    EXPECT_EQ(files::cycleFileName("run.kdx", 12345), "run12345.kdx");
}

// Newest first, one file each with DataLength 3500 and the same comment; the file chosen
// is not written; a second save at once writes nothing.
TEST(CycleSave, ThreeCyclesPerCycle)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<files::CycleRecord> records = threeCycles();
    const QString chosen = dir.filePath("run.kdx");
    const files::CycleSaveResult result
        = files::saveCycleRecords(chosen, header(), records, QStringLiteral("печь 2\nзамер"));
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    EXPECT_EQ(result.written,
        QStringList({ dir.filePath("run0002.kdx"), dir.filePath("run0001.kdx"),
            dir.filePath("run0000.kdx") }));
    for (int k = 0; k < 3; ++k)
        expectCycleFile(dir.filePath(QString::asprintf("run%.4d.kdx", k)), k);
    EXPECT_FALSE(QFile::exists(chosen));
    // Only the empty head is left.
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].number, 3);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3);

    const files::CycleSaveResult again
        = files::saveCycleRecords(chosen, header(), records, QString());
    EXPECT_TRUE(again.ok());
    EXPECT_TRUE(again.written.isEmpty());
}

// A file that cannot be written stops the save: what was written is released, the failing
// record and the older ones stay and can be saved elsewhere afterwards.
TEST(CycleSave, FailureMidwayKeepsTheRecordsNotWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("run0001.kdx"));
    std::vector<files::CycleRecord> records = threeCycles();
    const QString comment = QStringLiteral("печь 2\nзамер");
    const files::CycleSaveResult result
        = files::saveCycleRecords(dir.filePath("run.kdx"), header(), records, comment);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.failedFile, dir.filePath("run0001.kdx"));
    EXPECT_TRUE(result.error.startsWith("Cannot create file")) << qPrintable(result.error);
    EXPECT_EQ(result.written, QStringList({ dir.filePath("run0002.kdx") }));
    expectCycleFile(dir.filePath("run0002.kdx"), 2);
    EXPECT_FALSE(QFile::exists(dir.filePath("run0000.kdx")));
    // No temporary file is left beside the targets.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].number, 0);
    EXPECT_TRUE(records[0].data == cycleArray(0));
    EXPECT_EQ(records[1].number, 1);
    EXPECT_TRUE(records[1].data == cycleArray(1));
    EXPECT_TRUE(records[2].data.isEmpty());

    ASSERT_TRUE(QDir(dir.path()).mkdir("other"));
    const QString elsewhere = dir.filePath("other/b.kdx");
    const files::CycleSaveResult second
        = files::saveCycleRecords(elsewhere, header(), records, comment);
    ASSERT_TRUE(second.ok()) << qPrintable(second.error);
    EXPECT_EQ(second.written,
        QStringList({ dir.filePath("other/b0001.kdx"), dir.filePath("other/b0000.kdx") }));
    expectCycleFile(dir.filePath("other/b0001.kdx"), 1);
    expectCycleFile(dir.filePath("other/b0000.kdx"), 0);
    EXPECT_EQ(records.size(), 1u);
}

TEST(CycleSave, OneFileStream)
{
    QTemporaryDir dir;
    const QByteArray stream = cycleArray(0) + cycleArray(1) + cycleArray(2);
    QString error;
    ASSERT_TRUE(files::saveCycleStream(
        dir.filePath("all.kdx"), header(), stream, QStringLiteral("x"), &error));
    files::DataFile file;
    ASSERT_EQ(files::readDataFile(dir.filePath("all.kdx"), &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.header.DataLength, 10500u);
    EXPECT_TRUE(file.data == stream);
}

TEST(CycleSave, AvailableMemoryFromMeminfo)
{
    QTemporaryDir dir;
    const auto write = [&](const QByteArray &text) {
        QFile f(dir.filePath("meminfo"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return dir.filePath("meminfo");
    };
    EXPECT_EQ(acquisition::availableMemoryBytes(
                  write("MemTotal: 100 kB\nMemFree:  50 kB\nMemAvailable:     512 kB\n")),
        524288);
    EXPECT_EQ(
        acquisition::availableMemoryBytes(write("MemAvailable: 8123456 kB")), 8123456LL * 1024);
    // An old kernel without the line, garbage, or no file: unknown.
    EXPECT_FALSE(acquisition::availableMemoryBytes(write("MemTotal: 100 kB\nMemFree: 50 kB\n")));
    EXPECT_FALSE(acquisition::availableMemoryBytes(write("MemAvailable: lots kB\n")));
    EXPECT_FALSE(acquisition::availableMemoryBytes(dir.filePath("missing")));
    EXPECT_TRUE(acquisition::availableMemoryBytes("/proc/meminfo").has_value());
}
