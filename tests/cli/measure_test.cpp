#include "files/datafile.h"
#include "files/windows1251.h"
#include "tests/cli/clirun.h"
#include "tests/support/lockedfolder.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using clitest::CliRun;
using clitest::runCli;

QMap<QString, QString> info(const QString &file)
{
    const CliRun run = runCli({ "info", file });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    QMap<QString, QString> values;
    for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf('=');
        values.insert(line.left(eq), line.mid(eq + 1));
    }
    return values;
}

// The dividers the frequency/time panel chooses, through the real program.
int samplePeriodCycles(const QString &timeMs, const QString &samples)
{
    const CliRun run = runCli({ "dividers", "--time", timeMs, "--samples", samples });
    for (const QString &line : run.out.split('\n'))
        if (line.startsWith("SamplePeriodCycles="))
            return line.mid(19).toInt();
    return 0;
}

} // namespace

TEST(CliMeasure, SimulatorMeasurementSavedAndDescribed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("run.kdx");
    const CliRun run = runCli({ "measure", "--simulator", "--time", "300", "--samples", "30000",
        "--channels", "1,2", "-o", file, "--comment", "печь 1\nΔT≈2" });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    // What the file's code page cannot hold is named first.
    EXPECT_TRUE(run.err.startsWith("ferrun-cli measure: the comment's characters Δ≈ cannot be "
                                   "stored in a data file (Windows-1251); they are saved as '?'\n"))
        << qPrintable(run.err);
    // Standard error is no terminal: no progress, only what was saved.
    EXPECT_TRUE(run.err.endsWith("\nferrun-cli measure: saved " + file + ": 60000 bytes of data\n"))
        << qPrintable(run.err);
    EXPECT_EQ(run.err.count('\n'), 2) << qPrintable(run.err);

    const QMap<QString, QString> values = info(file);
    EXPECT_EQ(values.value("FileType"), "1");
    EXPECT_EQ(values.value("ChartChannelBits"), "3");
    EXPECT_EQ(values.value("DataLength"), "60000");
    const int cycles = samplePeriodCycles("300", "30000");
    ASSERT_GT(cycles, 0);
    // In the shortest form that reads back exactly.
    EXPECT_EQ(values.value("ChannelIntervalUs").toDouble(), 2 * (cycles / 14.7456));
    EXPECT_LE(values.value("ChannelIntervalUs").size(), 18)
        << qPrintable(values.value("ChannelIntervalUs"));
    EXPECT_EQ(values.value("ValueScale"), "0.06103515625");
    EXPECT_EQ(values.value("ValueOffset"), "0");
    EXPECT_EQ(values.value("XTitle"), "Время, мкс");
    EXPECT_EQ(values.value("YTitle"), "Температура");
    EXPECT_EQ(values.value("CommentBytes"), "12");

    files::DataFile loaded;
    ASSERT_EQ(files::readDataFile(file, &loaded), files::DataFileStatus::Ok);
    EXPECT_EQ(loaded.commentBytes, files::toWindows1251("печь 1\r\n?T?2"));
    EXPECT_EQ(loaded.data.size(), 60000);
}

TEST(CliMeasure, AveragingRangeAndPhotodiodeLaunch)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("avg.kdx");
    const CliRun run = runCli({ "measure", "--simulator", "--time", "200", "--average", "--range",
        "500", "--launch", "photodiode", "--channels", "7", "-o", file });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const QMap<QString, QString> values = info(file);
    EXPECT_EQ(values.value("ChartChannelBits"), QString::number(0x80 | 0x40));
    EXPECT_EQ(values.value("DataLength"), "3500");
    EXPECT_EQ(values.value("ValueScale"), "0.1220703125");
    EXPECT_EQ(values.value("CommentBytes"), "0");
}

TEST(CliMeasure, BadArgumentsAndUnknownFiles)
{
    const QList<QStringList> bad = {
        { "measure", "--simulator" },
        { "measure", "-o", "x.kdx", "--range", "300" },
        { "measure", "-o", "x.kdx", "--channels", "1,8" },
        { "measure", "-o", "x.kdx", "--freq", "1000", "--time", "100" },
        { "measure", "-o", "x.kdx", "--samples", "45000" },
        { "measure", "-o", "x.kdx", "--average", "--samples", "60000" },
        { "measure", "-o", "x.kdx", "--device", "/dev/null", "--simulator" },
        { "measure", "-o", "x.kdx", "--launch", "sometimes" },
        { "measure", "-o", "x.kdx", "--channels", "1,3,1" },
        { "measure", "-o", "x.kdx", "--wait-for-board", "--sysfs-root", "/nonexistent" },
    };
    for (const QStringList &args : bad) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(args.join(' '));
        EXPECT_TRUE(run.err.startsWith("ferrun-cli")) << qPrintable(run.err);
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile other(dir.filePath("other.kdx"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray::fromHex("02001001"));
    other.close();
    CliRun run = runCli({ "info", other.fileName() });
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains("not an instrument data file")) << qPrintable(run.err);
    run = runCli({ "info", dir.filePath("missing.kdx") });
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains("cannot be opened: No such file or directory"));
}

// An unwritable target is refused before anything is recorded. A folder that stops taking new
// files while the board waits for its trigger lets the check pass and the save fail: the old
// file is never rewritten in place, and the recording goes to the recovery store, named.
TEST(CliMeasure, UnwritableTargetKeepsOldFileAndRecording)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile notAFolder(dir.filePath("plain"));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    CliRun run = runCli({ "measure", "--simulator", "-o", dir.filePath("plain/run.kdx") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot write " + dir.filePath("plain/run.kdx")))
        << qPrintable(run.err);
    EXPECT_FALSE(run.err.contains("saved")) << "nothing may be recorded first";
    // A folder as the target, a folder that is not there before "..", and a name that fills a
    // whole folder entry.
    run = runCli({ "measure", "--simulator", "-o", dir.path() });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot write " + dir.path() + ": Is a directory"))
        << qPrintable(run.err);
    run = runCli({ "measure", "--simulator", "-o", dir.filePath("none/../run.kdx") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.endsWith("none/../run.kdx: No such file or directory\n"))
        << qPrintable(run.err);
    const QString longName = dir.filePath(QString(251, u'r') + QStringLiteral(".kdx"));
    run = runCli(
        { "measure", "--simulator", "--time", "200", "--samples", "30000", "-o", longName });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(info(longName).value("DataLength"), "60000");

    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    const QString target = folder + "/run.kdx";
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old recording");
    old.close();
    QTemporaryDir rescue;
    ASSERT_TRUE(rescue.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", rescue.path());
    clitest::Board board({ "--speed", "100" });
    ASSERT_FALSE(board.device.isEmpty());
    QProcess cli;
    cli.setProcessEnvironment(env);
    clitest::startPhotodiodeMeasure(
        cli, board.device, target, { "--time", "200", "--samples", "30000", "--comment", "печь" });
    const QByteArray waiting = clitest::readErrorUntil(cli, "waiting for the photodiode trigger");
    ASSERT_TRUE(waiting.contains("waiting for the photodiode trigger")) << waiting.constData();
    {
        const testsupport::LockedFolder locked(folder);
        if (!locked.locked())
            GTEST_SKIP() << "no folder here can be made to refuse new files";
        board.process.write("trigger\n");
        ASSERT_TRUE(board.process.waitForBytesWritten(5000));
        run = clitest::finished(cli);
    }
    EXPECT_EQ(run.exitCode, 1) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("cannot write " + target
        + ": no temporary file can be made "
          "beside it"))
        << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("never rewritten in place")) << qPrintable(run.err);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old recording"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({ "run.kdx" }));
    const QString store = rescue.filePath("Ferrun/recovery");
    const QStringList kept = QDir(store).entryList({ "*-unsaved.kdx" });
    ASSERT_EQ(kept.size(), 1) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(kept.first()));
    const QMap<QString, QString> entry = info(store + "/" + kept.first());
    EXPECT_EQ(entry.value("DataLength"), "60000");
    // Its comment says what it is, then holds the user's.
    EXPECT_TRUE(entry.value("Comment").startsWith("Ferrun recovery: not saved by measure"))
        << qPrintable(entry.value("Comment"));
    EXPECT_TRUE(entry.value("Comment").endsWith("печь")) << qPrintable(entry.value("Comment"));
}

// A board that falls silent in the middle of the transfer: 10 s after the last block the
// command gives up, leaves the target alone and keeps the blocks received aside.
TEST(CliMeasure, NoReplyFromTheInstrument)
{
    clitest::Board board({ "--speed", "100", "--stall-after", "50" }); // 0x0A, then 49 blocks
    ASSERT_FALSE(board.device.isEmpty());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("none.kdx");
    const CliRun run = runCli({ "measure", "--device", board.device, "--time", "200", "--samples",
        "30000", "-o", target });
    EXPECT_EQ(run.exitCode, 3) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("no reply from the instrument")) << qPrintable(run.err);
    EXPECT_FALSE(QFile::exists(target));
    files::DataFile kept;
    ASSERT_EQ(files::readDataFile(target + ".faulty", &kept), files::DataFileStatus::Ok)
        << qPrintable(run.err);
    EXPECT_EQ(kept.data.size(), 49 * 500);
    EXPECT_TRUE(run.err.contains(target + ".faulty")) << qPrintable(run.err);
}
