#include "files/catalogue.h"
#include "files/commentstream.h"
#include "files/folderbrowser.h"
#include "files/windows1251.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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
    EXPECT_FALSE(catalogue.noFiles);
    EXPECT_TRUE(catalogue.skipped.isEmpty());
    EXPECT_TRUE(catalogue.message.isEmpty());
    EXPECT_EQ(catalogue.lines(),
        QStringList({ "=v=a.kdx=v=", QStringLiteral("печь 1"), QStringLiteral("температура 800"),
            "=v=b.KDX=v=", "=v=C.kdx=v=", QStringLiteral("третий") }));
    QStringList names;
    for (const CatalogueEntry &entry : catalogue.entries)
        names.append(entry.name);
    EXPECT_EQ(names, listFolder(dir.path(), DataFileSuffix));
}

// An entry that is not a readable data file is skipped with its cause, wherever it stands;
// every data file is listed. A file that ends inside its data has no comment to trust.
TEST(Catalogue, SkipsWhatIsNotAReadableDataFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + "/";
    writeDataFile(folder + "a.kdx", QStringLiteral("first"));
    const QByteArray whole = encodeDataFile(recordingHeader(), QByteArray(1000, 'd'), "lost");
    writeBytes(folder + "b.kdx", whole.left(whole.size() - 600));
    writeForeignFile(folder + "c.kdx");
    ASSERT_TRUE(QDir(folder).mkdir("d.kdx"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "e.kdx").constData(), 0600), 0);
    writeDataFile(folder + "f.kdx", QStringLiteral("last"));
    const bool root = ::geteuid() == 0;
    if (!root) {
        writeDataFile(folder + "g.kdx", QStringLiteral("secret"));
        ASSERT_TRUE(QFile::setPermissions(folder + "g.kdx", {}));
    }

    const Catalogue catalogue = buildCatalogue(folder, DataFileSuffix);
    EXPECT_EQ(catalogue.lines(), QStringList({ "=v=a.kdx=v=", "first", "=v=f.kdx=v=", "last" }));
    QStringList skipped;
    for (const CatalogueSkip &skip : catalogue.skipped)
        skipped << skip.name + ": " + dataFileProblemText(skip.problem);
    QStringList expected { QStringLiteral("b.kdx: ends inside its data: %1 bytes, %2 needed")
                               .arg(whole.size() - 600)
                               .arg(whole.size() - 4),
        "c.kdx: is not an instrument data file (its type field is 2, not 1)",
        "d.kdx: is a folder, not a data file", "e.kdx: is not a regular file (a FIFO)" };
    if (!root)
        expected << "g.kdx: cannot be opened: Permission denied";
    EXPECT_EQ(skipped, expected) << qPrintable(skipped.join('|'));
}

TEST(Catalogue, EmptyOrMissingFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeDataFile(dir.filePath("run.dat"), {});
    Catalogue catalogue = buildCatalogue(dir.path(), DataFileSuffix);
    EXPECT_TRUE(catalogue.noFiles);
    EXPECT_TRUE(catalogue.folderReadable);
    EXPECT_EQ(catalogue.message, QStringLiteral("Выберите путь, содержащий файлы .kdx"));
    EXPECT_TRUE(catalogue.lines().isEmpty());

    // Another extension lists those files.
    catalogue = buildCatalogue(dir.path(), ".dat");
    EXPECT_EQ(catalogue.lines(), QStringList({ "=v=run.dat=v=" }));

    catalogue = buildCatalogue(dir.filePath("missing"), DataFileSuffix);
    EXPECT_TRUE(catalogue.noFiles);
    EXPECT_FALSE(catalogue.folderReadable);
    EXPECT_EQ(noFilesMessage({}), QStringLiteral("Выберите путь, содержащий файлы "));

    // The folder and extension of "zu:", the name that chooses a folder: nothing.
    catalogue = buildCatalogue(QString(), QString());
    EXPECT_TRUE(catalogue.noFiles);
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

namespace {

// A data file whose comment is exactly `comment`'s Windows-1251 bytes.
void writeComment(const QString &name, const QByteArray &comment)
{
    writeBytes(name, encodeDataFile(recordingHeader(), QByteArray(300, 'd'), {}) + comment);
}

} // namespace

// The comment read in chunks gives the lines of splitLines() whatever the chunk size: a CR LF
// across two chunks is one break, a lone CR or LF one too, a final line without a break is a
// line, a final break adds none. A line longer than a chunk comes in pieces whose offsets say
// where they lie.
TEST(CommentStream, LinesAsSplitLinesWhateverTheChunk)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath("c.kdx");
    for (const QString &comment : { QString(), QStringLiteral("\r\n"), QStringLiteral("a"),
             QStringLiteral("печь\r\nтемпература\r\n"), QStringLiteral("\n\r\r\n\r\nx\r"),
             QStringLiteral("один\rдва\nтри\r\n\r\nчетыре") }) {
        const QByteArray bytes = toWindows1251(comment);
        writeComment(name, bytes);
        for (const qint64 chunk : { 1, 2, 3, 5, 64 }) {
            CommentStream stream(chunk);
            ASSERT_EQ(stream.open(name), DataFileStatus::Ok);
            EXPECT_EQ(stream.commentSize(), bytes.size());
            QStringList lines;
            QString line;
            CommentPiece piece;
            while (stream.next(&piece)) {
                EXPECT_LE(piece.text.size(), chunk);
                EXPECT_EQ(piece.lineNumber, lines.size() + 1);
                line += piece.text;
                QString back;
                ASSERT_TRUE(stream.readText(
                    piece.lineStart, piece.offset + piece.text.size() - piece.lineStart, &back));
                EXPECT_EQ(back, line);
                if (piece.endsLine) {
                    lines << line;
                    line.clear();
                }
            }
            EXPECT_FALSE(stream.failed());
            EXPECT_EQ(stream.position(), bytes.size());
            EXPECT_EQ(lines, splitLines(comment)) << qPrintable(comment) << " chunk " << chunk;
        }
    }
}

// The part of a comment read for the window (a limit), the rest from a line on (a seek), and
// a file that shrinks while its comment is read: the stream fails with the cause.
TEST(CommentStream, LimitSeekAndAFileThatShrinks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath("c.kdx");
    writeComment(name, "abc\r\ndef\r\nghi");
    const auto linesOf = [](CommentStream &stream) {
        QStringList lines;
        QString line;
        CommentPiece piece;
        while (stream.next(&piece)) {
            line += piece.text;
            if (piece.endsLine)
                lines << QString::number(piece.lineNumber) + ":" + std::exchange(line, {});
        }
        return lines;
    };
    CommentStream stream(2);
    ASSERT_EQ(stream.open(name), DataFileStatus::Ok);
    stream.setLimit(4);
    EXPECT_EQ(linesOf(stream), QStringList({ "1:abc" }));
    stream.seek(0, 1);
    stream.setLimit(6);
    EXPECT_EQ(linesOf(stream), QStringList({ "1:abc", "2:d" }));
    stream.setLimit(1000);
    stream.seek(5, 2);
    EXPECT_EQ(linesOf(stream), QStringList({ "2:def", "3:ghi" }));

    const QByteArray head = encodeDataFile(recordingHeader(), QByteArray(300, 'd'), {});
    writeComment(name, QByteArray(300000, 'x'));
    CommentStream shrinking(1000);
    ASSERT_EQ(shrinking.open(name), DataFileStatus::Ok);
    CommentPiece piece;
    ASSERT_TRUE(shrinking.next(&piece));
    ASSERT_TRUE(QFile::resize(name, head.size() + 5000));
    qint64 read = piece.text.size();
    while (shrinking.next(&piece))
        read += piece.text.size();
    EXPECT_EQ(read, 5000);
    ASSERT_TRUE(shrinking.failed());
    EXPECT_EQ(dataFileProblemText(shrinking.problem()),
        QStringLiteral("ends inside its comment: %1 bytes, %2 needed")
            .arg(head.size() + 5000)
            .arg(head.size() + 300000));
}

// A text found in a line fed in pieces wherever the pieces are cut, as lineContains() finds it
// in the whole line; a match must end beyond `minEnd`.
TEST(LineMatcher, FindsAcrossPiecesAsInTheWholeLine)
{
    const QString line = QStringLiteral("ааслово бб Слово");
    for (const bool matchCase : { false, true }) {
        for (const QString &text : { QStringLiteral("СЛОВО"), QStringLiteral("слово"),
                 QStringLiteral("о б"), QStringLiteral("ва") }) {
            const qsizetype whole
                = matchCase ? line.indexOf(text) : line.toUpper().indexOf(text.toUpper());
            ASSERT_EQ(whole >= 0, lineContains(line, text, matchCase));
            for (qsizetype cut1 = 0; cut1 <= line.size(); ++cut1) {
                for (qsizetype cut2 = cut1; cut2 <= line.size(); ++cut2) {
                    LineMatcher matcher(text, matchCase);
                    qsizetype found = matcher.feed(QStringView(line).left(cut1));
                    if (found < 0)
                        found = matcher.feed(QStringView(line).mid(cut1, cut2 - cut1));
                    if (found < 0)
                        found = matcher.feed(QStringView(line).mid(cut2));
                    EXPECT_EQ(found, whole) << qPrintable(text) << " " << cut1 << " " << cut2;
                }
            }
        }
    }
    LineMatcher matcher(QStringLiteral("слово"), false);
    EXPECT_EQ(matcher.feed(line, 8), 11);
    matcher.endLine();
    EXPECT_EQ(matcher.feed(u"во"), -1); // a new line: nothing of the last one is kept
    EXPECT_EQ(LineMatcher(QString(), false).feed(line), -1);
}

// The window's catalogue keeps a bounded part of each comment and of all of them, ends a cut
// comment with its cut mark, and its search reads the rest from the file: a match beyond
// the cut, or across it, selects the cut mark; a file gone since is named.
TEST(Catalogue, KeepsABoundedPartAndSearchesTheRest)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray longLine(120, 'x');
    const QByteArray a = toWindows1251(QStringLiteral("первая строка\r\n")) + longLine
        + toWindows1251(QStringLiteral("слово\r\nпоследняя"));
    writeComment(dir.filePath("a.kdx"), a);
    writeComment(dir.filePath("b.kdx"), "b");
    writeComment(dir.filePath("c.kdx"), "0123456789abcdef");
    ASSERT_TRUE(QDir(dir.path()).mkdir("lines"));
    writeComment(dir.filePath("lines/d.kdx"), "one\r\ntwo\r\nthree\r\nfour\r\n");

    // 40 bytes of each, 50 of all.
    const Catalogue catalogue = buildCatalogue(dir.path(), DataFileSuffix, 40, 50, 100);
    const QStringList lines = catalogue.lines();
    EXPECT_EQ(lines,
        QStringList({ "=v=a.kdx=v=", QStringLiteral("первая строка"), QString(25, u'x'),
            catalogueCutMark(40, a.size()), "=v=b.kdx=v=", "b", "=v=c.kdx=v=", "012345678",
            catalogueCutMark(9, 16) }))
        << qPrintable(lines.join('|'));
    EXPECT_EQ(catalogueCutMark(1048576, 5000000),
        QStringLiteral("… (комментарий длиннее, показано байт: 1048576 из 5000000)"));
    ASSERT_EQ(catalogue.entries.size(), 3);
    EXPECT_FALSE(catalogue.entries.at(1).cut());

    const auto find = [&](const QString &text, qsizetype from) {
        qsizetype searchLine = from;
        CatalogueFind found = findInCatalogue(catalogue, lines, text, false, &searchLine);
        return QStringLiteral("%1 %2 %3:%4")
            .arg(found.line)
            .arg(searchLine)
            .arg(found.beyondShown ? found.name : QString())
            .arg(found.commentLine);
    };
    EXPECT_EQ(find(QStringLiteral("СЛОВО"), 0), "3 4 a.kdx:2");
    // Begins in the shown part of the cut line, ends beyond it.
    EXPECT_EQ(find(QStringLiteral("xxxxxСЛ"), 0), "3 4 a.kdx:2");
    EXPECT_EQ(find(QStringLiteral("xxxxx"), 0), "2 3 :0");
    EXPECT_EQ(find(QStringLiteral("xxxxx"), 3), "3 4 a.kdx:2");
    EXPECT_EQ(find(QStringLiteral("89A"), 0), "8 0 c.kdx:1");
    EXPECT_EQ(find(QStringLiteral("ПОСЛЕДНЯЯ"), 5), "3 4 a.kdx:3");
    EXPECT_EQ(find(QStringLiteral("nowhere"), 5), "-1 5 :0");

    // One line of all: the first line not shown is where the rest begins.
    const Catalogue oneLine = buildCatalogue(dir.filePath("lines"), DataFileSuffix, 40, 50, 1);
    const QStringList shown = oneLine.lines();
    EXPECT_EQ(shown, QStringList({ "=v=d.kdx=v=", "one", catalogueCutMark(5, 23) }))
        << qPrintable(shown.join('|'));
    qsizetype searchLine = 0;
    CatalogueFind found = findInCatalogue(oneLine, shown, "FOUR", false, &searchLine);
    EXPECT_EQ(found.line, 2);
    EXPECT_EQ(found.commentLine, 4);
    EXPECT_EQ(findInCatalogue(oneLine, shown, "ONE", false, &searchLine).line, 1);
    EXPECT_EQ(findInCatalogue(oneLine, shown, "one", true, &searchLine).line, 1);

    ASSERT_TRUE(QFile::remove(dir.filePath("a.kdx")));
    searchLine = 0;
    const CatalogueFind gone
        = findInCatalogue(catalogue, lines, QStringLiteral("слово"), false, &searchLine);
    EXPECT_EQ(gone.line, -1);
    ASSERT_EQ(gone.unreadable.size(), 1);
    EXPECT_EQ(gone.unreadable.first().name, "a.kdx");
    EXPECT_EQ(dataFileProblemText(gone.unreadable.first().problem),
        "cannot be opened: No such file or directory");
}
