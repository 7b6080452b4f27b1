#include "files/datafile.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using clitest::CliRun;

CliRun runCatalog(const QStringList &args)
{
    return clitest::runCli(QStringList { "catalog" } + args);
}

void writeDataFile(const QString &name, const QString &comment)
{
    ASSERT_TRUE(files::saveDataFile(name, clitest::titledHeader(), QByteArray(3500, 'd'), comment));
}

// Three files, the second with an empty comment, the third in upper case; a text file and
// a file of the same name with another extension are not listed.
class CliCatalog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        writeDataFile(dir.filePath("a.kdx"),
            QStringLiteral("печь 1\r\nтемпература 800\r\nТемпература воздуха"));
        writeDataFile(dir.filePath("b.kdx"), {});
        writeDataFile(dir.filePath("C.KDX"), QStringLiteral("=v=a.kdx=v=\nтемп\x1b[31m"));
        QFile text(dir.filePath("notes.txt"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(CliCatalog, PrintsTheCatalogueAsThePanelShowsIt)
{
    const CliRun run = runCatalog({ dir.path() });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out,
        QStringLiteral("=v=a.kdx=v=\nпечь 1\nтемпература 800\nТемпература воздуха\n"
                       "=v=b.kdx=v=\n=v=C.KDX=v=\n=v=a.kdx=v=\nтемп\\x1b[31m\n"));
    EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
}

TEST_F(CliCatalog, FindWithAndWithoutCase)
{
    CliRun run = runCatalog({ dir.path(), "--find", QStringLiteral("ТЕМП") });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out,
        QStringLiteral("a.kdx:температура 800\na.kdx:Температура воздуха\nC.KDX:темп\\x1b[31m\n"));

    run = runCatalog({ dir.path(), QStringLiteral("--find=ТЕМП"), "--case" });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QString());

    run = runCatalog({ "--case", "-f", QStringLiteral("Темп"), "--", dir.path() });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QStringLiteral("a.kdx:Температура воздуха\n"));

    // Marker lines are not comment lines.
    run = runCatalog({ dir.path(), "--find", "kdx" });
    EXPECT_EQ(run.out, QStringLiteral("C.KDX:=v=a.kdx=v=\n"));
}

// A foreign file stops the listing after the entries before it: message and exit 2.
TEST_F(CliCatalog, ForeignFileStopsTheListing)
{
    QFile foreign(dir.filePath("b2.kdx"));
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write(QByteArray::fromHex("0200100107") + QByteArray(100, 'x'));
    foreign.close();
    const CliRun run = runCatalog({ dir.path() });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out,
        QStringLiteral("=v=a.kdx=v=\nпечь 1\nтемпература 800\nТемпература воздуха\n"
                       "=v=b.kdx=v=\n"));
    EXPECT_TRUE(run.err.contains("b2.kdx")) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("ViewKDX.exe")) << qPrintable(run.err);

    // An entry that cannot be opened: exit 1 after the entries before it.
    ASSERT_TRUE(foreign.remove());
    ASSERT_TRUE(QDir(dir.path()).mkdir("b2.kdx"));
    const CliRun folder = runCatalog({ dir.path() });
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_TRUE(folder.out.endsWith("=v=b.kdx=v=\n"));
    EXPECT_TRUE(folder.err.contains("Cannot open file")) << qPrintable(folder.err);
}

TEST(CliCatalogArguments, FoldersAndBadArguments)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CliRun run = runCatalog({ dir.path() });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains("no *.kdx files")) << qPrintable(run.err);

    run = runCatalog({ dir.filePath("missing") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot read the folder")) << qPrintable(run.err);

    run = runCatalog({ "--help" });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("--find TEXT"));
    EXPECT_TRUE(run.out.contains("exit status:"));

    for (const QStringList &args : { QStringList {}, QStringList { dir.path(), "--case" },
             QStringList { dir.path(), "--find=" }, QStringList { dir.path(), "x" },
             QStringList { dir.path(), "--find" } }) {
        run = runCatalog(args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(args.join(' '));
        EXPECT_TRUE(run.err.startsWith("ferrun-cli catalog: ")) << qPrintable(run.err);
    }
}
