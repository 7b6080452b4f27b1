// The cycles of a run on disk: the journals in the store, their notes, the saves and when the
// journals leave the store, on real files.
#include "files/cyclestore.h"
#include "files/storeio.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>

using namespace files;
using filestest::readBytes;

namespace {

DataFileHeader averaged()
{
    DataFileHeader h = filestest::recordingHeader();
    h.ChartChannelBits = chartChannelBits(0x7F, true);
    return h;
}

DataFileHeader doubledInterval()
{
    DataFileHeader h = averaged();
    h.ChannelIntervalUs *= 2;
    return h;
}

// Cycle `number`: a pattern that differs from one cycle to the next and along each cycle.
QByteArray cycleBytes(int number, qsizetype size = CycleRecordBytes)
{
    constexpr qsizetype Period = 65521;
    static const QByteArray pattern = [] {
        QByteArray p(Period + 256, Qt::Uninitialized);
        for (qsizetype i = 0; i < p.size(); ++i)
            p[i] = char(i * 7 + (i >> 8));
        return p;
    }();
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size)
        bytes.append(
            pattern.constData() + (number * 131) % 256, std::min(Period, size - bytes.size()));
    return bytes;
}

DataFile readBack(const QString &path)
{
    DataFile file;
    EXPECT_EQ(readDataFile(path, &file), DataFileStatus::Ok) << qPrintable(path);
    return file;
}

QStringList storeFiles(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A line of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when it is not there.
qint64 statusKb(const char *key)
{
    const QList<QByteArray> lines = readBytes("/proc/self/status").split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(QByteArray(key) + ':'))
            return line.mid(qsizetype(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A cycle run begun in a store of its own.
class CycleRun : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cycles.beginRun();
    }

    QTemporaryDir dir;
    const RecoveryStore store { dir.filePath("recovery") };
    CycleStore cycles { store, RecoveryKeeper::Cycle };
};

} // namespace

// Each cycle is in its journal once stored, the note counting cycles and bytes while the run
// goes; other header values go on in a new journal; a retracted cycle leaves the file (and a
// journal left empty, the store); the end of the run notes the count and releases the lock.
TEST_F(CycleRun, JournalsHoldEveryStoredCycle)
{
    EXPECT_TRUE(storeFiles(store.folder()).isEmpty());
    QString error;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(cycles.append(averaged(), cycleBytes(i), &error)) << qPrintable(error);
    ASSERT_TRUE(cycles.append(doubledInterval(), cycleBytes(3, 1000)));
    ASSERT_TRUE(cycles.append(doubledInterval(), cycleBytes(4, 500)));
    const QStringList journals = cycles.journals();
    ASSERT_EQ(journals.size(), 2);
    EXPECT_EQ(storeFiles(store.folder()).size(), 2);
    EXPECT_TRUE(QFileInfo(journals[0]).fileName().endsWith("-cycles.kdx"));
    DataFile first = readBack(journals[0]);
    EXPECT_EQ(first.data, cycleBytes(0) + cycleBytes(1) + cycleBytes(2));
    EXPECT_EQ(first.header.ChannelIntervalUs, averaged().ChannelIntervalUs);
    EXPECT_EQ(first.comment(), "Ferrun recovery: cycles under way by cycle: 3 cycles, 10500 bytes");
    EXPECT_TRUE(storeio::lockedByAnother(journals[0]));
    EXPECT_EQ(cycles.count(), 5);
    EXPECT_EQ(cycles.dataBytes(), 3 * 3500 + 1500);
    EXPECT_EQ(cycles.cycle(3), cycleBytes(3, 1000));
    EXPECT_EQ(cycles.cycleHeader(1).DataLength, 3500u);
    EXPECT_EQ(cycles.cycleHeader(4).DataLength, 500u);
    EXPECT_EQ(cycles.header().ChannelIntervalUs, doubledInterval().ChannelIntervalUs);

    EXPECT_EQ(cycles.retractLast(), cycleBytes(4, 500));
    DataFile second = readBack(journals[1]);
    EXPECT_EQ(second.data, cycleBytes(3, 1000));
    EXPECT_EQ(second.comment(), "Ferrun recovery: cycles under way by cycle: 1 cycle, 1000 bytes");
    EXPECT_EQ(cycles.retractLast(), cycleBytes(3, 1000));
    EXPECT_FALSE(QFileInfo::exists(journals[1]));
    EXPECT_EQ(cycles.journals(), QStringList { journals[0] });
    EXPECT_EQ(cycles.count(), 3);

    ASSERT_TRUE(cycles.setComment("печь 2\r\nпрогрев", &error)) << qPrintable(error);
    ASSERT_TRUE(cycles.append(averaged(), cycleBytes(3)));
    EXPECT_EQ(readBack(journals[0]).comment(),
        "Ferrun recovery: cycles under way by cycle: 4 cycles, 14000 bytes\r\nпечь 2\r\nпрогрев");
    cycles.endRun();
    EXPECT_FALSE(cycles.running());
    first = readBack(journals[0]);
    EXPECT_EQ(first.data, cycleBytes(0) + cycleBytes(1) + cycleBytes(2) + cycleBytes(3));
    EXPECT_EQ(first.comment(), "Ferrun recovery: cycles by cycle: 4 cycles\r\nпечь 2\r\nпрогрев");
    EXPECT_FALSE(storeio::lockedByAnother(journals[0]));
    const QList<RecoveryEntry> entries = store.entries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].kind, RecoveryKind::Cycles);
    EXPECT_EQ(entries[0].firstCommentLine, "печь 2");
    EXPECT_TRUE(store.repairInterruptedRuns().isEmpty());
}

// The window's rules: a per-cycle save writes each cycle not yet written, newest first, stops
// at the first failure and goes on under another name; a one-file save writes every cycle and
// may be repeated, even after the journals have left the store. Journals leave the store once
// the run is over with every cycle saved; a run with cycles not saved stays as an entry.
TEST_F(CycleRun, SavesAndWhenTheJournalsLeave)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(cycles.append(averaged(), cycleBytes(i)));
    ASSERT_TRUE(cycles.append(doubledInterval(), cycleBytes(3)));
    const QStringList journals = cycles.journals();

    ASSERT_TRUE(QDir(dir.path()).mkdir("run0001.kdx"));
    const CycleSaveResult failed = cycles.savePerCycle(dir.filePath("run.kdx"), "на печи");
    EXPECT_EQ(
        failed.written, (QStringList { dir.filePath("run0003.kdx"), dir.filePath("run0002.kdx") }));
    EXPECT_EQ(failed.failedFile, dir.filePath("run0001.kdx"));
    EXPECT_EQ(failed.error, "Cannot create file " + dir.filePath("run0001.kdx"));
    EXPECT_EQ(failed.reason, "Is a directory");
    EXPECT_TRUE(QFileInfo(dir.filePath("run0001.kdx")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("run0000.kdx")));
    EXPECT_TRUE(cycles.hasUnsaved());
    const CycleSaveResult rest = cycles.savePerCycle(dir.filePath("other.txt"), "на печи");
    EXPECT_TRUE(rest.ok());
    EXPECT_EQ(rest.written,
        (QStringList { dir.filePath("other0001.kdx"), dir.filePath("other0000.kdx") }));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("other0002.kdx")));
    const DataFile last = readBack(dir.filePath("run0003.kdx"));
    EXPECT_EQ(last.header.ChannelIntervalUs, doubledInterval().ChannelIntervalUs);
    EXPECT_EQ(last.header.DataLength, 3500u);
    EXPECT_EQ(last.data, cycleBytes(3));
    EXPECT_EQ(readBack(dir.filePath("other0000.kdx")).data, cycleBytes(0));
    EXPECT_EQ(readBack(dir.filePath("other0000.kdx")).comment(), "на печи");
    EXPECT_FALSE(cycles.hasUnsaved());
    EXPECT_TRUE(cycles.savePerCycle(dir.filePath("again.kdx"), "").written.isEmpty());

    // Every cycle saved: the journals stay while the run goes, and leave when it ends.
    EXPECT_EQ(storeFiles(store.folder()).size(), 2);
    cycles.endRun();
    EXPECT_TRUE(storeFiles(store.folder()).isEmpty());
    EXPECT_TRUE(cycles.journals().isEmpty());
    const QString all = dir.filePath("all.kdx");
    for (int repeat = 0; repeat < 2; ++repeat) {
        QString error;
        ASSERT_TRUE(cycles.saveOneFile(all, "одним файлом", &error)) << qPrintable(error);
        const DataFile one = readBack(all);
        EXPECT_EQ(one.data, cycleBytes(0) + cycleBytes(1) + cycleBytes(2) + cycleBytes(3));
        EXPECT_EQ(one.header.ChannelIntervalUs, doubledInterval().ChannelIntervalUs);
        EXPECT_EQ(one.comment(), "одним файлом");
    }

    // A run saved in part stays as an entry when the next begins; one given up leaves.
    cycles.beginRun();
    ASSERT_TRUE(cycles.append(averaged(), cycleBytes(10)));
    ASSERT_TRUE(cycles.saveOneFile(dir.filePath("part.kdx"), ""));
    ASSERT_TRUE(cycles.append(averaged(), cycleBytes(11)));
    const QString kept = cycles.journals().value(0);
    cycles.beginRun();
    ASSERT_TRUE(cycles.append(averaged(), cycleBytes(12)));
    const QString givenUp = cycles.journals().value(0);
    EXPECT_EQ(storeFiles(store.folder()).size(), 2);
    cycles.discard();
    EXPECT_EQ(cycles.count(), 0);
    EXPECT_FALSE(QFileInfo::exists(givenUp));
    const QList<RecoveryEntry> entries = store.entries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].path, kept);
    EXPECT_EQ(entries[0].detail, "2 cycles");
    EXPECT_EQ(readBack(kept).data, cycleBytes(10) + cycleBytes(11));
}

// A cycle that cannot be written (the file size limit stands in for a full disk) is not
// stored: the journal reads as the cycles before, and the next append goes on.
TEST_F(CycleRun, AFailedAppendStoresNothing)
{
    ASSERT_TRUE(cycles.append(averaged(), cycleBytes(0)));
    const QString journal = cycles.journals().value(0);
    const QByteArray before = readBytes(journal);

    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = rlim_t(before.size() + 1000); // part of the cycle fits
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool stored = cycles.append(averaged(), cycleBytes(1), &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(stored);
    EXPECT_EQ(error, "cannot write " + journal + ": File too large");
    EXPECT_EQ(cycles.count(), 1);
    EXPECT_EQ(readBytes(journal), before);

    ASSERT_TRUE(cycles.append(averaged(), cycleBytes(2), &error)) << qPrintable(error);
    EXPECT_EQ(cycles.journals(), QStringList { journal });
    EXPECT_EQ(readBack(journal).data, cycleBytes(0) + cycleBytes(2));
}

// A one-file save streams the journals: a run of 64 MiB is written whole while the memory the
// save takes stays a small fraction of it.
TEST_F(CycleRun, OneFileSaveStreamsInBoundedMemory)
{
    constexpr int Cycles = 140;
    constexpr qsizetype Size = 480000; // a full recording without averaging
    for (int i = 0; i < Cycles; ++i)
        ASSERT_TRUE(
            cycles.append(i < Cycles / 2 ? averaged() : doubledInterval(), cycleBytes(i, Size)));
    EXPECT_EQ(cycles.journals().size(), 2);

    const QString out = dir.filePath("run.kdx");
    // Writing 5 to clear_refs sets the peak resident size back to the present one.
    const bool measured = [] {
        QFile clear("/proc/self/clear_refs");
        return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    }();
    const qint64 rssBefore = statusKb("VmRSS");
    QString error;
    ASSERT_TRUE(cycles.saveOneFile(out, "", &error)) << qPrintable(error);
    const qint64 peak = statusKb("VmHWM");
    if (measured && rssBefore > 0 && peak > 0) {
        EXPECT_LT(peak - rssBefore, 16 * 1024) << "kB above the resident size before the save";
    }

    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    DataFileSummary summary;
    ASSERT_EQ(readDataFileSummary(out, &summary), DataFileStatus::Ok);
    EXPECT_EQ(summary.header.DataLength, quint32(Cycles * Size));
    ASSERT_TRUE(file.seek(summary.commentOffset - Cycles * Size));
    for (int i = 0; i < Cycles; ++i)
        ASSERT_EQ(file.read(Size), cycleBytes(i, Size)) << "cycle " << i;
    EXPECT_TRUE(file.atEnd());
}

// Only beyond the limits are the oldest entries removed, and never a journal a program runs.
TEST_F(CycleRun, PruneSparesTheJournalUnderWay)
{
    ASSERT_TRUE(cycles.append(averaged(), QByteArray(3500, 'c')));
    const QString journal = cycles.journals().value(0);
    const QDateTime old = QDateTime::currentDateTime().addYears(-1);
    QFile journalFile(journal);
    ASSERT_TRUE(journalFile.open(QIODevice::ReadWrite));
    ASSERT_TRUE(journalFile.setFileTime(old.addSecs(-1), QFileDevice::FileModificationTime));
    journalFile.close(); // the oldest of all
    QStringList oldest;
    for (int i = 0; i < RecoveryStore::MaxEntries; ++i) {
        const QString name = store.newEntryPath(RecoveryKind::Replaced, old.addSecs(i));
        if (i < 2)
            oldest << QFileInfo(name).fileName();
        filestest::writeDataFile(name, "", 10);
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old.addSecs(i), QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(storeFiles(store.folder()).size(), RecoveryStore::MaxEntries + 1);
    Recording latest;
    latest.data = "new";
    ASSERT_FALSE(
        store.keep(latest, RecoveryKind::NotSaved, RecoveryKeeper::Window, "", "").isEmpty());
    const QStringList after = storeFiles(store.folder());
    EXPECT_EQ(after.size(), RecoveryStore::MaxEntries);
    EXPECT_TRUE(QFileInfo::exists(journal));
    for (const QString &name : oldest)
        EXPECT_FALSE(after.contains(name)) << qPrintable(name);
}
