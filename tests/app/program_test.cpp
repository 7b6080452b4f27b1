// The window program run as a real process: its options without a display, a data file named
// on its command line, and SIGTERM
// while the start-up message box is up.
#include "files/datafile.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

QString program()
{
    return qEnvironmentVariable("FERRUN_BIN_DIR") + QStringLiteral("/ferrun");
}

// An environment without any display and without a chosen platform.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        env.remove(QString::fromLatin1(name));
    return env;
}

struct ProgramRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun runWithoutDisplay(const QStringList &args)
{
    QProcess process;
    process.setProcessEnvironment(withoutDisplay());
    process.start(program(), args);
    ProgramRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "ferrun did not finish";
        return run;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "crashed";
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// True once the process has a handler of its own for SIGTERM.
bool catchesTerm(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1));
    return false;
}

} // namespace

TEST(WindowProgram, HelpVersionAndBadOptionsNeedNoDisplay)
{
    const ProgramRun help = runWithoutDisplay({ QStringLiteral("--help") });
    EXPECT_EQ(help.exitCode, 0) << qPrintable(help.err);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("usage: ferrun [options] [FILE.kdx]\n")))
        << qPrintable(help.out);
    for (const char *text : { "--device PATH", "--simulator", "--version", "exit status:" })
        EXPECT_TRUE(help.out.contains(QLatin1String(text))) << text;
    EXPECT_TRUE(help.err.isEmpty()) << qPrintable(help.err);
    EXPECT_EQ(runWithoutDisplay({ QStringLiteral("-h") }).out, help.out);

    const ProgramRun version = runWithoutDisplay({ QStringLiteral("--version") });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("ferrun "))) << qPrintable(version.out);

    for (const QStringList &bad :
        { QStringList { QStringLiteral("--bogus") }, QStringList { QStringLiteral("--device") },
            QStringList { QStringLiteral("--simulator"), QStringLiteral("--device=/dev/null") },
            QStringList { QStringLiteral("a.kdx"), QStringLiteral("b.kdx") } }) {
        SCOPED_TRACE(bad.join(u' ').toStdString());
        const ProgramRun run = runWithoutDisplay(bad);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_EQ(run.err.count(u'\n'), 1) << qPrintable(run.err);
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("ferrun: "))) << qPrintable(run.err);
    }
}

// A data file named on the command line, as a file manager opens one, is opened once the
// window is up: the picture the window takes of itself shows its chart.
TEST(WindowProgram, OpensTheDataFileNamedOnTheCommandLine)
{
    QTemporaryDir dir;
    // A copy of its own keeps its settings beside it: a first run's colours.
    const QString copy = dir.filePath(QStringLiteral("ferrun"));
    ASSERT_TRUE(QFile::copy(program(), copy));
    // T1 alone: a saw tooth over 6000 samples, drawn across the whole chart.
    files::DataFileHeader header;
    header.ChartChannelBits = 0x01;
    header.ChannelIntervalUs = 100;
    header.ValueScale = files::ValueScale500;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    QByteArray data;
    for (int i = 0; i < 6000; ++i) {
        const int code = (i * 37) % 4096;
        data.append(char(code & 0xFF));
        data.append(char((code >> 8) << 4));
    }
    const QString recording = dir.filePath(QStringLiteral("опыт 1.kdx"));
    {
        QFile out(recording);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(files::encodeDataFile(header, data, QStringLiteral("saw tooth")));
    }
    const auto bluish = [](const QImage &image) {
        int count = 0;
        // Right of the frequency panel the screenshot opens, inside the chart.
        for (int y = 140; y < image.height() - 90; ++y)
            for (int x = 320; x < image.width() - 80; ++x) {
                const QColor c = image.pixelColor(x, y);
                count += c.blue() > c.red() + 80 && c.blue() > c.green() + 20;
            }
        return count;
    };
    for (const bool withFile : { false, true }) {
        SCOPED_TRACE(withFile ? "with the file" : "without a file");
        const QString shot = dir.filePath(QStringLiteral("shot.png"));
        QFile::remove(shot);
        QProcess process;
        process.setProcessEnvironment(withoutDisplay());
        QStringList args { QStringLiteral("-platform"), QStringLiteral("offscreen"),
            QStringLiteral("--simulator"), QStringLiteral("--screenshot"), shot };
        if (withFile)
            args << recording;
        process.start(copy, args);
        ASSERT_TRUE(process.waitForFinished(30000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        const QImage image = QImage(shot).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(image.isNull());
        if (withFile)
            EXPECT_GT(bluish(image), 200);
        else
            EXPECT_EQ(bluish(image), 0);
    }
}

// The settings live beside the program: a copy of it runs in a folder of its own.
namespace {

// Starts a copy of the program in `folder` on a device that cannot be opened, so that start-up
// shows "АЦП не обнаружено" and waits for OK, and ends it with SIGTERM while the box is up.
void terminateWhileTheStartUpMessageIsUp(const QString &folder, QProcess &process)
{
    const QString copy = folder + QStringLiteral("/ferrun");
    ASSERT_TRUE(QFile::copy(program(), copy));
    process.setProcessEnvironment(withoutDisplay());
    // The toolkit's own option chooses the platform.
    process.start(copy,
        { QStringLiteral("-platform"), QStringLiteral("offscreen"),
            QStringLiteral("--device=") + folder + QStringLiteral("/none") });
    ASSERT_TRUE(process.waitForStarted());
    for (int i = 0; i < 500 && !catchesTerm(process.processId()); ++i)
        QThread::msleep(10);
    ASSERT_TRUE(catchesTerm(process.processId()));
    QThread::msleep(300); // the box is up by now; before it, the signal is handled the same
    ASSERT_EQ(process.state(), QProcess::Running) << "ended without being asked";
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

} // namespace

TEST(WindowProgram, TerminationWhileTheStartUpMessageIsUpWritesTheSettings)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Ferrun.ini"));
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Окно F/T]\r\nF=3000\r\n").toUtf8());
    }
    QProcess process;
    terminateWhileTheStartUpMessageIsUp(dir.path(), process);

    QFile written(ini);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QString text = QString::fromLocal8Bit(written.readAll());
    // Every key was written back, the stored frequency among them.
    EXPECT_TRUE(text.contains(QStringLiteral("F=3000"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("Chart skip Points="))) << qPrintable(text);
}

// Settings that cannot be written do not hold up a close asked for by a signal: the message
// box is closed at once, and the failure is on standard error.
TEST(WindowProgram, TerminationWithUnwritableSettingsEndsAndSaysWhy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Ferrun.ini"));
    ASSERT_TRUE(QDir().mkdir(ini)); // a folder in the file's place: even root cannot write it
    QProcess process;
    terminateWhileTheStartUpMessageIsUp(dir.path(), process);
    const QString error = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(error.contains(QStringLiteral("ferrun: Unable to write to ") + ini))
        << qPrintable(error);
}
