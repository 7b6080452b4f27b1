// The recovery store and the keeper of unsaved work, on real folders: what stands in the store
// and beside a target afterwards is the point of every case.
#include "files/unsavedwork.h"
#include "tests/files/filestestsupport.h"
#include "tests/support/lockedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

using namespace files;
using filestest::readBytes;
using testsupport::LockedFolder;

namespace {

Recording measured(const QByteArray &data, const QDateTime &time)
{
    Recording r;
    r.header = filestest::recordingHeader();
    r.data = data;
    r.origin = RecordingOrigin::Measurement;
    r.time = time;
    return r;
}

QStringList storeFiles(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QString commentOf(const QString &path)
{
    DataFile file;
    EXPECT_EQ(readDataFile(path, &file), DataFileStatus::Ok) << qPrintable(path);
    return file.comment();
}

} // namespace

// An entry is a normal data file named after the moment the recording was received, with that
// moment as its modification time and the store's note before the user's comment; it reads
// back as the user left it, still to be saved, and a failed transfer comes back faulty.
TEST(RecoveryStore, EntriesSayWhatTheyAre)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const RecoveryStore store(dir.filePath("a/b/recovery"));
    const QDateTime received(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
    Recording r = measured("abc", received);
    QString error;
    const QString path = store.keep(r, RecoveryKind::NotSaved, RecoveryKeeper::Measure,
        "cannot write /x.kdx: No space left on device", "печь 3\r\nвторая", &error);
    ASSERT_FALSE(path.isEmpty()) << qPrintable(error);
    EXPECT_EQ(QFileInfo(path).fileName(), "20260304-050607-089-unsaved.kdx");
    EXPECT_EQ(QFileInfo(path).lastModified(), received);
    EXPECT_EQ(commentOf(path),
        "Ferrun recovery: not saved by measure: cannot write /x.kdx: No space left on device"
        "\r\nпечь 3\r\nвторая");
    Recording faulty = measured("xyz", received);
    faulty.faulty = true;
    const QString failed = store.keep(faulty, RecoveryKind::Replaced, RecoveryKeeper::Window, "",
        "", &error); // the bytes of a failed transfer are never noted as anything else
    EXPECT_EQ(QFileInfo(failed).fileName(), "20260304-050607-089-failed.kdx");
    EXPECT_EQ(commentOf(failed), "Ferrun recovery: failed transfer by window");
    const QString second = store.keep(r, RecoveryKind::NotSaved, RecoveryKeeper::Cycle, "", "");
    EXPECT_EQ(QFileInfo(second).fileName(), "20260304-050607-089-unsaved-2.kdx");

    const QList<RecoveryEntry> entries = store.entries();
    ASSERT_EQ(entries.size(), 3);
    const auto first = std::find_if(
        entries.begin(), entries.end(), [&](const RecoveryEntry &e) { return e.path == path; });
    ASSERT_NE(first, entries.end());
    EXPECT_EQ(first->kind, RecoveryKind::NotSaved);
    EXPECT_EQ(first->keptBy, RecoveryKeeper::Measure);
    EXPECT_EQ(first->detail, "cannot write /x.kdx: No space left on device");
    EXPECT_EQ(first->firstCommentLine, "печь 3");
    EXPECT_EQ(first->dataLength, 3);

    Recording back;
    ASSERT_EQ(RecoveryStore::reopen(path, &back), DataFileStatus::Ok);
    EXPECT_EQ(back.comment, "печь 3\r\nвторая");
    EXPECT_EQ(back.recoveryPath, path);
    EXPECT_TRUE(back.needsSaving());
    ASSERT_EQ(RecoveryStore::reopen(failed, &back), DataFileStatus::Ok);
    EXPECT_TRUE(back.faulty);
    EXPECT_FALSE(back.needsSaving());
}

// A store that cannot be made or written says why in English and leaves nothing behind.
TEST(RecoveryStore, FailuresSayWhyAndLeaveNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    filestest::writeBytes(dir.filePath("file"), "in the way");
    const Recording r = measured("abc", QDateTime::currentDateTime());
    QString error;
    EXPECT_TRUE(RecoveryStore(dir.filePath("file/recovery"))
                    .keep(r, RecoveryKind::Replaced, RecoveryKeeper::Window, "", "", &error)
                    .isEmpty());
    EXPECT_EQ(error,
        QString("cannot create folder %1: Not a directory").arg(dir.filePath("file/recovery")));
    EXPECT_EQ(readBytes(dir.filePath("file")), QByteArray("in the way"));

    ASSERT_TRUE(QDir(dir.path()).mkdir("store"));
    const RecoveryStore store(dir.filePath("store"));
    {
        const LockedFolder locked(store.folder());
        if (!locked.locked())
            GTEST_SKIP() << "no folder here can be made to refuse new files";
        UnsavedWork work(store, RecoveryKeeper::Window);
        work.replace(r, "typed");
        EXPECT_TRUE(work.replace(Recording(), "", &error).isEmpty());
        EXPECT_TRUE(work.recording().isEmpty()); // the new one has arrived all the same
        EXPECT_TRUE(error.startsWith("cannot write " + store.folder() + "/")) << qPrintable(error);
        EXPECT_TRUE(
            error.endsWith(": Operation not permitted") || error.endsWith(": Permission denied"))
            << qPrintable(error);
        EXPECT_FALSE(work.cycles().append(filestest::recordingHeader(), "cycle", &error));
        EXPECT_EQ(work.cycles().count(), 0);
    }
    EXPECT_TRUE(storeFiles(store.folder()).isEmpty());
}

// Nothing unsaved is replaced without a copy: a new measurement, an opened file whose comment
// was edited, an entry read back from the store (rewritten in place, never kept twice, and
// gone from the store once saved).
TEST(UnsavedWork, NothingUnsavedIsReplacedWithoutACopy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    UnsavedWork work(RecoveryStore(dir.filePath("recovery")), RecoveryKeeper::Window);
    const QString folder = work.recovery().folder();
    const QDateTime now = QDateTime::currentDateTime().addSecs(-100);

    EXPECT_TRUE(work.replace(measured("first", now), "box").isEmpty());
    work.setComment("typed for first");
    QString error;
    const QString kept = work.replace(measured("second", now.addSecs(1)), "box", &error);
    ASSERT_FALSE(kept.isEmpty()) << qPrintable(error);
    EXPECT_EQ(commentOf(kept), "Ferrun recovery: replaced by window\r\ntyped for first");

    // A faulty one (an exchange proved out of step) is not kept as a recording.
    EXPECT_FALSE(work.exchangeOutOfStep(7));
    Recording late = measured("third", now.addSecs(2));
    late.exchangeId = 7;
    EXPECT_FALSE(work.replace(late, "").isEmpty()); // "second" needed saving
    EXPECT_TRUE(work.recordingUnsaved());
    EXPECT_TRUE(work.exchangeOutOfStep(7));
    EXPECT_FALSE(work.recordingUnsaved());

    // An opened file: unchanged, nothing is kept; its comment edited, it is.
    const QString file = dir.filePath("opened.kdx");
    filestest::writeDataFile(file, "as saved");
    Recording opened;
    ASSERT_EQ(readRecording(file, &opened), DataFileStatus::Ok);
    EXPECT_TRUE(work.replace(opened, opened.comment).isEmpty());
    EXPECT_FALSE(work.recordingUnsaved());
    EXPECT_TRUE(work.replace(opened, opened.comment).isEmpty());
    work.setComment("as saved, then edited");
    EXPECT_TRUE(work.recordingUnsaved());
    const QString edited = work.replace(Recording(), "");
    ASSERT_FALSE(edited.isEmpty());
    EXPECT_EQ(commentOf(edited), "Ferrun recovery: replaced by window\r\nas saved, then edited");
    EXPECT_EQ(commentOf(file), "as saved");
    EXPECT_EQ(storeFiles(folder).size(), 3);

    // An entry read back: replaced unchanged, it stays as it is; edited, it is rewritten in
    // place; its entry removed by someone, it is kept again.
    Recording back;
    ASSERT_EQ(RecoveryStore::reopen(kept, &back), DataFileStatus::Ok);
    const QByteArray keptBytes = readBytes(kept);
    work.replace(back, back.comment);
    EXPECT_EQ(work.replace(Recording(), ""), kept);
    EXPECT_EQ(readBytes(kept), keptBytes);
    work.replace(back, back.comment);
    work.setComment("typed later");
    EXPECT_EQ(work.replace(Recording(), ""), kept);
    EXPECT_EQ(commentOf(kept), "Ferrun recovery: replaced by window\r\ntyped later");
    EXPECT_EQ(storeFiles(folder).size(), 3);

    ASSERT_EQ(RecoveryStore::reopen(kept, &back), DataFileStatus::Ok);
    work.replace(back, back.comment);
    const QString saved = dir.filePath("saved.kdx");
    ASSERT_TRUE(saveRecording(back, saved));
    work.recordingSaved(saved);
    EXPECT_FALSE(work.recordingUnsaved());
    EXPECT_FALSE(QFileInfo::exists(kept));
    EXPECT_EQ(storeFiles(folder).size(), 2);
}

// The bytes of a failed transfer go beside a regular file under a new name (never one that
// exists, whatever stands there), and to the store when the target is no regular file.
TEST(UnsavedWork, FailedTransfersNeverReplaceAnything)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    UnsavedWork work(RecoveryStore(dir.filePath("recovery")), RecoveryKeeper::Measure);
    Recording received = measured("partial", QDateTime::currentDateTime());
    received.faulty = true;
    received.comment = "печь";
    const QString target = dir.filePath("run.kdx");
    filestest::writeDataFile(target, "good");
    const QByteArray good = readBytes(target);

    QString error;
    EXPECT_EQ(work.keepFailed(received, "no reply", target, &error), target + ".faulty");
    EXPECT_EQ(
        commentOf(target + ".faulty"), "FAULTY RECORDING (transfer failed): no reply\r\nпечь");
    const QString victim = dir.filePath("victim");
    filestest::writeBytes(victim, "untouched");
    ASSERT_TRUE(QFile::link(victim, target + ".2.faulty"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(target + ".3.faulty").constData(), 0600), 0);
    EXPECT_EQ(work.keepFailed(received, "", target, &error), target + ".4.faulty");
    EXPECT_EQ(readBytes(victim), QByteArray("untouched"));
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(target + ".3.faulty").constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(readBytes(target), good);
    EXPECT_EQ(
        work.keepFailed(received, "", dir.filePath("new.kdx")), dir.filePath("new.kdx.faulty"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("new.kdx")));

    // No regular file: the store keeps them, noted as a failed transfer.
    for (const QString &other : { QStringLiteral("/dev/null"), target + ".3.faulty",
             dir.filePath("missing/run.kdx"), QString() }) {
        const QString kept = work.keepFailed(received, "stray bytes", other, &error);
        EXPECT_TRUE(kept.startsWith(work.recovery().folder())) << qPrintable(other);
        EXPECT_TRUE(kept.endsWith("-failed.kdx") || kept.contains("-failed-")) << qPrintable(kept);
        EXPECT_FALSE(QFileInfo::exists(other + ".faulty")) << qPrintable(other);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));
    EXPECT_EQ(storeFiles(work.recovery().folder()).size(), 4);
    for (const RecoveryEntry &entry : work.recovery().entries()) {
        EXPECT_EQ(entry.kind, RecoveryKind::FailedTransfer);
        EXPECT_EQ(entry.detail, "stray bytes");
        EXPECT_EQ(entry.firstCommentLine, "печь");
    }
    EXPECT_TRUE(work.keepFailed(Recording(), "", target, &error).isEmpty());
    EXPECT_EQ(error, "nothing was received");
}

// At a program's end everything unsaved goes to the store with the comment as it stands; the
// user's "Не сохранять" gives up what a save would write and keeps the rest.
TEST(UnsavedWork, KeepAllAndTheSaveTarget)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDateTime now = QDateTime::currentDateTime();
    for (const bool exceptSaveTarget : { false, true }) {
        const QString folder = dir.filePath(exceptSaveTarget ? "except" : "all");
        UnsavedWork work(RecoveryStore(folder), RecoveryKeeper::Window);
        Recording single = measured("single", now);
        single.exchangeId = 5;
        work.replace(single, "for the single one");
        work.cycles().beginRun();
        ASSERT_TRUE(work.cycles().append(filestest::recordingHeader(), "cycle 0"));
        work.setRecordedByCycle(true);
        work.setComment("for the cycles");
        QString error;
        ASSERT_TRUE(work.keepAll(exceptSaveTarget, &error)) << qPrintable(error);
        ASSERT_TRUE(work.keepAll(exceptSaveTarget, &error)) << qPrintable(error); // no duplicates
        QStringList comments;
        for (const RecoveryEntry &entry : work.recovery().entries())
            comments << commentOf(entry.path);
        comments.sort();
        if (exceptSaveTarget) {
            EXPECT_EQ(
                comments, QStringList { "Ferrun recovery: not saved by window\r\nfor the cycles" });
            // Proved out of step once kept: its entry says so.
            EXPECT_TRUE(work.exchangeOutOfStep(5));
            ASSERT_EQ(work.recovery().entries().size(), 1);
            EXPECT_EQ(work.recovery().entries()[0].kind, RecoveryKind::FailedTransfer);
        } else {
            EXPECT_EQ(comments,
                (QStringList { "Ferrun recovery: cycles by window: 1 cycle\r\nfor the cycles",
                    "Ferrun recovery: not saved by window\r\nfor the cycles" }));
        }
    }
}
