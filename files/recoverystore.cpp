#include "files/recoverystore.h"

#include "files/storeio.h"
#include "files/windows1251.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

using namespace storeio;

const QString NotePrefix = QStringLiteral("Ferrun recovery: ");

struct KindName
{
    RecoveryKind kind;
    const char *note;
    const char *file;
};
constexpr KindName KindNames[] = {
    { RecoveryKind::Replaced, "replaced", "replaced" },
    { RecoveryKind::NotSaved, "not saved", "unsaved" },
    { RecoveryKind::FailedTransfer, "failed transfer", "failed" },
    { RecoveryKind::Cycles, "cycles", "cycles" },
    { RecoveryKind::CyclesUnderWay, "cycles under way", "cycles" },
};

const KindName &kindName(RecoveryKind kind)
{
    for (const KindName &k : KindNames) {
        if (k.kind == kind)
            return k;
    }
    return KindNames[1];
}

const char *keeperName(RecoveryKeeper keeper)
{
    switch (keeper) {
    case RecoveryKeeper::Window:
        return "window";
    case RecoveryKeeper::Measure:
        return "measure";
    case RecoveryKeeper::Cycle:
        break;
    }
    return "cycle";
}

// The store's data files, oldest first (by modification time, then name). Links are left out:
// the store never follows one into another folder.
QFileInfoList storeFiles(const QString &folder)
{
    QFileInfoList files = QDir(folder).entryInfoList(
        { QStringLiteral("*.kdx") }, QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    std::stable_sort(files.begin(), files.end(),
        [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() < b.lastModified(); });
    return files;
}

// Whether the name is one the cycle store gives its journals.
bool isCyclesName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("-cycles(-\\d+)?\\.kdx$"));
    return pattern.match(fileName).hasMatch();
}

RecoveryEntry entryOf(const QString &path, const DataFileSummary &summary, const QDateTime &time)
{
    RecoveryEntry entry;
    entry.path = path;
    entry.time = time;
    entry.dataLength = summary.header.DataLength;
    const QStringList lines = summary.commentLines();
    const std::optional<RecoveryNote> note = parseRecoveryNote(lines.value(0));
    if (note) {
        entry.kind = note->kind;
        entry.keptBy = note->keptBy;
        entry.detail = note->detail;
    }
    entry.firstCommentLine = lines.value(note ? 1 : 0);
    if (!note && isCyclesName(path)) {
        // A journal caught between writing a cycle and counting it.
        entry.kind = RecoveryKind::CyclesUnderWay;
        entry.firstCommentLine.clear();
    }
    return entry;
}

// The note of a journal's run: "N cycles, D bytes" while it goes (the cycle store's detail).
struct RunCount
{
    qint64 cycles = -1;
    qint64 bytes = -1;
};
RunCount runCount(const QString &detail)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+) cycles?, (\\d+) bytes$"));
    const QRegularExpressionMatch match = pattern.match(detail);
    RunCount count;
    if (match.hasMatch()) {
        count.cycles = match.captured(1).toLongLong();
        count.bytes = match.captured(2).toLongLong();
    }
    return count;
}

// What a crash left after the last whole cycle of a journal: the note that tells how many
// cycles the journal holds and the user's comment after it. An append writes the cycle and
// the new comment past the data before the header counts the cycle, and a retraction counts
// the cycle out before it moves the comment back, so the comment found is either right after
// the data (naming `dataLength`) or right after one more cycle (naming the length with it).
struct JournalTail
{
    qint64 cycles = -1; // -1: not known (the comment was overwritten)
    std::optional<RecoveryKeeper> keeper;
    QString comment;
};
JournalTail readJournalTail(const QByteArray &tail, qint64 dataLength)
{
    JournalTail found;
    const QByteArray prefix = toWindows1251(
        NotePrefix + QString::fromLatin1(kindName(RecoveryKind::CyclesUnderWay).note));
    for (qsizetype at = tail.indexOf(prefix); at >= 0; at = tail.indexOf(prefix, at + 1)) {
        const QString text = fromWindows1251(tail.mid(at));
        const std::optional<RecoveryNote> note = parseRecoveryNote(splitLines(text).value(0));
        if (!note || note->kind != RecoveryKind::CyclesUnderWay)
            continue;
        found.keeper = note->keptBy;
        const RunCount count = runCount(note->detail);
        if (count.cycles < 0)
            continue;
        if (at == 0 && count.bytes == dataLength)
            found.cycles = count.cycles;
        else if (count.bytes > dataLength && at == count.bytes - dataLength && count.cycles > 0)
            found.cycles = count.cycles - 1;
        else
            continue;
        found.comment = commentWithoutNote(text);
        break;
    }
    return found;
}

// An open descriptor that is closed with its scope.
struct Descriptor
{
    int fd;
    explicit Descriptor(int value)
        : fd(value)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

QDateTime modificationTime(const struct stat &st)
{
    return QDateTime::fromMSecsSinceEpoch(
        qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

} // namespace

QString recoveryNoteLine(RecoveryKind kind, RecoveryKeeper keeper, const QString &detail)
{
    QString line = NotePrefix + QString::fromLatin1(kindName(kind).note) + QStringLiteral(" by ")
        + QString::fromLatin1(keeperName(keeper));
    if (!detail.isEmpty())
        line += QStringLiteral(": ") + detail;
    return line;
}

std::optional<RecoveryNote> parseRecoveryNote(const QString &firstLine)
{
    if (!firstLine.startsWith(NotePrefix))
        return std::nullopt;
    const QString rest = firstLine.mid(NotePrefix.size());
    const qsizetype by = rest.indexOf(QStringLiteral(" by "));
    if (by < 0)
        return std::nullopt;
    const QString kind = rest.left(by);
    const QString after = rest.mid(by + 4);
    const qsizetype colon = after.indexOf(QStringLiteral(": "));
    const QString keeper = colon < 0 ? after : after.left(colon);
    RecoveryNote note;
    const auto known = std::find_if(std::begin(KindNames), std::end(KindNames),
        [&](const KindName &k) { return kind == QLatin1String(k.note); });
    if (known == std::end(KindNames))
        return std::nullopt;
    note.kind = known->kind;
    if (keeper == QLatin1String("window"))
        note.keptBy = RecoveryKeeper::Window;
    else if (keeper == QLatin1String("measure"))
        note.keptBy = RecoveryKeeper::Measure;
    else if (keeper == QLatin1String("cycle"))
        note.keptBy = RecoveryKeeper::Cycle;
    else
        return std::nullopt;
    if (colon >= 0)
        note.detail = after.mid(colon + 2);
    return note;
}

QString commentWithoutNote(const QString &comment)
{
    qsizetype end = 0;
    while (end < comment.size() && comment[end] != u'\r' && comment[end] != u'\n')
        ++end;
    if (!parseRecoveryNote(comment.left(end)))
        return comment;
    if (end < comment.size() && comment[end] == u'\r')
        ++end;
    if (end < comment.size() && comment[end] == u'\n')
        ++end;
    return comment.mid(end);
}

RecoveryStore::RecoveryStore(QString folder)
    : m_folder(std::move(folder))
{
}

QString RecoveryStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Ferrun/recovery");
}

QString RecoveryStore::newEntryPath(RecoveryKind kind, const QDateTime &time) const
{
    const QDateTime at = time.isValid() ? time : QDateTime::currentDateTime();
    const QString stem = QDir(m_folder).filePath(at.toString(QStringLiteral("yyyyMMdd-hhmmss-zzz-"))
        + QString::fromLatin1(kindName(kind).file));
    QString path = stem + QStringLiteral(".kdx");
    struct stat st;
    for (int n = 2; ::lstat(QFile::encodeName(path).constData(), &st) == 0; ++n)
        path = stem + QStringLiteral("-%1.kdx").arg(n);
    return path;
}

QString RecoveryStore::keep(const Recording &recording, RecoveryKind kind, RecoveryKeeper keeper,
    const QString &detail, const QString &comment, QString *error) const
{
    // Bytes of a failed transfer are never noted as anything but that.
    if (recording.faulty)
        kind = RecoveryKind::FailedTransfer;
    const auto failed = [&](const QString &what, const QString &path, int number) {
        if (error)
            *error = QStringLiteral("%1 %2: %3").arg(what, path, systemText(number));
        return QString();
    };
    int folderError = 0;
    if (!makeFolder(m_folder, &folderError))
        return failed(QStringLiteral("cannot create folder"), m_folder, folderError);

    // A recording reopened from here goes back to its own entry, unless a program still runs
    // that file as a journal.
    QString path;
    struct stat st;
    if (isInFolder(recording.recoveryPath, m_folder)
        && ::lstat(QFile::encodeName(recording.recoveryPath).constData(), &st) == 0
        && S_ISREG(st.st_mode) && !lockedByAnother(recording.recoveryPath)) {
        path = recording.recoveryPath;
        DataFileSummary summary;
        if (readDataFileSummary(path, &summary) == DataFileStatus::Ok
            && qint64(summary.header.DataLength) == recording.data.size()) {
            const QStringList lines = summary.commentLines();
            const std::optional<RecoveryNote> note = parseRecoveryNote(lines.value(0));
            const QByteArray kept = note
                ? encodeDataFileComment(commentWithoutNote(fromWindows1251(summary.commentBytes)))
                : QByteArray();
            const bool sameFault
                = note && (note->kind == RecoveryKind::FailedTransfer) == recording.faulty;
            if (sameFault && kept == encodeDataFileComment(comment))
                return path; // unchanged: left as it is
        }
    }
    bool reserved = false;
    if (path.isEmpty()) {
        // The name is taken at once, so that two programs keeping at the same moment never
        // write one file; the save below replaces this empty file atomically.
        for (int attempt = 0; attempt < 100 && !reserved; ++attempt) {
            path = newEntryPath(kind, recording.time);
            const int fd = ::open(QFile::encodeName(path).constData(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                reserved = true;
            } else if (errno != EEXIST) {
                return failed(QStringLiteral("cannot write"), path, errno);
            }
        }
        if (!reserved)
            return failed(QStringLiteral("cannot write"), path, EEXIST);
    }
    QString reason;
    if (!saveDataFile(path, recording.header, recording.data,
            noteAndComment(kind, keeper, detail, comment), nullptr, &reason)) {
        if (reserved)
            ::unlink(QFile::encodeName(path).constData());
        if (error)
            *error = reason.isEmpty() ? QStringLiteral("cannot write %1").arg(path)
                                      : QStringLiteral("cannot write %1: %2").arg(path, reason);
        return {};
    }
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
        setModificationTime(
            fd, recording.time.isValid() ? recording.time : QDateTime::currentDateTime());
        ::close(fd);
    }
    prune();
    return path;
}

QList<RecoveryEntry> RecoveryStore::entries() const
{
    QList<RecoveryEntry> out;
    const QFileInfoList files = storeFiles(m_folder);
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        DataFileSummary summary;
        // The note and the user's first line are all the list shows.
        if (readDataFileSummary(it->filePath(), &summary, 8192) != DataFileStatus::Ok)
            continue;
        out << entryOf(it->filePath(), summary, it->lastModified());
    }
    return out;
}

DataFileStatus RecoveryStore::reopen(const QString &path, Recording *recording, QString *error)
{
    const DataFileStatus status = readRecording(path, recording, error);
    if (status != DataFileStatus::Ok)
        return status;
    const std::optional<RecoveryNote> note
        = parseRecoveryNote(splitLines(recording->comment).value(0));
    recording->comment = commentWithoutNote(recording->comment);
    recording->faulty = note && note->kind == RecoveryKind::FailedTransfer;
    recording->savedPath.clear();
    recording->recoveryPath = path;
    return status;
}

QList<RecoveryEntry> RecoveryStore::repairInterruptedRuns() const
{
    QList<RecoveryEntry> repaired;
    for (const QFileInfo &info : storeFiles(m_folder)) {
        if (!isCyclesName(info.fileName()))
            continue;
        const QByteArray name = QFile::encodeName(info.filePath());
        const Descriptor file(
            ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        struct stat st;
        // A journal its program holds is under way; one that cannot be read is left alone.
        if (file.fd < 0 || !tryLockExclusive(file.fd) || ::fstat(file.fd, &st) != 0
            || !S_ISREG(st.st_mode))
            continue;
        DataFileSummary summary;
        if (readDataFileSummary(file.fd, &summary, UnlimitedComment) != DataFileStatus::Ok)
            continue;
        const std::optional<RecoveryNote> note = parseRecoveryNote(summary.commentLines().value(0));
        // A run that ended has its note; any other comment is what a crash left.
        if (note && note->kind != RecoveryKind::CyclesUnderWay)
            continue;
        const qint64 dataLength = summary.header.DataLength;
        if (dataLength == 0) {
            // Killed in its first append: it holds no cycle.
            ::unlink(name.constData());
            syncFolder(m_folder);
            continue;
        }
        const JournalTail tail = readJournalTail(summary.commentBytes, dataLength);
        const QString detail = tail.cycles >= 0
            ? QStringLiteral("interrupted, %1").arg(cyclesText(tail.cycles))
            : QStringLiteral("interrupted, %1 bytes of cycles").arg(dataLength);
        const QString comment = noteAndComment(RecoveryKind::Cycles,
            tail.keeper.value_or(RecoveryKeeper::Cycle), detail, tail.comment);
        // The data stay untouched: only what follows them is cut and written anew. A crash in
        // between leaves every cycle with no comment, which is repaired again.
        if (::ftruncate(file.fd, off_t(summary.commentOffset)) != 0
            || !writeAt(file.fd, summary.commentOffset, encodeDataFileComment(comment))
            || !syncData(file.fd))
            continue;
        setModificationTime(file.fd, modificationTime(st));
        DataFileSummary after;
        if (readDataFileSummary(file.fd, &after, 8192) == DataFileStatus::Ok)
            repaired << entryOf(info.filePath(), after, modificationTime(st));
    }
    return repaired;
}

void RecoveryStore::prune() const
{
    const QFileInfoList files = storeFiles(m_folder);
    qint64 count = files.size();
    qint64 bytes = 0;
    for (const QFileInfo &info : files)
        bytes += info.size();
    // The newest entry always stays, however large.
    for (qsizetype i = 0; i + 1 < files.size() && (count > MaxEntries || bytes > MaxBytes); ++i) {
        const QByteArray name = QFile::encodeName(files[i].filePath());
        const Descriptor file(
            ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        // Held while it is removed: a journal its program holds is under way and stays.
        if (file.fd < 0 || !tryLockExclusive(file.fd))
            continue;
        if (::unlink(name.constData()) == 0) {
            --count;
            bytes -= files[i].size();
        }
    }
}

} // namespace files
