#include "files/datafile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace files;

// A real process that saves the same file over and over is killed with SIGKILL at varying
// moments, some of them while its temporary file is being written. Whenever it dies, the file
// on disk is a whole recording (the old one or one of the new ones), never a mixture or a cut
// one; the next save clears the temporary file a killed save leaves.
TEST(SaveKill, KilledSaveLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("run.kdx");
    DataFileHeader header;
    const QByteArray old(1 << 20, 'o');
    ASSERT_TRUE(saveDataFile(target, header, old, QStringLiteral("old")));

    constexpr qsizetype NewSize = qsizetype(4) << 20;
    // Kills after a varying pause may all fall between saves (encoding the recording takes
    // longer than writing it to a fast disk), so every other round waits until the temporary
    // file is there; the rounds go on until one kill has met a save under way.
    int interrupted = 0;
    for (int round = 0; round < 40 && (round < 8 || interrupted == 0); ++round) {
        QFile::remove(temporarySaveName(target)); // counted below only if this round left it
        QProcess child;
        child.start(QStringLiteral(FERRUN_SAVE_CHILD), { target, QString::number(NewSize >> 20) });
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForReadyRead(30000)) << qPrintable(child.readAllStandardError());
        if (round % 2 == 0) {
            QThread::msleep(5 + (round % 8) * 9);
        } else {
            const QString partial = temporarySaveName(target);
            QDeadlineTimer deadline(5000);
            while (!QFile::exists(partial) && !deadline.hasExpired())
                QThread::usleep(50);
        }
        ASSERT_EQ(::kill(pid_t(child.processId()), SIGKILL), 0);
        ASSERT_TRUE(child.waitForFinished(30000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit)
            << qPrintable(child.readAllStandardError());

        DataFile loaded;
        QString error;
        ASSERT_EQ(readDataFile(target, &loaded, &error), DataFileStatus::Ok)
            << "round " << round << ": " << qPrintable(error);
        const bool isOld = loaded.data == old && loaded.commentBytes == "old";
        const bool isNew = loaded.commentBytes == "new"
            && (loaded.data == QByteArray(NewSize, 'A') || loaded.data == QByteArray(NewSize, 'B'));
        EXPECT_TRUE(isOld || isNew) << "round " << round;
        if (QFile::exists(temporarySaveName(target)))
            ++interrupted;
    }
    // At least one kill met a save between its first byte and its rename.
    EXPECT_GT(interrupted, 0);

    // The last round may have ended between saves: leave a partial file as a kill would.
    QFile partial(temporarySaveName(target));
    if (!partial.exists()) {
        ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
        partial.write("partial");
        partial.close();
    }
    ASSERT_TRUE(saveDataFile(target, header, old, QStringLiteral("again")));
    EXPECT_FALSE(QFile::exists(temporarySaveName(target)));
}
