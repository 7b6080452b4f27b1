#include "files/recordingdocument.h"
#include "files/recoverystore.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace files;

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

QStringList keptFiles(const QString &folder)
{
    return QDir(folder).entryList({ "*.kdx" }, QDir::Files, QDir::Name);
}

} // namespace

// The folder keeps the newest recordings only, each a normal data file with its comment, listed
// newest first with its time, length and first comment line.
TEST(RecoveryStore, KeepsTheNewestAsDataFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const RecoveryStore store(dir.filePath("recovery"));
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    for (int i = 0; i < RecoveryStore::Kept + 2; ++i) {
        Recording r = measured(QByteArray(10 + i, char(i)), start.addSecs(i));
        r.comment = QStringLiteral("печь %1\r\nвторая строка").arg(i);
        QString error;
        const QString path = store.keep(r, &error);
        ASSERT_FALSE(path.isEmpty()) << qPrintable(error);
        DataFile file;
        ASSERT_EQ(readDataFile(path, &file), DataFileStatus::Ok);
        EXPECT_EQ(file.data, r.data);
        EXPECT_EQ(file.comment(), r.comment);
    }
    const QList<RecoveryEntry> entries = store.entries();
    ASSERT_EQ(entries.size(), RecoveryStore::Kept);
    EXPECT_EQ(keptFiles(store.folder()).size(), RecoveryStore::Kept);
    EXPECT_EQ(entries.first().firstCommentLine, QStringLiteral("печь 21"));
    EXPECT_EQ(entries.first().dataLength, 31);
    EXPECT_EQ(entries.first().time.toSecsSinceEpoch(), start.addSecs(21).toSecsSinceEpoch());
    EXPECT_EQ(entries.last().firstCommentLine, QStringLiteral("печь 2"));
}

// A recording that needs saving goes to the recovery folder, with the comment typed for it,
// before another replaces it; a saved, faulty or empty one does not. One reopened from there
// is not kept twice, and is removed from there once saved.
TEST(RecordingDocument, NothingUnsavedIsReplacedWithoutACopy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RecordingDocument document { RecoveryStore(dir.filePath("recovery")) };
    const QString folder = document.recovery().folder();
    const QDateTime now = QDateTime::currentDateTime();

    EXPECT_TRUE(document.replace(measured("first", now), "unused").isEmpty());
    const QString kept = document.replace(measured("second", now.addSecs(1)), "typed for first");
    ASSERT_FALSE(kept.isEmpty());
    Recording back;
    ASSERT_EQ(RecoveryStore::reopen(kept, &back), DataFileStatus::Ok);
    EXPECT_EQ(back.data, QByteArray("first"));
    EXPECT_EQ(back.comment, QStringLiteral("typed for first"));
    EXPECT_TRUE(back.needsSaving());

    Recording faulty = measured("broken", now.addSecs(2));
    faulty.faulty = true;
    EXPECT_FALSE(document.replace(faulty, "").isEmpty()); // "second" needed saving
    EXPECT_TRUE(document.replace(measured("third", now.addSecs(3)), "").isEmpty());
    const QString file = dir.filePath("saved.kdx");
    ASSERT_TRUE(saveRecording(document.recording(), file));
    document.setSaved(file, "");
    EXPECT_TRUE(document.replace(measured("fourth", now.addSecs(4)), "").isEmpty());
    EXPECT_EQ(keptFiles(folder).size(), 2);

    // Reopened from the folder: unchanged, it is not written again; with a new comment it
    // replaces its copy; saved, its copy goes.
    document.replace(back, "");
    EXPECT_EQ(keptFiles(folder).size(), 3);
    EXPECT_EQ(document.replace(back, back.comment), kept);
    EXPECT_EQ(keptFiles(folder).size(), 3);
    const QString edited = document.replace(measured("fifth", now.addSecs(5)), "edited");
    EXPECT_NE(edited, kept);
    EXPECT_FALSE(QFile::exists(kept));
    EXPECT_EQ(keptFiles(folder).size(), 3);
    Recording again;
    ASSERT_EQ(RecoveryStore::reopen(edited, &again), DataFileStatus::Ok);
    document.replace(again, "");
    document.setSaved(dir.filePath("other.kdx"), "edited");
    EXPECT_FALSE(QFile::exists(edited));
}
