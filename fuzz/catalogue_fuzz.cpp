// Fuzz target: the catalogue of a folder that holds the input as a data file between two
// good ones, then the search and the entry lookup over its lines; the input's comment read
// in small chunks against its lines split whole, and the search of a cut catalogue against
// the whole comment.

#include "files/catalogue.h"
#include "files/commentstream.h"
#include "files/datafile.h"
#include "files/windows1251.h"
#include "fuzz/fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace {

const QString FirstComment = QStringLiteral("первый\r\nтемпература");

const QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    static const bool filled = [] {
        files::DataFileHeader header;
        header.XTitle = QStringLiteral("Время, мкс");
        header.YTitle = QStringLiteral("Температура");
        files::saveDataFile(dir.filePath("a.kdx"), header, QByteArray(100, 'x'), FirstComment);
        files::saveDataFile(dir.filePath("c.kdx"), header, {}, QStringLiteral("=v=c.kdx=v="));
        return true;
    }();
    (void)filled;
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QTemporaryDir &dir = folder();
    {
        QFile file(dir.filePath("B.KDX"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const files::Catalogue catalogue = files::buildCatalogue(dir.path(), ".kdx");
    files::DataFileSummary summary;
    const bool readable
        = files::readDataFileSummary(dir.filePath("B.KDX"), &summary) == files::DataFileStatus::Ok;
    FUZZ_CHECK(catalogue.entries.size() == (readable ? 3 : 2));
    FUZZ_CHECK(catalogue.skipped.size() == (readable ? 0 : 1));
    FUZZ_CHECK(catalogue.entries.first().name == "a.kdx");
    FUZZ_CHECK(catalogue.entries.last().name == "c.kdx");

    // The comment in chunks of 1 to 7 bytes: the lines of the whole comment split at once.
    const QStringList commentLines
        = files::splitLines(files::fromWindows1251(summary.commentBytes));
    if (readable) {
        files::CommentStream stream(qint64(size % 7) + 1);
        FUZZ_CHECK(stream.open(dir.filePath("B.KDX")) == files::DataFileStatus::Ok);
        QStringList streamed;
        QString line;
        files::CommentPiece piece;
        while (stream.next(&piece)) {
            line += piece.text;
            if (piece.endsLine)
                streamed << std::exchange(line, {});
        }
        FUZZ_CHECK(!stream.failed() && streamed == commentLines);
        FUZZ_CHECK(catalogue.entries.at(1).commentLines == commentLines);
    }
    const QStringList lines = catalogue.lines();
    FUZZ_CHECK(lines.first() == "=v=a.kdx=v=");
    // An entry's name is taken from a line at or above it that begins with the marker.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = files::catalogueEntryName(lines, i);
        bool found = name.isEmpty();
        for (qsizetype k = i; k >= 0 && !found; --k)
            found = lines.at(k).startsWith(files::CatalogueMarker + name);
        FUZZ_CHECK(found);
    }

    // Search for a fragment of the input's own text, with and without case, twice each.
    const QString fragment = QString::fromLatin1(
        reinterpret_cast<const char *>(data), qsizetype(std::min<size_t>(size, 3)));
    for (const QString &text : { fragment, QStringLiteral("ТЕМП") }) {
        for (const bool matchCase : { false, true }) {
            qsizetype searchLine = 0;
            const qsizetype first = files::findInCatalogue(lines, text, matchCase, &searchLine);
            FUZZ_CHECK(first < lines.size());
            FUZZ_CHECK(first < 0 || files::lineContains(lines.at(first), text, matchCase));
            FUZZ_CHECK(searchLine >= 0 && searchLine < lines.size());
            files::findInCatalogue(lines, text, matchCase, &searchLine);
        }
    }

    // A catalogue that keeps 16 bytes of each comment: a text found in a cut comment's rest
    // is in the comment line the search names.
    const files::Catalogue cut = files::buildCatalogue(dir.path(), ".kdx", 16, 1000, 1000);
    const QStringList cutLines = cut.lines();
    // The input's last bytes, which end its comment when it has one.
    const size_t tailSize = std::min<size_t>(size, 3);
    const QString tail = files::fromWindows1251(
        QByteArray(reinterpret_cast<const char *>(data) + size - tailSize, qsizetype(tailSize)));
    for (const auto &[text, matchCase] : { std::pair { fragment, false },
             std::pair { fragment, true }, std::pair { tail, false }, std::pair { tail, true } }) {
        qsizetype searchLine = 0;
        const files::CatalogueFind found
            = files::findInCatalogue(cut, cutLines, text, matchCase, &searchLine);
        FUZZ_CHECK(found.line < cutLines.size() && found.unreadable.isEmpty());
        if (found.line < 0 || !found.beyondShown) {
            FUZZ_CHECK(
                found.line < 0 || files::lineContains(cutLines.at(found.line), text, matchCase));
            continue;
        }
        FUZZ_CHECK(found.name == "a.kdx" || (readable && found.name == "B.KDX"));
        const QStringList whole
            = found.name == "a.kdx" ? files::splitLines(FirstComment) : commentLines;
        FUZZ_CHECK(found.commentLine >= 1 && found.commentLine <= whole.size());
        FUZZ_CHECK(
            files::lineContains(whole.at(qsizetype(found.commentLine - 1)), text, matchCase));
    }
    return 0;
}
