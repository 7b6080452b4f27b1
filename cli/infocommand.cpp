#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/datafileinput.h"
#include "cli/output.h"
#include "files/datafile.h"
#include "files/printable.h"
#include "files/windows1251.h"
#include "signal/csvexport.h"

namespace {

// At most this much of a comment is printed (and read).
constexpr qint64 MaxPrintedComment = qint64(1) << 20;

void printLine(QByteArray &out, const char *key, const QString &value)
{
    out += key;
    out += '=';
    out += value.toUtf8();
    out += '\n';
}

} // namespace

// ferrun-cli info FILE: the header, titles and comment of a data file as key=value lines.
// Reads the header and titles, seeks over the data and reads the comment, so memory stays
// bounded by the comment (at most 1 MiB of it); FIFOs and devices are refused unread.
int cli::runInfo(const QStringList &args)
{
    CommandLine line("info", "FILE",
        "Prints the header, the titles and the comment of a data file as key=value lines in "
        "UTF-8.\nNumbers in the shortest form that reads back exactly, as export writes them. "
        "The data is\nnot read. Control characters in the titles and the comment are "
        "escaped\n(\\t, \\n, \\r, \\xNN, and \\\\ for a backslash). At most the first 1048576 "
        "bytes of the\ncomment are printed; CommentCut=1 and a note on standard error then say "
        "so. Titles\nlonger than 65536 bytes are cut to that; TitleCut=1 and a note say so.");
    line.addPositional("FILE", "the data file (*.kdx); \"-\" for standard input");
    line.addExitCode(ExitDone, "printed");
    line.addExitCode(ExitOutputFailed, "standard output could not be written");
    line.addExitCode(ExitBadInput,
        "the file cannot be opened, is not a regular file, is not an instrument data file, or "
        "ends inside its header, titles or data (a line on standard error says which, and where)");
    if (const auto status = line.parse(args, 1, 1))
        return *status;
    DataFileInput input;
    if (!input.open(line.positional().first(), MaxPrintedComment))
        return ExitBadInput;
    const files::DataFileSummary &summary = input.summary();
    const files::DataFileHeader &h = summary.header;
    QByteArray out;
    printLine(out, "FileType", QString::number(h.FileType));
    printLine(out, "ChartChannelBits", QString::number(h.ChartChannelBits));
    printLine(out, "DataLength", QString::number(h.DataLength));
    printLine(
        out, "ChannelIntervalUs", QString::fromLatin1(sig::formatNumber(h.ChannelIntervalUs)));
    printLine(out, "ValueScale", QString::fromLatin1(sig::formatNumber(h.ValueScale)));
    printLine(out, "ValueOffset", QString::number(h.ValueOffset));
    printLine(out, "XTitle", files::escapeControls(h.XTitle, true));
    printLine(out, "YTitle", files::escapeControls(h.YTitle, true));
    printLine(out, "CommentBytes", QString::number(summary.commentSize));
    printLine(
        out, "Comment", files::escapeControls(files::fromWindows1251(summary.commentBytes), true));
    if (summary.commentCut()) {
        printLine(out, "CommentCut", QStringLiteral("1"));
        message(QStringLiteral("%1: comment of %2 cut to its first %3")
                    .arg(input.source().shown, count(summary.commentSize, "byte", "bytes"))
                    .arg(summary.commentBytes.size()));
    }
    if (summary.titleCut()) {
        printLine(out, "TitleCut", QStringLiteral("1"));
        message(QStringLiteral("%1: titles of %2 and %3 bytes cut to their first %4")
                    .arg(input.source().shown)
                    .arg(summary.xTitleSize)
                    .arg(summary.yTitleSize)
                    .arg(files::MaxTitleBytes));
    }
    StandardOutput stdOut;
    stdOut.write(out);
    return stdOut.finish() ? ExitDone : ExitOutputFailed;
}
