#include "files/datafile.h"
#include "files/windows1251.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct ChildRun
{
    int exitCode = -1; // -1: killed by a signal or timed out
    QString out;
    QString err;
    long maxRssKb = 0;
};

// Runs ferrun-cli with its output in files, and takes its resource usage from wait4().
ChildRun runInfo(const QStringList &args, int timeoutMs = 60000)
{
    QTemporaryDir outDir;
    const QByteArray outName = QFile::encodeName(outDir.filePath("out"));
    const QByteArray errName = QFile::encodeName(outDir.filePath("err"));
    const QByteArray program = QFile::encodeName(clitest::program("ferrun-cli"));
    QList<QByteArray> words { program, "info" };
    for (const QString &arg : args)
        words.append(QFile::encodeName(arg));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(
        &actions, 1, outName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(
        &actions, 2, errName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned
        = posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ChildRun run;
    if (spawned != 0) {
        run.err = "cannot start ferrun-cli";
        return run;
    }
    int status = 0;
    rusage usage {};
    for (int waited = 0;; waited += 10) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (waited >= timeoutMs) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            run.err = "timed out";
            return run;
        }
        ::usleep(10000);
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.maxRssKb = usage.ru_maxrss;
    QFile out(QFile::decodeName(outName));
    QFile err(QFile::decodeName(errName));
    if (out.open(QIODevice::ReadOnly))
        run.out = QString::fromUtf8(out.readAll());
    if (err.open(QIODevice::ReadOnly))
        run.err = QString::fromUtf8(err.readAll());
    return run;
}

QString value(const ChildRun &run, const QString &key)
{
    for (const QString &line : run.out.split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    return QStringLiteral("<missing>");
}

files::DataFileHeader header()
{
    files::DataFileHeader h = clitest::titledHeader();
    h.ChartChannelBits = 0x83;
    h.ChannelIntervalUs = 621.5413411458334;
    h.ValueScale = files::ValueScale250;
    return h;
}

// A sparse file of `size` bytes: header and titles with `dataLength`, then a hole.
void writeSparse(const QString &name, quint32 dataLength, qint64 size, const QByteArray &tail)
{
    QByteArray head = files::encodeDataFile(header(), {}, {});
    for (int i = 0; i < 4; ++i)
        head[5 + i] = char((dataLength >> (8 * i)) & 0xFF);
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(head), head.size());
    ASSERT_TRUE(f.resize(size - tail.size()));
    ASSERT_TRUE(f.seek(size - tail.size()));
    ASSERT_EQ(f.write(tail), tail.size());
}

constexpr qint64 GiB = qint64(1) << 30;
constexpr long RssLimitKb = 50 * 1024;

} // namespace

// A 1 GiB file that starts like a data file: the data is seeked over and at most 1 MiB of
// the comment is read, so memory stays small whatever the file's size.
TEST(CliInfo, GigabyteFilesInBoundedMemory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bigComment = dir.filePath("comment.kdx");
    writeSparse(bigComment, 480000, GiB, "end");
    ChildRun run = runInfo({ bigComment });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_LT(run.maxRssKb, RssLimitKb);
    const qint64 commentOffset = files::encodeDataFile(header(), {}, {}).size() + 480000;
    EXPECT_EQ(value(run, "CommentBytes"), QString::number(GiB - commentOffset));
    EXPECT_EQ(value(run, "CommentCut"), "1");
    EXPECT_EQ(value(run, "Comment"), QString("\\x00").repeated(1 << 20));
    EXPECT_TRUE(run.err.contains("cut")) << qPrintable(run.err);

    const QString bigData = dir.filePath("data.kdx");
    const quint32 dataLength = quint32(GiB - 1000);
    writeSparse(bigData, dataLength,
        files::encodeDataFile(header(), {}, {}).size() + qint64(dataLength) + 3, "abc");
    run = runInfo({ bigData });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_LT(run.maxRssKb, RssLimitKb);
    EXPECT_EQ(value(run, "DataLength"), QString::number(dataLength));
    EXPECT_EQ(value(run, "Comment"), "abc");
    EXPECT_EQ(value(run, "CommentCut"), "<missing>");
    EXPECT_EQ(value(run, "TitleCut"), "<missing>");

    // A title longer than the 65536 bytes kept is cut with a note, as a long comment is.
    const QString longTitle = dir.filePath("title.kdx");
    files::DataFileHeader titled = header();
    titled.YTitle = QString(70000, u'Y');
    ASSERT_TRUE(files::saveDataFile(longTitle, titled, QByteArray(10, 'd'), "c"));
    run = runInfo({ longTitle });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(value(run, "TitleCut"), "1");
    EXPECT_EQ(value(run, "YTitle").size(), 65536);
    EXPECT_TRUE(run.err.contains("titles of 10 and 70000 bytes cut")) << qPrintable(run.err);

    // A DataLength beyond the end: refused without reading, in bounded memory too.
    const QString beyond = dir.filePath("beyond.kdx");
    writeSparse(beyond, 0xFFFFFFFFu, GiB, "x");
    run = runInfo({ beyond });
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_LT(run.maxRssKb, RssLimitKb);
    EXPECT_TRUE(run.err.contains("ends inside its data: 1073741824 bytes, 42949673"))
        << qPrintable(run.err);
}

// A FIFO with no writer and a device are refused at once with a message.
TEST(CliInfo, NonRegularFilesAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("pipe.kdx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &name : { fifo, QStringLiteral("/dev/zero") }) {
        const ChildRun run = runInfo({ name }, 20000);
        EXPECT_EQ(run.exitCode, 3) << qPrintable(name) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("is not a regular file")) << qPrintable(run.err);
        EXPECT_TRUE(run.out.isEmpty());
    }
    // Every cause named: a folder, a missing file, a loop of links.
    const QString loop = dir.filePath("loop.kdx");
    ASSERT_TRUE(QFile::link(loop, loop));
    for (const auto &[name, cause] : { std::pair { dir.path(), "is a folder" },
             std::pair { dir.filePath("missing.kdx"), "No such file or directory" },
             std::pair { loop, "Too many levels of symbolic links" } }) {
        const ChildRun run = runInfo({ name });
        EXPECT_EQ(run.exitCode, 3) << qPrintable(name);
        EXPECT_TRUE(run.err.contains(cause)) << qPrintable(run.err);
    }
}

// Titles and comment cannot reach the terminal raw.
TEST(CliInfo, ControlCharactersAreEscaped)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    files::DataFileHeader h = header();
    h.XTitle = QStringLiteral("a\x1b]0;title\x07z");
    h.YTitle = QStringLiteral("C:\\d\tТ");
    const QString name = dir.filePath("-dash.kdx");
    ASSERT_TRUE(files::saveDataFile(
        name, h, QByteArray(60000, 'd'), QStringLiteral("строка 1\r\n\x1b[2Jстрока 2\x7f\x01")));
    const ChildRun run = runInfo({ "--", name });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(value(run, "XTitle"), "a\\x1b]0;title\\x07z");
    EXPECT_EQ(value(run, "YTitle"), QStringLiteral("C:\\\\d\\tТ"));
    EXPECT_EQ(value(run, "Comment"), QStringLiteral("строка 1\\r\\n\\x1b[2Jстрока 2\\x7f\\x01"));
    EXPECT_EQ(value(run, "ChartChannelBits"), "131");
    EXPECT_EQ(value(run, "DataLength"), "60000");
    EXPECT_FALSE(run.out.contains(QChar(0x1b)));
}

TEST(CliInfo, ArgumentsAndHelp)
{
    ChildRun run = runInfo({ "--help" });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("usage: ferrun-cli info FILE")) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains("exit status:"));
    for (const QStringList &args :
        { QStringList {}, QStringList { "a.kdx", "b.kdx" }, QStringList { "--bogus", "a.kdx" } }) {
        run = runInfo(args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(args.join(' '));
        EXPECT_TRUE(run.err.startsWith("ferrun-cli info: ")) << qPrintable(run.err);
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString foreign = dir.filePath("other.kdx");
    QFile f(foreign);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromHex("0200100107"));
    f.close();
    run = runInfo({ foreign });
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains("its type field is 2, not 1")) << qPrintable(run.err);
    EXPECT_FALSE(run.err.contains("ViewKDX")) << qPrintable(run.err);
}
