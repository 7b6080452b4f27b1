#include "files/datafile.h"
#include "files/folderbrowser.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace files {
void PrintTo(const BrowseStep &step, std::ostream *os)
{
    *os << int(step.outcome) << " '" << qPrintable(step.fileName) << "'";
}
} // namespace files

using namespace files;
using namespace filestest;

namespace {

BrowseStep open(const QString &fileName)
{
    return { BrowseOutcome::Open, fileName };
}

const BrowseStep noMoreFiles { BrowseOutcome::NoMoreFiles, {} };
const BrowseStep nothing { BrowseOutcome::Nothing, {} };

} // namespace

TEST(FolderBrowser, SingleFileHasNoNeighbours)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString only = dir.filePath("only.kdx");
    writeDataFile(only, {});
    writeBytes(dir.filePath("notes.txt"), "other extension");
    EXPECT_EQ(previousDataFile(only), noMoreFiles);
    EXPECT_EQ(nextDataFile(only), noMoreFiles);
    EXPECT_EQ(noMoreFilesMessage(), QStringLiteral("Больше нет файлов"));
}

// The listing: "*.kdx" in any letter case, sub-folders and hidden entries included, other
// extensions not; ascending order ignoring case, compared in upper case ("_" after letters).
TEST(FolderBrowser, ListingOrderAndStepsWithoutWrapAround)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char *name : { "b.KDX", "A.kdx", "c.Kdx", "_first.kdx", ".hidden.kdx" })
        writeDataFile(dir.filePath(name), {});
    writeBytes(dir.filePath("run.kdx.txt"), "x");
    writeBytes(dir.filePath("kdx"), "x");
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub.kdx"));

    const QStringList expected { ".hidden.kdx", "A.kdx", "b.KDX", "c.Kdx", "sub.kdx",
        "_first.kdx" };
    EXPECT_EQ(listFolder(dir.path(), DataFileSuffix), expected);
    EXPECT_EQ(listFolder(dir.path() + "/", DataFileSuffix), expected);

    const QString folder = dir.path() + "/";
    QString current = folder + expected.first();
    EXPECT_EQ(previousDataFile(current), noMoreFiles);
    for (qsizetype i = 1; i < expected.size(); ++i) {
        const BrowseStep step = nextDataFile(current);
        ASSERT_EQ(step, open(folder + expected.at(i)));
        EXPECT_EQ(previousDataFile(step.fileName), open(current));
        current = step.fileName;
    }
    EXPECT_EQ(nextDataFile(current), noMoreFiles);

    // The sub-folder is stepped onto; opening it fails as a file that cannot be opened.
    DataFile loaded;
    QString error;
    EXPECT_EQ(readDataFile(folder + "sub.kdx", &loaded, &error), DataFileStatus::CannotOpen);
    EXPECT_EQ(error, QStringLiteral("Не удаётся открыть файл %1sub.kdx").arg(folder));
}

// A current file that is gone, or named in another letter case than the folder lists it:
// Next has no more files, Previous does nothing.
TEST(FolderBrowser, CurrentFileNotListed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    for (const char *name : { "a.kdx", "b.kdx", "c.kdx" })
        writeDataFile(folder + name, {});
    ASSERT_TRUE(QFile::remove(folder + "b.kdx"));
    EXPECT_EQ(nextDataFile(folder + "b.kdx"), noMoreFiles);
    EXPECT_EQ(previousDataFile(folder + "b.kdx"), nothing);

    EXPECT_EQ(nextDataFile(folder + "A.KDX"), noMoreFiles);
    EXPECT_EQ(previousDataFile(folder + "C.kdx"), nothing);
    EXPECT_EQ(previousDataFile(folder + "c.kdx"), open(folder + "a.kdx"));

    // An empty or missing folder.
    EXPECT_EQ(nextDataFile(folder + "none/x.kdx"), noMoreFiles);
    EXPECT_EQ(previousDataFile(folder + "none/x.kdx"), nothing);
}

// A foreign .kdx is stepped onto like any other; the next step goes past it. Each step lists
// the folder afresh.
TEST(FolderBrowser, ForeignFileAndFreshListing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    writeDataFile(folder + "a.kdx", {});
    writeForeignFile(folder + "b.kdx");
    writeDataFile(folder + "c.kdx", {});

    const BrowseStep onForeign = nextDataFile(folder + "a.kdx");
    ASSERT_EQ(onForeign, open(folder + "b.kdx"));
    DataFile loaded;
    QString error;
    EXPECT_EQ(readDataFile(onForeign.fileName, &loaded, &error), DataFileStatus::NotInstrumentFile);
    EXPECT_TRUE(error.endsWith("ViewKDX.exe"));
    EXPECT_EQ(nextDataFile(onForeign.fileName), open(folder + "c.kdx"));

    writeDataFile(folder + "a2.kdx", {});
    EXPECT_EQ(nextDataFile(folder + "a.kdx"), open(folder + "a2.kdx"));
    ASSERT_TRUE(QFile::remove(folder + "a2.kdx"));
    EXPECT_EQ(nextDataFile(folder + "a.kdx"), open(folder + "b.kdx"));
}

TEST(FolderBrowser, NameParts)
{
    EXPECT_EQ(folderPart("/d/run.kdx"), "/d/");
    EXPECT_EQ(namePart("/d/run.kdx"), "run.kdx");
    EXPECT_EQ(folderPart("run.kdx"), "");
    EXPECT_EQ(extensionPart("/d.x/run.KDX"), ".KDX");
    EXPECT_EQ(extensionPart("/d.x/run"), "");
    EXPECT_EQ(extensionPart("zu:"), "");

    // A name without a folder lists nothing, whatever the working folder holds.
    EXPECT_TRUE(listFolder(folderPart("zu:"), extensionPart("zu:")).isEmpty());
    EXPECT_EQ(nextDataFile("zu:").outcome, BrowseOutcome::NoMoreFiles);
    EXPECT_EQ(previousDataFile("zu:").outcome, BrowseOutcome::Nothing);
}
