#include "files/cyclestore.h"

#include "files/storeio.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <unistd.h>

namespace files {

using namespace storeio;

namespace {

// Where a data file keeps its DataLength.
constexpr qint64 DataLengthOffset = 5;
// What a one-file save reads of the journals at a time.
constexpr qint64 ChunkBytes = qint64(1) << 20;
constexpr qint64 MaxDataLength = std::numeric_limits<quint32>::max();

bool sameHeader(const DataFileHeader &a, const DataFileHeader &b)
{
    return a.FileType == b.FileType && a.ChartChannelBits == b.ChartChannelBits
        && a.ChannelIntervalUs == b.ChannelIntervalUs && a.ValueScale == b.ValueScale
        && a.ValueOffset == b.ValueOffset && a.XTitle == b.XTitle && a.YTitle == b.YTitle;
}

QByteArray lengthBytes(qint64 length)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((quint64(length) >> (8 * i)) & 0xFF);
    return out;
}

} // namespace

// One journal: a data file of the store whose data are its cycles one after the other, open
// (and locked while the run goes) for as long as the run's cycles are held.
struct CycleStore::Journal
{
    QString path;
    int fd = -1;
    // Removed from the store (its cycles were all saved); the descriptor still reads them.
    bool inStore = true;
    // The run goes on in it: its note says "cycles under way" with the count and the length.
    bool underWay = true;
    DataFileHeader header;
    qint64 dataOffset = 0;
    qint64 dataLength = 0;
    // The DataLength on disk (-1: not known after a failed write) and the file's length.
    qint64 lengthOnDisk = 0;
    qint64 fileSize = 0;
    // The run's number of its first cycle, and how many it holds.
    int first = 0;
    int count = 0;
    // The cycles' lengths as runs of equal lengths, oldest first.
    struct Run
    {
        qint64 length;
        int count;
    };
    std::vector<Run> runs;

    Journal() = default;
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;
    ~Journal()
    {
        if (fd >= 0)
            ::close(fd);
    }

    void push(qint64 length)
    {
        if (!runs.empty() && runs.back().length == length)
            ++runs.back().count;
        else
            runs.push_back({ length, 1 });
    }
    qint64 pop()
    {
        const qint64 length = runs.back().length;
        if (--runs.back().count == 0)
            runs.pop_back();
        return length;
    }
    // The comment the journal ends with when it holds `cycles` in `length` bytes: the note,
    // then the user's comment.
    QByteArray comment(
        RecoveryKeeper keeper, const QString &userComment, int cycles, qint64 length) const
    {
        return encodeDataFileComment(underWay
                ? noteAndComment(RecoveryKind::CyclesUnderWay, keeper,
                    journalDetail(cycles, length), userComment)
                : noteAndComment(RecoveryKind::Cycles, keeper, cyclesText(cycles), userComment));
    }

    // Brings the file to what the journal holds: the DataLength (written and flushed first, so
    // that a retracted cycle leaves the data before anything else moves), then the comment
    // after the data and the end of the file.
    bool writeTail(RecoveryKeeper keeper, const QString &userComment)
    {
        if (lengthOnDisk != dataLength) {
            if (!writeAt(fd, DataLengthOffset, lengthBytes(dataLength)) || !syncData(fd)) {
                lengthOnDisk = -1;
                return false;
            }
            lengthOnDisk = dataLength;
        }
        const QByteArray bytes = comment(keeper, userComment, count, dataLength);
        const qint64 end = dataOffset + dataLength;
        if (!writeAt(fd, end, bytes) || ::ftruncate(fd, off_t(end + bytes.size())) != 0
            || !syncData(fd))
            return false;
        fileSize = end + bytes.size();
        return true;
    }

    // Once a run is over, the journals whose cycles are all saved (in one file, from cycle 0
    // up to `oneFileSaved`, or each in its own) leave the store; their descriptors still read
    // the cycles for another save.
    static void removeSaved(const std::vector<std::unique_ptr<Journal>> &journals, int oneFileSaved,
        const std::vector<bool> &perCycleSaved, const QString &folder)
    {
        bool removed = false;
        for (const std::unique_ptr<Journal> &journal : journals) {
            bool saved = journal->inStore;
            for (int i = journal->first; saved && i < journal->first + journal->count; ++i)
                saved = i < oneFileSaved || perCycleSaved[size_t(i)];
            if (saved) {
                ::unlink(QFile::encodeName(journal->path).constData());
                journal->inStore = false;
                removed = true;
            }
        }
        if (removed)
            syncFolder(folder);
    }

    // The offset in the data of cycle `local` (0 its first) and its length.
    std::pair<qint64, qint64> place(int local) const
    {
        qint64 offset = 0;
        for (const Run &run : runs) {
            if (local < run.count)
                return { offset + local * run.length, run.length };
            offset += run.count * run.length;
            local -= run.count;
        }
        return { offset, 0 };
    }
};

CycleStore::CycleStore(RecoveryStore store, RecoveryKeeper keeper)
    : m_store(std::move(store))
    , m_keeper(keeper)
{
}

CycleStore::~CycleStore()
{
    endRun();
    closeJournals(true);
}

void CycleStore::beginRun()
{
    endRun();
    closeJournals(true);
    m_comment.clear();
    m_running = true;
}

void CycleStore::endRun()
{
    if (!m_running)
        return;
    m_running = false;
    for (const std::unique_ptr<Journal> &journal : m_journals) {
        journal->underWay = false;
        if (!journal->inStore)
            continue;
        // A failure leaves the journal as a run under way; the next start repairs it.
        journal->writeTail(m_keeper, m_comment);
        ::flock(journal->fd, LOCK_UN);
    }
    Journal::removeSaved(m_journals, m_oneFileSaved, m_perCycleSaved, m_store.folder());
}

CycleStore::Journal *CycleStore::openJournal(const DataFileHeader &header, QString *error)
{
    const auto failed = [&](const QString &path, int number) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, systemText(number));
        return nullptr;
    };
    const QString folder = m_store.folder();
    int folderError = 0;
    if (!makeFolder(folder, &folderError)) {
        if (error)
            *error = QStringLiteral("cannot create folder %1: %2")
                         .arg(folder, systemText(folderError));
        return nullptr;
    }
    auto journal = std::make_unique<Journal>();
    journal->header = header;
    journal->header.DataLength = 0;
    const QByteArray head = encodeDataFileHead(journal->header, 0);
    journal->dataOffset = head.size();
    const QByteArray bytes = head + journal->comment(m_keeper, m_comment, 0, 0);
    const auto newPath = [&] {
        return m_store.newEntryPath(RecoveryKind::CyclesUnderWay, QDateTime::currentDateTime());
    };

    // The journal is written, locked and flushed before it has a name, and then linked into
    // the store under a name not taken: a program that finds it there finds it whole and
    // locked, and a crash before the link leaves nothing behind.
    journal->fd
        = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (journal->fd >= 0) {
        if (::flock(journal->fd, LOCK_EX) != 0 || !writeAt(journal->fd, 0, bytes)
            || !syncData(journal->fd))
            return failed(folder, errno);
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(journal->fd);
        int linked = -1;
        for (int attempt = 0; attempt < 100 && linked != 0; ++attempt) {
            journal->path = newPath();
            linked = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD,
                QFile::encodeName(journal->path).constData(), AT_SYMLINK_FOLLOW);
            if (linked != 0 && errno != EEXIST)
                return failed(journal->path, errno);
        }
        if (linked != 0)
            return failed(journal->path, EEXIST);
    } else {
        // A file system without unnamed files: created under its name, locked at once.
        for (int attempt = 0; attempt < 100 && journal->fd < 0; ++attempt) {
            journal->path = newPath();
            journal->fd = ::open(QFile::encodeName(journal->path).constData(),
                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (journal->fd < 0 && errno != EEXIST)
                return failed(journal->path, errno);
        }
        if (journal->fd < 0)
            return failed(journal->path, EEXIST);
        if (::flock(journal->fd, LOCK_EX) != 0 || !writeAt(journal->fd, 0, bytes)
            || !syncData(journal->fd)) {
            const int number = errno;
            ::unlink(QFile::encodeName(journal->path).constData());
            return failed(journal->path, number);
        }
    }
    syncFolder(folder);
    journal->fileSize = bytes.size();
    journal->first = m_count;
    m_journals.push_back(std::move(journal));
    return m_journals.back().get();
}

bool CycleStore::append(const DataFileHeader &header, const QByteArray &cycle, QString *error)
{
    if (!m_running)
        beginRun(); // a cycle is never dropped for want of a run
    Journal *journal = m_journals.empty() ? nullptr : m_journals.back().get();
    if (!journal || !journal->inStore || journal->lengthOnDisk < 0
        || !sameHeader(journal->header, header)
        || journal->dataLength + cycle.size() > MaxDataLength)
        journal = openJournal(header, error);
    if (!journal)
        return false;

    // The cycle and the comment after it, flushed; then the length that counts the cycle,
    // flushed. A crash between the two leaves the cycles before, whole. The new comment goes
    // first, so that a crash while the cycle is written still leaves a note that counts the
    // cycles: the old one where the cycle begins, or the new one after it.
    const qint64 end = journal->dataOffset + journal->dataLength;
    const qint64 length = journal->dataLength + cycle.size();
    const QByteArray comment = journal->comment(m_keeper, m_comment, journal->count + 1, length);
    const qint64 newSize = end + cycle.size() + comment.size();
    bool ok = writeAt(journal->fd, end + cycle.size(), comment) && writeAt(journal->fd, end, cycle);
    if (ok && journal->fileSize > newSize)
        ok = ::ftruncate(journal->fd, off_t(newSize)) == 0;
    ok = ok && syncData(journal->fd);
    if (ok) {
        journal->lengthOnDisk = -1;
        ok = writeAt(journal->fd, DataLengthOffset, lengthBytes(length)) && syncData(journal->fd);
    }
    if (!ok) {
        const int number = errno;
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(journal->path, systemText(number));
        // Back to the cycles before; a journal that cannot be brought back takes no more.
        if (!journal->writeTail(m_keeper, m_comment))
            journal->lengthOnDisk = -1;
        if (journal->count == 0) {
            ::unlink(QFile::encodeName(journal->path).constData());
            m_journals.pop_back();
        }
        return false;
    }
    journal->lengthOnDisk = length;
    journal->dataLength = length;
    journal->fileSize = newSize;
    journal->push(cycle.size());
    ++journal->count;
    ++m_count;
    m_dataBytes += cycle.size();
    m_perCycleSaved.push_back(false);
    return true;
}

QByteArray CycleStore::retractLast()
{
    if (m_count == 0 || m_journals.empty())
        return {};
    Journal &journal = *m_journals.back();
    const qint64 length = journal.pop();
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    if (!readAt(journal.fd, journal.dataOffset + journal.dataLength - length, bytes.data(), length))
        bytes.clear();
    journal.dataLength -= length;
    --journal.count;
    --m_count;
    m_dataBytes -= length;
    m_perCycleSaved.pop_back();
    m_oneFileSaved = std::min(m_oneFileSaved, m_count);
    if (journal.count == 0) {
        if (journal.inStore) {
            ::unlink(QFile::encodeName(journal.path).constData());
            syncFolder(m_store.folder());
        }
        m_journals.pop_back();
    } else if (journal.inStore && !journal.writeTail(m_keeper, m_comment)) {
        journal.lengthOnDisk = -1;
    }
    return bytes;
}

namespace {

template <typename Journals> auto findCycle(const Journals &journals, int index)
{
    using Pointer = decltype(journals.front().get());
    for (const auto &journal : journals) {
        if (index >= journal->first && index < journal->first + journal->count)
            return std::pair<Pointer, int>(journal.get(), index - journal->first);
    }
    return std::pair<Pointer, int>(nullptr, 0);
}

} // namespace

QByteArray CycleStore::cycle(int index) const
{
    const auto [journal, local] = findCycle(m_journals, index);
    if (!journal)
        return {};
    const auto [offset, length] = journal->place(local);
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    if (!readAt(journal->fd, journal->dataOffset + offset, bytes.data(), length))
        return {};
    return bytes;
}

DataFileHeader CycleStore::cycleHeader(int index) const
{
    const auto [journal, local] = findCycle(m_journals, index);
    if (!journal)
        return {};
    DataFileHeader header = journal->header;
    header.DataLength = quint32(journal->place(local).second);
    return header;
}

DataFileHeader CycleStore::header() const
{
    return cycleHeader(m_count - 1);
}

QStringList CycleStore::journals() const
{
    QStringList paths;
    for (const std::unique_ptr<Journal> &journal : m_journals) {
        if (journal->inStore)
            paths << journal->path;
    }
    return paths;
}

bool CycleStore::hasUnsaved() const
{
    for (int i = m_oneFileSaved; i < m_count; ++i) {
        if (!m_perCycleSaved[size_t(i)])
            return true;
    }
    return false;
}

bool CycleStore::saveOneFile(const QString &fileName, const QString &comment, QString *error,
    QString *reason, const OutputOptions &options, SaveFailure *failure, int *systemError)
{
    if (m_dataBytes > MaxDataLength) {
        if (error)
            *error = QStringLiteral("The cycles hold %1 bytes, more than one data file holds (%2)")
                         .arg(m_dataBytes)
                         .arg(MaxDataLength);
        if (reason)
            reason->clear();
        if (failure)
            *failure = SaveFailure::CannotWrite;
        if (systemError)
            *systemError = EFBIG;
        return false;
    }
    // One buffer for the whole save: memory stays at its size however long the run was.
    QByteArray buffer;
    const DataWriter writeData = [&](OutputFile &out, int *readError) {
        for (const std::unique_ptr<Journal> &journal : m_journals) {
            for (qint64 done = 0; done < journal->dataLength;) {
                const qint64 n = std::min(ChunkBytes, journal->dataLength - done);
                buffer.resize(qsizetype(n));
                if (!readAt(journal->fd, journal->dataOffset + done, buffer.data(), n)) {
                    *readError = errno;
                    return false;
                }
                if (!out.write(buffer.constData(), n))
                    return false;
                done += n;
            }
        }
        return true;
    };
    if (!saveDataFileFrom(fileName, header(), quint32(m_dataBytes), writeData, comment, error,
            reason, nullptr, options, failure, systemError))
        return false;
    m_oneFileSaved = m_count;
    if (!m_running)
        Journal::removeSaved(m_journals, m_oneFileSaved, m_perCycleSaved, m_store.folder());
    return true;
}

CycleSaveResult CycleStore::savePerCycle(
    const QString &lastSavedFile, const QString &comment, const OutputOptions &options)
{
    CycleSaveResult result;
    for (int i = m_count - 1; i >= 0; --i) {
        if (m_perCycleSaved[size_t(i)])
            continue;
        const QString fileName = cycleFileName(lastSavedFile, i);
        const DataFileHeader header = cycleHeader(i);
        const QByteArray data = cycle(i);
        if (data.size() != qint64(header.DataLength)) {
            result.failedFile = fileName;
            result.error = QStringLiteral("Stream read error");
            result.systemError = errno ? errno : EIO;
            result.reason = systemText(result.systemError);
            result.failure = SaveFailure::CannotRead;
            return result;
        }
        if (!saveDataFile(fileName, header, data, comment, &result.error, &result.reason, nullptr,
                options, &result.failure, &result.systemError)) {
            result.failedFile = fileName;
            return result;
        }
        m_perCycleSaved[size_t(i)] = true;
        result.written << fileName;
    }
    if (!m_running)
        Journal::removeSaved(m_journals, m_oneFileSaved, m_perCycleSaved, m_store.folder());
    return result;
}

void CycleStore::discard()
{
    for (const std::unique_ptr<Journal> &journal : m_journals) {
        if (journal->inStore)
            ::unlink(QFile::encodeName(journal->path).constData());
        journal->inStore = false;
    }
    if (!m_journals.empty())
        syncFolder(m_store.folder());
    closeJournals(false);
    m_comment.clear();
}

bool CycleStore::setComment(const QString &comment, QString *error)
{
    m_comment = comment;
    bool ok = true;
    for (const std::unique_ptr<Journal> &journal : m_journals) {
        if (!journal->inStore)
            continue;
        if (!journal->writeTail(m_keeper, m_comment)) {
            if (error && ok)
                *error
                    = QStringLiteral("cannot write %1: %2").arg(journal->path, systemText(errno));
            ok = false;
        }
    }
    return ok;
}

void CycleStore::closeJournals(bool removeSaved)
{
    if (removeSaved)
        Journal::removeSaved(m_journals, m_oneFileSaved, m_perCycleSaved, m_store.folder());
    m_journals.clear();
    m_count = 0;
    m_dataBytes = 0;
    m_oneFileSaved = 0;
    m_perCycleSaved.clear();
}

} // namespace files
