// Fuzz target: the catalogue of a folder that holds the input as a data file between two
// good ones, then the search and the entry lookup over its lines.

#include "files/catalogue.h"
#include "files/datafile.h"
#include "fuzz/fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

const QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    static const bool filled = [] {
        files::DataFileHeader header;
        header.XTitle = QStringLiteral("Время, мкс");
        header.YTitle = QStringLiteral("Температура");
        files::saveDataFile(dir.filePath("a.kdx"), header, QByteArray(100, 'x'),
            QStringLiteral("первый\r\nтемпература"));
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
    const bool foreign = size < 2 || data[0] != 1 || data[1] != 0;
    FUZZ_CHECK(catalogue.entries.size() == (foreign ? 1 : 3));
    FUZZ_CHECK(catalogue.stop
        == (foreign ? files::CatalogueStop::ForeignFile : files::CatalogueStop::None));
    FUZZ_CHECK(catalogue.entries.first().name == "a.kdx");

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
    return 0;
}
