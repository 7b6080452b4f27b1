#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "files/catalogue.h"
#include "files/commentstream.h"
#include "files/folderbrowser.h"
#include "files/printable.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>

namespace {

// Listed, but some files were skipped or could not be read to the end of their comment.
constexpr int ExitSkipped = 4;

// A line of a comment kept while it is searched, so that a matching line is printed from
// memory; a longer one is read again from the file once it matches.
constexpr qsizetype KeptLineChars = 64 * 1024;

QByteArray printable(const QString &text)
{
    return cli::escaped(text).toUtf8();
}

// Why `folder` cannot be listed.
QString folderProblem(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::closedir(dir);
    return QStringLiteral("cannot be read");
}

void note(const QString &fileName, const QString &problem)
{
    cli::message(QStringLiteral("%1: %2").arg(cli::escaped(fileName), problem));
}

// Prints the comment's lines as they come, a long line in pieces. A line cut short by a
// failed read is ended all the same.
bool listComment(files::CommentStream &comment, cli::StandardOutput &out)
{
    files::CommentPiece piece;
    bool lineOpen = false;
    while (comment.next(&piece)) {
        if (!piece.text.isEmpty() && !out.write(printable(piece.text)))
            return false;
        lineOpen = !piece.endsLine;
        if (piece.endsLine && !out.write(QByteArrayLiteral("\n")))
            return false;
    }
    return !lineOpen || out.write(QByteArrayLiteral("\n"));
}

// Prints "NAME:LINE" for each comment line that holds the text. A line is searched as it
// comes; once it matches, what was read of it is printed (from memory, or read again from
// the file when it was too long to keep) and the rest follows piece by piece. A line cut
// short by a failed read is ended all the same.
bool findInComment(files::CommentStream &comment, const QString &name, const QString &text,
    bool matchCase, cli::StandardOutput &out)
{
    files::LineMatcher matcher(text, matchCase);
    const QByteArray prefix = printable(name) + ':';
    files::CommentPiece piece;
    QString kept;
    bool keptWhole = true;
    bool matched = false;
    const auto printStart = [&] {
        if (!out.write(prefix))
            return false;
        if (keptWhole)
            return out.write(printable(kept));
        // The start of the line again, chunk by chunk; a failed read ends the comment.
        const qint64 chunk = files::CommentStream::DefaultChunkBytes;
        QString again;
        for (qint64 at = piece.lineStart; at < piece.offset; at += chunk) {
            if (!comment.readText(at, std::min(chunk, piece.offset - at), &again))
                return true;
            if (!out.write(printable(again)))
                return false;
        }
        return true;
    };
    while (comment.next(&piece)) {
        if (!matched && matcher.feed(piece.text) >= 0) {
            matched = true;
            if (!printStart())
                return false;
            if (comment.failed())
                break;
        }
        if (matched) {
            if (!out.write(printable(piece.text)))
                return false;
        } else if (keptWhole && kept.size() + piece.text.size() <= KeptLineChars) {
            kept += piece.text;
        } else {
            keptWhole = false;
            kept.clear();
        }
        if (!piece.endsLine)
            continue;
        if (matched && !out.write(QByteArrayLiteral("\n")))
            return false;
        matcher.endLine();
        kept.clear();
        keptWhole = true;
        matched = false;
    }
    return !matched || out.write(QByteArrayLiteral("\n"));
}

} // namespace

// ferrun-cli catalog DIR [--find TEXT] [--case]: the comment catalogue of a folder as the
// catalogue panel shows it, or the comment lines that hold a text. Each comment is read from
// its file in chunks and printed or searched as it comes, so memory does not grow with its
// length.
int cli::runCatalog(const QStringList &args)
{
    CommandLine line("catalog", "DIR [--find TEXT] [--case]",
        "Prints the comment catalogue of the *.kdx files of a folder (letter case of the\n"
        "extension ignored, sorted ignoring case) in UTF-8: for each file a line\n"
        "=v=NAME=v=, then the lines of its comment, whole however long. Only the header,\n"
        "titles and comment of each file are read. Control characters in names and\n"
        "comments are escaped (\\t, \\n, \\r, \\xNN, and \\\\ for a backslash). An entry\n"
        "that is not a readable instrument data file (a foreign file, one that ends inside\n"
        "its header, titles or data, a folder, a FIFO, one without read permission) is\n"
        "skipped with a line on standard error naming it and the cause; the other files\n"
        "are listed.");
    line.addPositional("DIR", "the folder");
    line.addOption({ { "f", "find" },
        "Print only the comment lines that contain TEXT, each as NAME:LINE. Letter case is "
        "ignored (Cyrillic letters too) unless --case is given.",
        "TEXT" });
    line.addFlag({ "case" }, "With --find, respect letter case.");
    line.addExitCode(
        ExitDone, "listed (also when the folder holds no *.kdx file or nothing is found)");
    line.addExitCode(ExitOutputFailed, "standard output could not be written");
    line.addExitCode(ExitUsage, "bad arguments");
    line.addExitCode(ExitBadInput, "the folder cannot be read");
    line.addExitCode(
        ExitSkipped, "listed, but some files skipped or not read whole (named on standard error)");
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

    bool readable = true;
    const QStringList names = files::catalogueFiles(folder, files::DataFileSuffix, &readable);
    if (!readable) {
        line.error(QStringLiteral("cannot read the folder %1: %2")
                       .arg(escaped(folder), folderProblem(folder)));
        return ExitBadInput;
    }
    if (names.isEmpty()) {
        message(QStringLiteral("no *.kdx files in %1").arg(escaped(folder)));
        return 0;
    }

    StandardOutput out;
    const QString prefix = files::catalogueFolder(folder);
    int skipped = 0;
    files::CommentStream comment;
    for (const QString &name : names) {
        files::DataFileProblem problem;
        if (comment.open(prefix + name, &problem) != files::DataFileStatus::Ok) {
            // The note after what came before it, also when both go to one terminal.
            if (!out.finish())
                return ExitOutputFailed;
            note(prefix + name, files::dataFileProblemText(problem));
            ++skipped;
            continue;
        }
        const bool written = finding ? findInComment(comment, name, text, matchCase, out)
                                     : out.write(printable(files::catalogueMarker(name)) + '\n')
                && listComment(comment, out);
        if (!written)
            return ExitOutputFailed;
        if (comment.failed()) {
            // What was printed of its comment stays; the note says it is not all.
            if (!out.finish())
                return ExitOutputFailed;
            note(prefix + name, files::dataFileProblemText(comment.problem()));
            ++skipped;
        }
    }
    if (!out.finish())
        return ExitOutputFailed;
    return skipped > 0 ? ExitSkipped : 0;
}
