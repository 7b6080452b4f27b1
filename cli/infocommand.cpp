#include "cli/commands.h"
#include "files/datafile.h"

#include <cstdio>

namespace {

void printLine(const char *key, const QString &value)
{
    std::printf("%s=%s\n", key, value.toUtf8().constData());
}

} // namespace

// ferrun-cli info FILE: the header of a data file as key=value lines, titles in UTF-8.
// Exit 0 when printed, 1 when the file cannot be read or is not an instrument data file.
int cli::runInfo(const QStringList &args)
{
    if (args.size() != 1 || args.first().startsWith('-'))
        return usageError("usage: ferrun-cli info FILE");
    const QString fileName = args.first();

    files::DataFile file;
    QString error;
    const files::DataFileStatus status = files::readDataFile(fileName, &file, &error);
    if (status != files::DataFileStatus::Ok) {
        std::fprintf(stderr, "ferrun-cli: %s: %s\n", qPrintable(fileName), qPrintable(error));
        return 1;
    }
    const files::DataFileHeader &h = file.header;
    printLine("FileType", QString::number(h.FileType));
    printLine("ChartChannelBits", QString::number(h.ChartChannelBits));
    printLine("DataLength", QString::number(h.DataLength));
    printLine("ChannelIntervalUs", QString::number(h.ChannelIntervalUs, 'g', 17));
    printLine("ValueScale", QString::number(h.ValueScale, 'g', 17));
    printLine("ValueOffset", QString::number(h.ValueOffset));
    printLine("XTitle", h.XTitle);
    printLine("YTitle", h.YTitle);
    printLine("CommentBytes", QString::number(file.commentBytes.size()));
    return 0;
}
