#include "files/datafile.h"
#include "files/outputfile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace files;

namespace {

// Whether process `pid` has a file of `folder` open: its temporary file, unnamed or named (a
// save writes nothing else there).
bool savingInto(qint64 pid, const QString &folder)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    for (const QString &fd :
        fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char link[4096];
        const ssize_t n
            = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), link, sizeof link);
        if (n > 0 && QByteArray(link, n).startsWith(prefix))
            return true;
    }
    return false;
}

} // namespace

// A real process that saves the same file over and over is killed with SIGKILL at varying
// moments, some of them while its temporary file is being written, with unnamed temporary
// files and with named ones. Whenever it dies, the file on disk is a whole recording (the old
// one or one of the new ones), never a mixture or a cut one; what a killed save leaves is
// cleared by the next save of the file, a whole recording kept under a name of its own.
TEST(SaveKill, KilledSaveLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("run.kdx");
    DataFileHeader header;
    const QByteArray old(1 << 20, 'o');
    ASSERT_TRUE(saveDataFile(target, header, old, QStringLiteral("old")));

    constexpr qsizetype NewSize = qsizetype(4) << 20;
    const auto isNew = [&](const DataFile &file) {
        return file.commentBytes == "new"
            && (file.data == QByteArray(NewSize, 'A') || file.data == QByteArray(NewSize, 'B'));
    };
    // Kills after a varying pause may all fall between saves (encoding the recording takes
    // longer than writing it to a fast disk), so every other round waits until a temporary
    // file is open; the rounds go on until one kill has met a save under way of each kind.
    int interrupted[2] = { 0, 0 };
    for (int round = 0; round < 40 && (round < 8 || !interrupted[0] || !interrupted[1]); ++round) {
        const int named = (round / 2) % 2;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (named)
            env.insert("FERRUN_NAMED_TEMPORARY_FILES", "1");
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(FERRUN_SAVE_CHILD), { target, QString::number(NewSize >> 20) });
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForReadyRead(30000)) << qPrintable(child.readAllStandardError());
        if (round % 2 == 0) {
            QThread::msleep(5 + (round % 8) * 9);
        } else {
            QDeadlineTimer deadline(5000);
            while (!savingInto(child.processId(), dir.path()) && !deadline.hasExpired())
                QThread::usleep(50);
        }
        const bool underWay = savingInto(child.processId(), dir.path());
        ASSERT_EQ(::kill(pid_t(child.processId()), SIGKILL), 0);
        ASSERT_TRUE(child.waitForFinished(30000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit)
            << qPrintable(child.readAllStandardError());
        interrupted[named] += underWay;

        DataFile loaded;
        QString error;
        ASSERT_EQ(readDataFile(target, &loaded, &error), DataFileStatus::Ok)
            << "round " << round << ": " << qPrintable(error);
        const bool isOld = loaded.data == old && loaded.commentBytes == "old";
        EXPECT_TRUE(isOld || isNew(loaded)) << "round " << round;
    }
    EXPECT_GT(interrupted[0], 0);
    EXPECT_GT(interrupted[1], 0);

    // A partial temporary file as a kill leaves it: the next save clears it and every other
    // one left. Whatever was kept beside the target is a whole new recording.
    QFile partial(QFile::decodeName(temporaryName(QFile::encodeName(target))));
    ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
    partial.write("partial");
    partial.close();
    ASSERT_TRUE(saveDataFile(target, header, old, QStringLiteral("again")));
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden)) {
        if (name == "run.kdx")
            continue;
        EXPECT_TRUE(name.startsWith("run.recovered")) << qPrintable(name);
        DataFile kept;
        ASSERT_EQ(readDataFile(dir.filePath(name), &kept), DataFileStatus::Ok);
        EXPECT_TRUE(isNew(kept)) << qPrintable(name);
    }
}
