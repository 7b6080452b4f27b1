#include "cli/commandline.h"
#include "cli/commands.h"
#include "files/catalogue.h"
#include "files/folderbrowser.h"
#include "files/printable.h"

#include <QFileInfo>
#include <cstdio>

namespace {

constexpr int ExitForeignFile = 2;

} // namespace

// ferrun-cli catalog DIR [--find TEXT] [--case]: the comment catalogue of a folder as the
// catalogue panel shows it, or the comment lines that hold a text.
int cli::runCatalog(const QStringList &args)
{
    CommandLine line("catalog", "DIR [--find TEXT] [--case]",
        "Prints the comment catalogue of the *.kdx files of a folder (letter case of the\n"
        "extension ignored, sorted ignoring case) in UTF-8: for each file a line\n"
        "=v=NAME=v=, then the lines of its comment. Only the header, titles and comment of\n"
        "each file are read. Control characters in comments are escaped (\\t, \\xNN).");
    line.addPositional("DIR", "the folder");
    line.addOption({ { "f", "find" },
        "Print only the comment lines that contain TEXT, each as NAME:LINE. Letter case is "
        "ignored (Cyrillic letters too) unless --case is given.",
        "TEXT" });
    line.addFlag({ "case" }, "With --find, respect letter case.");
    line.addExitCode(0, "listed (also when the folder holds no *.kdx file or nothing is found)");
    line.addExitCode(1,
        "the folder cannot be read, or a listed entry cannot be opened (the entries before it "
        "are printed)");
    line.addExitCode(ExitForeignFile,
        "bad arguments, or a *.kdx file that is not an instrument data file stopped the listing "
        "(the entries before it are printed)");
    if (const auto status = line.parse(args, 1, 1))
        return *status;
    const QString folder = line.positional().first();
    const bool finding = line.isSet("find");
    const QString text = line.value("find");
    const bool matchCase = line.isSet("case");
    if (finding && text.isEmpty())
        return line.error("--find needs a text that is not empty");
    if (matchCase && !finding)
        return line.error("--case goes with --find");

    const files::Catalogue catalogue = files::buildCatalogue(folder, files::DataFileSuffix);
    if (!catalogue.folderReadable || !QFileInfo(folder).isDir()) {
        line.error(QString("cannot read the folder %1").arg(folder));
        return 1;
    }

    QByteArray out;
    for (const files::CatalogueEntry &entry : catalogue.entries) {
        if (!finding) {
            out += files::escapeControls(files::catalogueMarker(entry.name), false).toUtf8();
            out += '\n';
        }
        for (const QString &comment : entry.commentLines) {
            if (finding && !files::lineContains(comment, text, matchCase))
                continue;
            if (finding)
                out += (files::escapeControls(entry.name, false) + u':').toUtf8();
            out += files::escapeControls(comment, false).toUtf8();
            out += '\n';
        }
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);

    switch (catalogue.stop) {
    case files::CatalogueStop::None:
        return 0;
    case files::CatalogueStop::NoFiles:
        std::fprintf(stderr, "ferrun-cli catalog: no *.kdx files in %s\n", qPrintable(folder));
        return 0;
    case files::CatalogueStop::ForeignFile:
        std::fprintf(stderr, "ferrun-cli catalog: %s: %s\n", qPrintable(catalogue.stopFile),
            qPrintable(catalogue.message));
        return ExitForeignFile;
    case files::CatalogueStop::CannotOpen:
        std::fprintf(stderr, "ferrun-cli catalog: %s\n", qPrintable(catalogue.message));
        return 1;
    }
    return 0;
}
