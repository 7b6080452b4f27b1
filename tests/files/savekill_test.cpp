#include "files/datafile.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace files;

// A real process that saves the same file over and over is killed with SIGKILL at varying
// moments. Whenever it dies, the file on disk is a whole recording (the old one or one of the
// new ones), never a mixture or a cut one; the next save clears the temporary file a killed
// save leaves.
TEST(SaveKill, KilledSaveLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("run.kdx");
    DataFileHeader header;
    const QByteArray old(1 << 20, 'o');
    ASSERT_TRUE(saveDataFile(target, header, old, QStringLiteral("old")));

    constexpr qsizetype NewSize = qsizetype(4) << 20;
    int interrupted = 0;
    for (int round = 0; round < 8; ++round) {
        QProcess child;
        child.start(QStringLiteral(FERRUN_SAVE_CHILD), { target, QString::number(NewSize >> 20) });
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForReadyRead(30000)) << qPrintable(child.readAllStandardError());
        QThread::msleep(5 + round * 9);
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

    ASSERT_TRUE(saveDataFile(target, header, old, QStringLiteral("again")));
    EXPECT_FALSE(QFile::exists(temporarySaveName(target)));
}
