#include "files/recoverystore.h"
#include "tests/files/cyclechild.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <random>

using namespace files;

namespace {

// The number on the last whole line the child printed; -1 before the first.
int lastPrinted(const QByteArray &out)
{
    const qsizetype end = out.lastIndexOf('\n');
    if (end < 0)
        return -1;
    const qsizetype start = out.lastIndexOf('\n', end - 1) + 1;
    return out.mid(start, end - start).toInt();
}

} // namespace

// A real process that stores cycles in a loop is killed with SIGKILL at random moments. While
// it runs, its journal is left alone; once it is dead, the repair turns each of its journals
// into a whole data file holding whole cycles, byte for byte as appended and in order, with
// every cycle whose append had returned and at most the one under way besides.
TEST(CycleKill, AKilledRunLosesAtMostTheCycleUnderWay)
{
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const RecoveryStore store(dir.filePath("recovery"));
        QProcess child;
        child.start(QStringLiteral(FERRUN_CYCLE_CHILD), { store.folder() });
        ASSERT_TRUE(child.waitForStarted(10000));
        const int least = int(random() % 100);
        QByteArray out;
        while (lastPrinted(out) < least) {
            ASSERT_TRUE(child.waitForReadyRead(30000)) << qPrintable(child.readAllStandardError());
            out += child.readAllStandardOutput();
        }
        if (trial == 0) {
            EXPECT_TRUE(store.repairInterruptedRuns().isEmpty());
            for (const RecoveryEntry &entry : store.entries())
                EXPECT_EQ(entry.kind, RecoveryKind::CyclesUnderWay);
        }
        QThread::usleep(random() % 20000);
        ASSERT_EQ(::kill(pid_t(child.processId()), SIGKILL), 0);
        ASSERT_TRUE(child.waitForFinished(30000));
        out += child.readAllStandardOutput();
        const int last = lastPrinted(out);

        QList<RecoveryEntry> repaired = store.repairInterruptedRuns();
        ASSERT_FALSE(repaired.isEmpty());
        QStringList paths;
        for (const RecoveryEntry &entry : repaired)
            paths << QFileInfo(entry.path).fileName();
        paths.sort();
        EXPECT_EQ(QDir(store.folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name), paths);

        // In the order the run wrote them: by the interval of their header.
        std::vector<DataFile> journals;
        for (const RecoveryEntry &entry : repaired) {
            DataFile file;
            ASSERT_EQ(readDataFile(entry.path, &file), DataFileStatus::Ok);
            EXPECT_EQ(entry.kind, RecoveryKind::Cycles);
            EXPECT_TRUE(entry.detail.startsWith("interrupted, ")) << qPrintable(entry.detail);
            journals.push_back(file);
        }
        std::sort(journals.begin(), journals.end(), [](const DataFile &a, const DataFile &b) {
            return a.header.ChannelIntervalUs < b.header.ChannelIntervalUs;
        });
        int number = 0;
        for (const DataFile &journal : journals) {
            const int firstOfJournal = number;
            EXPECT_EQ(number % cyclechild::CyclesPerJournal, 0);
            for (qsizetype at = 0; at < journal.data.size(); ++number) {
                const QByteArray expected = cyclechild::cycle(number);
                ASSERT_EQ(journal.data.mid(at, expected.size()), expected) << "cycle " << number;
                EXPECT_EQ(
                    journal.header.ChannelIntervalUs, cyclechild::header(number).ChannelIntervalUs);
                at += expected.size();
            }
            const QString comment = journal.comment();
            static const QRegularExpression counted(
                QStringLiteral("^Ferrun recovery: cycles by cycle: interrupted, (\\d+) cycles?$"));
            const QRegularExpressionMatch match = counted.match(comment);
            if (match.hasMatch())
                EXPECT_EQ(match.captured(1).toInt(), number - firstOfJournal);
            else
                EXPECT_EQ(comment,
                    QString("Ferrun recovery: cycles by cycle: interrupted, %1 bytes of cycles")
                        .arg(journal.data.size()));
        }
        EXPECT_GE(number, last + 1);
        EXPECT_LE(number, last + 2);
        EXPECT_TRUE(store.repairInterruptedRuns().isEmpty());
    }
}
