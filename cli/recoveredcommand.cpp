#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "files/printable.h"
#include "files/recoverystore.h"

#include <QDir>
#include <QFileInfo>

// ferrun-cli recovered: the recordings the window and the commands kept in the recovery store
// because they could not be saved, newest first.

namespace {

QString kindText(files::RecoveryKind kind)
{
    switch (kind) {
    case files::RecoveryKind::Replaced:
        return QStringLiteral("replaced before it was saved");
    case files::RecoveryKind::NotSaved:
        return QStringLiteral("not saved");
    case files::RecoveryKind::FailedTransfer:
        return QStringLiteral("failed transfer");
    case files::RecoveryKind::Cycles:
        return QStringLiteral("cycles of a run");
    case files::RecoveryKind::CyclesUnderWay:
        return QStringLiteral("cycles of a run under way");
    }
    return {};
}

QString keeperText(files::RecoveryKeeper keeper)
{
    switch (keeper) {
    case files::RecoveryKeeper::Window:
        return QStringLiteral("window");
    case files::RecoveryKeeper::Measure:
        return QStringLiteral("measure");
    case files::RecoveryKeeper::Cycle:
        return QStringLiteral("cycle");
    }
    return {};
}

} // namespace

int cli::runRecovered(const QStringList &args)
{
    CommandLine line("recovered", "[--store DIR]",
        "Lists the recovery store: the recordings that were not saved (replaced in the window\n"
        "before they were saved, not delivered by a command, the bytes of failed transfers and\n"
        "the cycles of runs), newest first, one per line with tab-separated fields: the time\n"
        "the recording was received, what it is and which program kept it, its data length in\n"
        "bytes, the first line of its comment, and the file. Control characters of comments\n"
        "and names are escaped (\\t, \\n, \\r, \\xNN, and \\\\ for a backslash). Each entry is\n"
        "a normal data file: open it in the window (\"Несохранённые записи…\") or with any\n"
        "command that reads one.");
    line.addOption(
        { "store", "The recovery store to list.", "DIR", files::RecoveryStore::defaultFolder() });
    line.addExitCode(ExitDone, "listed (nothing when the store is empty)");
    line.addExitCode(ExitOutputFailed, "standard output could not be written");
    if (const auto status = line.parse(args))
        return *status;

    const files::RecoveryStore store(line.value("store"));
    StandardOutput out;
    for (const files::RecoveryEntry &entry : store.entries()) {
        QString what = kindText(entry.kind) + QStringLiteral(" by ") + keeperText(entry.keptBy);
        if (!entry.detail.isEmpty())
            what += QStringLiteral(": ") + entry.detail;
        const QStringList fields {
            entry.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
            files::escapeControls(what, true),
            QString::number(entry.dataLength),
            files::escapeControls(entry.firstCommentLine, true),
            files::escapeControls(entry.path, true),
        };
        if (!out.write(fields.join(u'\t') + u'\n'))
            break;
    }
    return out.finish() ? 0 : ExitOutputFailed;
}
