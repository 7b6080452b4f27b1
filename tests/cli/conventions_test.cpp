// One convention for names, statuses and messages across the commands of ferrun-cli: an empty
// name is a bad argument, a kind of target gets the same status from every command, the path
// is taken as the system takes it, every message reads "ferrun-cli COMMAND: ..." and names are
// escaped without ambiguity.
#include "tests/cli/clirun.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using clitest::CliRun;
using clitest::runCli;

namespace {

class CliConventions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        input = clitest::writeDataFile(
            dir.filePath("run.kdx"), clitest::titledHeader(), QByteArray(600, 'r'), "a\tb\na\\tb");
    }

    // The commands that write a target, each with `out` as its target.
    QList<QStringList> writers(const QString &out) const
    {
        return {
            { "export", input, "-o", out },
            { "plot", input, "--format", "svg", "-o", out },
            { "measure", "--simulator", "-o", out },
            { "cycle", "--simulator", "--one-file", "-o", out },
        };
    }

    QTemporaryDir dir;
    QString input;
};

} // namespace

TEST_F(CliConventions, AnEmptyNameIsABadArgument)
{
    const QList<QPair<QStringList, QString>> cases {
        { { "export", input, "-o", "" }, "-o/--output" },
        { { "plot", input, "-o", "" }, "-o/--output" },
        { { "plot", input, "-o", dir.filePath("x.svg"), "--settings", "" }, "--settings" },
        { { "measure", "--simulator", "-o", "" }, "-o/--output" },
        { { "measure", "--device", "", "-o", dir.filePath("x.kdx") }, "--device" },
        { { "cycle", "--simulator", "--output=" }, "-o/--output" },
        { { "info", "" }, "FILE" },
        { { "export", "" }, "FILE" },
        { { "stats", "" }, "FILE" },
        { { "catalog", "" }, "DIR" },
        { { "recovered", "--store", "" }, "--store" },
    };
    for (const auto &[args, named] : cases) {
        SCOPED_TRACE(qPrintable(args.join(' ')));
        const CliRun run = runCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.outBytes.isEmpty());
        EXPECT_EQ(
            run.err, QString("ferrun-cli %1: %2 is an empty name\n").arg(args.first(), named));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "run.kdx" }));
}

// A block device is refused by rule (2) by every command; a folder, a folder that does not
// exist (also before ".."), are refused by the system (1); nothing is recorded first.
TEST_F(CliConventions, EachKindOfTargetHasOneStatus)
{
    QList<QPair<QString, int>> targets {
        { dir.path(), 1 },
        { dir.filePath("none/out.kdx"), 1 },
        { dir.filePath("none/../out.kdx"), 1 },
    };
    const QString block = dir.filePath("block");
    if (::mknod(QFile::encodeName(block).constData(), S_IFBLK | 0600, makedev(7, 250)) == 0)
        targets.append({ block, 2 });
    for (const auto &[target, status] : targets)
        for (QStringList args : writers(target)) {
            SCOPED_TRACE(qPrintable(args.join(' ')));
            const CliRun run = runCli(args);
            EXPECT_EQ(run.exitCode, status) << qPrintable(run.err);
            EXPECT_EQ(run.err.count('\n'), 1) << qPrintable(run.err);
            EXPECT_TRUE(
                run.err.startsWith(QString("ferrun-cli %1: cannot write ").arg(args.first())))
                << qPrintable(run.err);
        }
    EXPECT_FALSE(QFile::exists(dir.filePath("out.kdx")));
}

// Every message reads "ferrun-cli COMMAND: ..." in English, the option parser's too; a name is
// escaped so that a tab and a backslash followed by "t" never read the same, in messages as
// on standard output.
TEST_F(CliConventions, MessagesAndEscapes)
{
    const QList<QPair<QStringList, QString>> refused {
        { { "export", input, "--bogus" },
            "ferrun-cli export: unknown option --bogus (ferrun-cli export --help lists the "
            "options)\n" },
        { { "measure", "--freq" }, "ferrun-cli measure: --freq needs a value\n" },
        { { "measure", "--simulator=yes", "-o", "x.kdx" },
            "ferrun-cli measure: --simulator takes no value\n" },
        { { "info", dir.filePath("a\\tb\t.kdx") },
            "ferrun-cli info: " + dir.filePath("a\\\\tb\\t.kdx")
                + " cannot be opened: No such file or directory\n" },
        { { "dividers", "--freq", "10", "--time", "5" },
            "ferrun-cli dividers: give either --freq or --time, not both\n" },
    };
    for (const auto &[args, expected] : refused) {
        const CliRun run = runCli(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(run.err.toStdString(), expected.toStdString());
    }
    const CliRun info = runCli({ "info", input });
    EXPECT_TRUE(info.out.contains("\nComment=a\\tb\\r\\na\\\\tb\n")) << qPrintable(info.out);
    const CliRun catalog = runCli({ "catalog", dir.path() });
    EXPECT_EQ(catalog.out, "=v=run.kdx=v=\na\\tb\na\\\\tb\n");
    const CliRun found = runCli({ "catalog", dir.path(), "--find", "\\t" });
    EXPECT_EQ(found.out, "run.kdx:a\\\\tb\n");
}
