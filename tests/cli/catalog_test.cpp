#include "files/datafile.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

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

// Entries that are not readable data files are skipped, each named (escaped) with its cause on
// standard error; every data file is listed, and the exit status says some were skipped.
TEST_F(CliCatalog, SkipsWhatItCannotList)
{
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    };
    write("b2.kdx", QByteArray::fromHex("0200100107") + QByteArray(100, 'x'));
    const QByteArray whole
        = files::encodeDataFile(clitest::titledHeader(), QByteArray(3500, 'd'), "lost");
    write("b3\x1b[2J.kdx", whole.left(2000));
    ASSERT_TRUE(QDir(dir.path()).mkdir("b4.kdx"));
    const bool root = ::geteuid() == 0;
    if (!root) {
        writeDataFile(dir.filePath("b5.kdx"), "secret");
        ASSERT_TRUE(QFile::setPermissions(dir.filePath("b5.kdx"), {}));
    }
    const QString all = QStringLiteral("=v=a.kdx=v=\nпечь 1\nтемпература 800\nТемпература воздуха\n"
                                       "=v=b.kdx=v=\n=v=C.KDX=v=\n=v=a.kdx=v=\nтемп\\x1b[31m\n");
    QStringList notes { dir.filePath("b2.kdx")
            + ": is not an instrument data file (its type field is 2, not 1)",
        dir.filePath("b3\\x1b[2J.kdx")
            + QStringLiteral(": ends inside its data: 2000 bytes, %1 needed").arg(whole.size() - 4),
        dir.filePath("b4.kdx") + ": is a folder, not a data file" };
    if (!root)
        notes << dir.filePath("b5.kdx") + ": cannot be opened: Permission denied";
    for (QString &note : notes)
        note = "ferrun-cli catalog: " + note;

    CliRun run = runCatalog({ dir.path() });
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.out, all);
    EXPECT_EQ(run.err, notes.join('\n') + '\n');

    run = runCatalog({ dir.path(), "--find", QStringLiteral("темп") });
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.out,
        QStringLiteral("a.kdx:температура 800\na.kdx:Температура воздуха\nC.KDX:темп\\x1b[31m\n"));
    EXPECT_EQ(run.err, notes.join('\n') + '\n');
}

// Comments are listed and searched whole however long: a word 1.1 MB into a line of 1.2 MB,
// one across the boundary of two chunks of the file (64 KiB). A matching line longer than
// what is kept while searching is printed whole.
TEST_F(CliCatalog, LongCommentsWhole)
{
    const QString first = QString(65533, u'x') + QStringLiteral("грань") + QString(1100000, u'y')
        + QStringLiteral("слово") + u'z';
    writeDataFile(dir.filePath("b.kdx"), first + QStringLiteral("\r\nкороткая\r\nслово в конце"));

    CliRun run = runCatalog({ dir.path() });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out,
        QStringLiteral("=v=a.kdx=v=\nпечь 1\nтемпература 800\nТемпература воздуха\n"
                       "=v=b.kdx=v=\n%1\nкороткая\nслово в конце\n"
                       "=v=C.KDX=v=\n=v=a.kdx=v=\nтемп\\x1b[31m\n")
            .arg(first));

    run = runCatalog({ dir.path(), "--find", QStringLiteral("СЛОВО") });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out, QStringLiteral("b.kdx:%1\nb.kdx:слово в конце\n").arg(first));
    run = runCatalog({ dir.path(), "--find", QStringLiteral("xГРАНЬy") });
    EXPECT_EQ(run.out, QStringLiteral("b.kdx:%1\n").arg(first));
    run = runCatalog({ dir.path(), "--find", QStringLiteral("xГРАНЬy"), "--case" });
    EXPECT_EQ(run.out, QString());
}

// Standard output that cannot be written: one line naming the error, exit status 1.
TEST_F(CliCatalog, FullDiskFails)
{
    writeDataFile(dir.filePath("b.kdx"), QString(200000, u'x'));
    for (const QStringList &args :
        { QStringList { dir.path() }, QStringList { dir.path(), "--find", "x" } }) {
        QProcess process;
        process.setStandardOutputFile("/dev/full");
        process.start(clitest::program("ferrun-cli"), QStringList { "catalog" } + args);
        const CliRun run = clitest::finished(process);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(args.join(' '));
        EXPECT_EQ(run.err,
            "ferrun-cli catalog: cannot write to standard output: No space left on device\n");
    }
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
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.err,
        "ferrun-cli catalog: cannot read the folder " + dir.filePath("missing")
            + ": No such file or directory\n");

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
