#include "files/catalogue.h"
#include "files/folderbrowser.h"
#include "files/windows1251.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace files;
using namespace filestest;

// Three files, the second with an empty comment: its marker line is followed directly by
// the third's. The order is that of browsing.
TEST(Catalogue, ThreeFilesOneWithEmptyComment)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeDataFile(dir.filePath("C.kdx"), QStringLiteral("третий\n"), 480000);
    writeDataFile(dir.filePath("a.kdx"), QStringLiteral("печь 1\r\nтемпература 800"));
    writeDataFile(dir.filePath("b.KDX"), {});
    writeBytes(dir.filePath("notes.txt"), "not listed");

    const Catalogue catalogue = buildCatalogue(dir.path(), DataFileSuffix);
    EXPECT_EQ(catalogue.stop, CatalogueStop::None);
    EXPECT_TRUE(catalogue.message.isEmpty());
    EXPECT_EQ(catalogue.lines(),
        QStringList({ "=v=a.kdx=v=", QStringLiteral("печь 1"), QStringLiteral("температура 800"),
            "=v=b.KDX=v=", "=v=C.kdx=v=", QStringLiteral("третий") }));
    QStringList names;
    for (const CatalogueEntry &entry : catalogue.entries)
        names.append(entry.name);
    EXPECT_EQ(names, listFolder(dir.path(), DataFileSuffix));
}

// A foreign file stops the listing after the entries before it; a file that cannot be
// opened too, with its message; a truncated file is listed without comment.
TEST(Catalogue, StopsAndDamagedFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    writeDataFile(folder + "a.kdx", QStringLiteral("first"));
    const QByteArray whole = encodeDataFile(recordingHeader(), QByteArray(1000, 'd'), "lost");
    writeBytes(folder + "b.kdx", whole.left(whole.size() - 600));
    writeForeignFile(folder + "c.kdx");
    writeDataFile(folder + "d.kdx", QStringLiteral("never listed"));

    Catalogue catalogue = buildCatalogue(folder, DataFileSuffix);
    EXPECT_EQ(catalogue.stop, CatalogueStop::ForeignFile);
    EXPECT_EQ(catalogue.stopFile, folder + "c.kdx");
    EXPECT_TRUE(catalogue.message.endsWith("ViewKDX.exe"));
    EXPECT_EQ(catalogue.lines(), QStringList({ "=v=a.kdx=v=", "first", "=v=b.kdx=v=" }));

    ASSERT_TRUE(QFile::remove(folder + "c.kdx"));
    ASSERT_TRUE(QDir(folder).mkdir("c.kdx"));
    catalogue = buildCatalogue(folder, DataFileSuffix);
    EXPECT_EQ(catalogue.stop, CatalogueStop::CannotOpen);
    EXPECT_EQ(catalogue.message, QStringLiteral("Cannot open file %1c.kdx").arg(folder));
    EXPECT_EQ(catalogue.entries.size(), 2);

    ASSERT_TRUE(QDir(folder).rmdir("c.kdx"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "c.kdx").constData(), 0600), 0);
    catalogue = buildCatalogue(folder, DataFileSuffix);
    EXPECT_EQ(catalogue.stop, CatalogueStop::CannotOpen);
    EXPECT_EQ(catalogue.entries.size(), 2);
}

TEST(Catalogue, EmptyOrMissingFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeDataFile(dir.filePath("run.dat"), {});
    Catalogue catalogue = buildCatalogue(dir.path(), DataFileSuffix);
    EXPECT_EQ(catalogue.stop, CatalogueStop::NoFiles);
    EXPECT_TRUE(catalogue.folderReadable);
    EXPECT_EQ(catalogue.message, QStringLiteral("Выберите путь, содержащий файлы .kdx"));
    EXPECT_TRUE(catalogue.lines().isEmpty());

    // Another extension lists those files.
    catalogue = buildCatalogue(dir.path(), ".dat");
    EXPECT_EQ(catalogue.lines(), QStringList({ "=v=run.dat=v=" }));

    catalogue = buildCatalogue(dir.filePath("missing"), DataFileSuffix);
    EXPECT_EQ(catalogue.stop, CatalogueStop::NoFiles);
    EXPECT_FALSE(catalogue.folderReadable);
    EXPECT_EQ(noFilesMessage({}), QStringLiteral("Выберите путь, содержащий файлы "));

    // The folder and extension of "zu:", the name that chooses a folder: nothing.
    catalogue = buildCatalogue(QString(), QString());
    EXPECT_EQ(catalogue.stop, CatalogueStop::NoFiles);
    EXPECT_EQ(catalogue.message, QStringLiteral("Выберите путь, содержащий файлы "));
}

// A comment line that begins with the marker is taken as one when an entry is opened.
TEST(Catalogue, EntryNameWalksUpToTheNearestMarker)
{
    const QStringList lines { "=v=a.kdx=v=", "one", "=v=fake.kdx=v= in a comment", "two",
        "=v=b.kdx=v=", "=v==v=", "x" };
    EXPECT_EQ(catalogueEntryName(lines, 0), "a.kdx");
    EXPECT_EQ(catalogueEntryName(lines, 1), "a.kdx");
    EXPECT_EQ(catalogueEntryName(lines, 2), "fake.kdx=v= in a comm");
    EXPECT_EQ(catalogueEntryName(lines, 3), "fake.kdx=v= in a comm");
    EXPECT_EQ(catalogueEntryName(lines, 4), "b.kdx");
    EXPECT_EQ(catalogueEntryName(lines, 6), "");
    EXPECT_EQ(catalogueEntryName(lines, 7), "");
    EXPECT_EQ(catalogueEntryName(lines, -1), "");
    EXPECT_EQ(catalogueEntryName({ "no marker", "x" }, 1), "");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeDataFile(dir.filePath("run.kdx"), QStringLiteral("=v=other.kdx=v=\r\nnext"));
    const QStringList built = buildCatalogue(dir.path(), DataFileSuffix).lines();
    ASSERT_EQ(built.size(), 3);
    EXPECT_EQ(catalogueEntryName(built, 2), "other.kdx");
}

// The search: case folded (Cyrillic too) unless asked; repeated presses cycle through the
// lines that hold the text; a text found nowhere leaves the start line as it was.
TEST(Catalogue, SearchCyclesAndFoldsCase)
{
    const QStringList lines { "=v=a.kdx=v=", QStringLiteral("температура печи"), "other",
        "=v=b.kdx=v=", QStringLiteral("Температура воды") };
    qsizetype searchLine = 0;
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("ТЕМП"), false, &searchLine), 1);
    EXPECT_EQ(searchLine, 2);
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("ТЕМП"), false, &searchLine), 4);
    EXPECT_EQ(searchLine, 0);
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("ТЕМП"), false, &searchLine), 1);

    searchLine = 0;
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("ТЕМП"), true, &searchLine), -1);
    EXPECT_EQ(searchLine, 0);
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("Темп"), true, &searchLine), 4);
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("Темп"), true, &searchLine), 4);

    searchLine = 2;
    EXPECT_EQ(findInCatalogue(lines, QStringLiteral("nowhere"), false, &searchLine), -1);
    EXPECT_EQ(searchLine, 2);
    EXPECT_EQ(findInCatalogue(lines, QString(), false, &searchLine), -1);
    EXPECT_EQ(searchLine, 2);

    // Marker lines are searched too; a start beyond a list rebuilt shorter begins at 0.
    searchLine = 40;
    EXPECT_EQ(findInCatalogue(lines, "b.KDX", false, &searchLine), 3);
    EXPECT_TRUE(lineContains(QStringLiteral("ёлка"), QStringLiteral("ЁЛ"), false));
    EXPECT_FALSE(lineContains(QStringLiteral("ёлка"), QStringLiteral("ЁЛ"), true));
}

// Each comment is taken up to its limit only.
TEST(Catalogue, LongCommentIsBounded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString line(1023, u'x');
    QString comment;
    for (int i = 0; i < 1536; ++i)
        comment += line + "\r\n";
    writeDataFile(dir.filePath("long.kdx"), comment);
    const Catalogue catalogue = buildCatalogue(dir.path(), DataFileSuffix);
    ASSERT_EQ(catalogue.entries.size(), 1);
    // 1023 whole lines of 1025 bytes, then the start of the next one.
    const QStringList lines = catalogue.entries.first().commentLines;
    ASSERT_EQ(lines.size(), MaxCatalogueCommentBytes / (line.size() + 2) + 1);
    EXPECT_EQ(lines.at(1022), line);
    EXPECT_EQ(lines.last().size(), MaxCatalogueCommentBytes % (line.size() + 2));
}
