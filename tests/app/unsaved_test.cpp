// Work that was not saved, in the window on the board simulator: replaced recordings and
// edited comments are kept in the recovery store and reopen from there, a cycle run's cycles
// are asked for or kept when the window closes, a killed run's are named at the next start,
// and closing asks "Сохранить запись?".
#include "acquisition/cyclerun.h"
#include "acquisition/measurementsession.h"
#include "app/contexthelp.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "chart/chart.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"
#include "tests/files/cyclechild.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using app::SaveAnswer;
using app::TForm1;

namespace {

class UnsavedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
        sim::BoardOptions options;
        options.speed = 100;
        board = std::make_unique<sim::BoardSimulator>(options);
        std::string error;
        ASSERT_TRUE(board->start(&error)) << error;
    }

    TForm1 &open()
    {
        app::FormEnvironment environment = apptest::environmentIn(dir, messages);
        environment.recoveryFolder = recoveryFolder();
        app::AppOptions options;
        options.device = QString::fromStdString(board->devicePath());
        form.reset(); // the port of an earlier window closes with it
        form = std::make_unique<TForm1>(dir.filePath("Ferrun.ini"), options, environment);
        form->askSaveRecording = [this] {
            ++questions;
            return answer;
        };
        form->fileControl().chooseSaveFile
            = [this](const QString &) { return std::exchange(saveAs, std::nullopt); };
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        // Connected after the window: the read is its current recording when counted.
        QObject::connect(&form->session(), &acquisition::MeasurementSession::exchangeEnded,
            form.get(), [this](const acquisition::ExchangeOutcome &outcome) {
                if (outcome.completed() && outcome.exchange == acquisition::ExchangeKind::ShortRead)
                    ++shortReads;
            });
        return *form;
    }

    QString recoveryFolder() const { return dir.filePath(QStringLiteral("recovery")); }

    // "500 байт" pressed and its recording drawn.
    void shortRead(TForm1 &f)
    {
        const int before = shortReads;
        QTest::mouseClick(control<QToolButton>(f, "bt500plus"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shortReads > before; }, 10000));
        ASSERT_EQ(f.recording().data.size(), 500);
    }

    QList<files::RecoveryEntry> kept() const
    {
        return files::RecoveryStore(recoveryFolder()).entries();
    }

    // A data file of T1 in the test's folder.
    QString dataFile(const QString &name, const QByteArray &data, const QString &comment) const
    {
        const QString path = dir.filePath(name);
        files::DataFileHeader header;
        header.ChartChannelBits = 0x01;
        header.ChannelIntervalUs = 100;
        header.ValueScale = files::ValueScale250;
        EXPECT_TRUE(files::saveDataFile(path, header, data, comment));
        return path;
    }

    static files::DataFile readBack(const QString &path)
    {
        files::DataFile file;
        EXPECT_EQ(files::readDataFile(path, &file), files::DataFileStatus::Ok) << qPrintable(path);
        return file;
    }

    // Typed at the end of the comment box, key by key with the characters' text, as a
    // keyboard with a Russian layout sends them.
    static void typeComment(TForm1 &f, const QString &text)
    {
        control<QPlainTextEdit>(f, "mComment")->setFocus();
        control<QPlainTextEdit>(f, "mComment")->moveCursor(QTextCursor::End);
        for (const QChar ch : text) {
            const auto key = Qt::Key(ch.toUpper().unicode());
            QTest::sendKeyEvent(QTest::Press, control<QPlainTextEdit>(f, "mComment"), key,
                QString(ch), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, control<QPlainTextEdit>(f, "mComment"), key,
                QString(ch), Qt::NoModifier);
        }
    }

    // "ЦИКЛ", at least `cycles` cycles stored, "Стоп", and the measurement under way received:
    // the number of cycles the run stored.
    int runCycles(TForm1 &f, int cycles)
    {
        acquisition::CycleRun &run = f.cycleControl().run();
        QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return run.storedCycles() >= cycles; }, 30000));
        QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return !run.CycleRunning() && !run.timCycleActive()
                    && f.session().state() == acquisition::SessionState::Idle;
            },
            10000));
        EXPECT_EQ(f.work().cycles().count(), run.storedCycles());
        return run.storedCycles();
    }

    QTemporaryDir dir;
    std::unique_ptr<sim::BoardSimulator> board;
    std::unique_ptr<TForm1> form;
    QStringList messages;
    int shortReads = 0;
    int questions = 0;
    SaveAnswer answer = SaveAnswer::Cancel;
    std::optional<app::SaveChoice> saveAs;
};

} // namespace

// A new read, and an opened file, replace the recording held: one that was not saved is kept
// first, with the comment typed for it; a saved one is not. A kept recording reopens as the
// current one, still to be saved.
TEST_F(UnsavedTest, ReplacedRecordingsAreKeptAndReopen)
{
    TForm1 &f = open();
    shortRead(f);
    const QByteArray first = f.recording().data;
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("первая\nвторая строка"));
    shortRead(f);
    const QByteArray second = f.recording().data;
    ASSERT_EQ(kept().size(), 1);
    EXPECT_EQ(kept().first().firstCommentLine, QStringLiteral("первая"));
    EXPECT_EQ(kept().first().dataLength, 500);

    // Saved, the second is not kept when a file replaces it; the file itself never is.
    const QString saved = dir.filePath(QStringLiteral("saved.kdx"));
    saveAs = app::SaveChoice { saved, app::SaveFilter::AdcFiles };
    QTest::mouseClick(control<QToolButton>(f, "btSave"), Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(saved));
    f.fileControl().CurrentDataFile = saved;
    ASSERT_TRUE(f.fileControl().loadCurrentDataFile());
    shortRead(f);
    EXPECT_EQ(kept().size(), 1);

    // The first reopens from the list; the third read, which it replaces, is kept then.
    QList<files::RecoveryEntry> offered;
    f.chooseRecovered = [&](const QList<files::RecoveryEntry> &entries) {
        offered = entries;
        return entries.last().path;
    };
    f.showUnsavedRecordings();
    ASSERT_EQ(offered.size(), 1);
    EXPECT_EQ(kept().size(), 2);
    EXPECT_EQ(f.recording().data, first);
    EXPECT_TRUE(f.recording().needsSaving());
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        QStringLiteral("первая\nвторая строка"));
    EXPECT_NE(second, first);
}

// Closing with nothing unsaved closes at once. With a recording not saved it asks: "Отмена"
// keeps the window, "Не сохранять" closes and keeps nothing, "Сохранить" writes the file
// through the save dialog (a cancelled dialog keeps the window open) and closes.
TEST_F(UnsavedTest, ClosingAsksAndEachAnswerDoesWhatItSays)
{
    {
        TForm1 &f = open();
        EXPECT_TRUE(f.close());
        EXPECT_EQ(questions, 0);
    }
    {
        TForm1 &f = open();
        shortRead(f);
        answer = SaveAnswer::Cancel;
        EXPECT_FALSE(f.close());
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(questions, 1);
        answer = SaveAnswer::Save; // and the dialog cancelled
        EXPECT_FALSE(f.close());
        EXPECT_TRUE(f.isVisible());
        answer = SaveAnswer::Discard;
        EXPECT_TRUE(f.close());
        EXPECT_TRUE(kept().isEmpty());
    }
    TForm1 &f = open();
    shortRead(f);
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("на выход"));
    const QString target = dir.filePath(QStringLiteral("closing.kdx"));
    saveAs = app::SaveChoice { target, app::SaveFilter::AdcFiles };
    answer = SaveAnswer::Save;
    EXPECT_TRUE(f.close());
    files::DataFile file;
    ASSERT_EQ(files::readDataFile(target, &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.data, f.recording().data);
    EXPECT_EQ(file.comment(), QStringLiteral("на выход"));
    EXPECT_TRUE(kept().isEmpty());
}

// Closing during a cycle run with cycles stored asks; "Сохранить" stops the run and saves its
// cycles, one file each.
TEST_F(UnsavedTest, ClosingDuringACycleRunSavesItsCycles)
{
    TForm1 &f = open();
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    acquisition::CycleRun &run = f.cycleControl().run();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.storedCycles() >= 2; }, 30000));
    saveAs = app::SaveChoice { dir.filePath(QStringLiteral("run.kdx")), app::SaveFilter::AdcFiles };
    answer = SaveAnswer::Save;
    EXPECT_TRUE(f.close());
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(run.CycleRunning());
    EXPECT_TRUE(kept().isEmpty()); // every cycle is in a file: the run left the store
    const QStringList written = QDir(dir.path()).entryList({ QStringLiteral("run*.kdx") });
    EXPECT_GE(written.size(), 2) << written.join(u' ').toStdString();
    for (const QString &name : written) {
        files::DataFile file;
        ASSERT_EQ(files::readDataFile(dir.filePath(name), &file), files::DataFileStatus::Ok);
        EXPECT_EQ(file.data.size(), 3500);
    }
}

// A comment typed into an opened recording is a change not saved: the title's mark, the
// question on closing, and the recording kept with that comment when browsing replaces it.
// Reopened from the store and replaced again unchanged, it is not kept twice; saved, it
// leaves the store, and "Не сохранять" leaves its file as it was saved.
TEST_F(UnsavedTest, CommentEditOfAnOpenedRecordingIsKeptWhenReplaced)
{
    const QByteArray aData(700, '\x21');
    const QString a = dataFile(QStringLiteral("a.kdx"), aData, QStringLiteral("опыт"));
    const QString b = dataFile(QStringLiteral("b.kdx"), QByteArray(140, '\x31'), {});
    TForm1 &f = open();
    f.openFile(a);
    ASSERT_EQ(f.recording().savedPath, a);
    EXPECT_FALSE(f.isWindowModified());
    typeComment(f, QStringLiteral(" нагрев"));
    const QString edited = QStringLiteral("опыт нагрев");
    ASSERT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), edited);
    EXPECT_TRUE(f.isWindowModified());
    EXPECT_TRUE(f.windowTitle().startsWith(QStringLiteral("a.kdx[*]")))
        << qPrintable(f.windowTitle());
    answer = SaveAnswer::Cancel;
    EXPECT_FALSE(f.close());
    EXPECT_EQ(questions, 1);

    // PageDown opens the next file of the folder; the edited recording is in the store.
    chartOf(f)->setFocus();
    QTest::keyClick(chartOf(f), Qt::Key_PageDown);
    ASSERT_EQ(f.recording().savedPath, b);
    EXPECT_FALSE(f.isWindowModified());
    const QList<files::RecoveryEntry> entries = kept();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.first().kind, files::RecoveryKind::Replaced);
    files::DataFile entry = readBack(entries.first().path);
    EXPECT_EQ(entry.data, aData);
    EXPECT_EQ(files::commentWithoutNote(entry.comment()), edited);
    EXPECT_EQ(readBack(a).comment(), QStringLiteral("опыт")); // the file itself is untouched

    // Reopened from the store: the edited comment, still to be saved. Replaced again without
    // a change, it stays the one entry it was.
    f.chooseRecovered = [](const QList<files::RecoveryEntry> &list) { return list.first().path; };
    f.showUnsavedRecordings();
    EXPECT_EQ(f.recording().data, aData);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), edited);
    EXPECT_TRUE(f.isWindowModified());
    f.openFile(b);
    ASSERT_EQ(kept().size(), 1);
    EXPECT_EQ(kept().first().path, entries.first().path);
    entry = readBack(entries.first().path);
    EXPECT_EQ(files::commentWithoutNote(entry.comment()), edited);

    // Saved from the store, it leaves the store. A new edit marks the title again; "Не
    // сохранять" closes and keeps nothing, the file as saved.
    f.showUnsavedRecordings();
    const QString c = dir.filePath(QStringLiteral("c.kdx"));
    saveAs = app::SaveChoice { c, app::SaveFilter::AdcFiles };
    QTest::mouseClick(control<QToolButton>(f, "btSave"), Qt::LeftButton);
    EXPECT_EQ(readBack(c).data, aData);
    EXPECT_EQ(readBack(c).comment(), edited);
    EXPECT_TRUE(kept().isEmpty());
    EXPECT_FALSE(f.isWindowModified());
    typeComment(f, QStringLiteral(" 2"));
    EXPECT_TRUE(f.isWindowModified());
    answer = SaveAnswer::Discard;
    EXPECT_TRUE(f.close());
    EXPECT_EQ(questions, 2);
    EXPECT_TRUE(kept().isEmpty());
    EXPECT_EQ(readBack(c).comment(), edited);
}

// After a run stopped with its cycles not saved, closing asks. "Не сохранять" leaves no
// cycles in the recovery store; "Сохранить" with "В один файл" writes them to one file, which
// the title and the frame then both name. Closed by a signal nobody can answer, the cycles are
// in the store as one entry of cycles with the comment, and nothing else is (the cycle drawn
// last is no recording of its own to keep).
TEST_F(UnsavedTest, StoppedCycleRunIsAskedForOrKeptOnClosing)
{
    {
        TForm1 &f = open();
        runCycles(f, 2);
        EXPECT_TRUE(f.isWindowModified());
        answer = SaveAnswer::Cancel;
        EXPECT_FALSE(f.close());
        EXPECT_EQ(questions, 1);
        answer = SaveAnswer::Discard;
        EXPECT_TRUE(f.close());
        EXPECT_EQ(questions, 2);
        EXPECT_TRUE(kept().isEmpty());
    }
    {
        TForm1 &f = open();
        const int cycles = runCycles(f, 2);
        QTest::mouseClick(control<QCheckBox>(f, "cb1file"), Qt::LeftButton);
        const QString one = dir.filePath(QStringLiteral("one.kdx"));
        saveAs = app::SaveChoice { one, app::SaveFilter::AdcFiles };
        answer = SaveAnswer::Save;
        EXPECT_TRUE(f.close());
        EXPECT_EQ(questions, 3);
        EXPECT_EQ(readBack(one).data.size(), cycles * 3500);
        EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ one.kdx"));
        EXPECT_TRUE(f.windowTitle().startsWith(QStringLiteral("one.kdx[*]")))
            << qPrintable(f.windowTitle());
        EXPECT_TRUE(kept().isEmpty());
    }
    TForm1 &f = open();
    const int cycles = runCycles(f, 2);
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("прогон"));
    ASSERT_TRUE(apptest::closeBySignal(f, SIGTERM));
    EXPECT_EQ(questions, 3);
    const QList<files::RecoveryEntry> entries = kept();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.first().kind, files::RecoveryKind::Cycles);
    EXPECT_TRUE(entries.first().path.endsWith(QStringLiteral("-cycles.kdx")));
    EXPECT_EQ(entries.first().dataLength, cycles * 3500);
    EXPECT_EQ(entries.first().firstCommentLine, QStringLiteral("прогон"));
}

// A cycle run that a kill ended left its cycles on disk: the next start of the window names
// them in a message, and they are in the store as whole cycles, every one written before the
// kill and at most the one under way besides. The start after that names nothing.
TEST_F(UnsavedTest, CyclesOfAKilledRunAreNamedAtTheNextStart)
{
#ifndef FERRUN_CYCLE_CHILD
    GTEST_SKIP() << "the cycle child program is not built";
#else
    QProcess child;
    child.start(QStringLiteral(FERRUN_CYCLE_CHILD), { recoveryFolder() });
    ASSERT_TRUE(child.waitForStarted(10000));
    QByteArray out;
    while (out.count('\n') < 5) {
        ASSERT_TRUE(child.waitForReadyRead(30000)) << child.readAllStandardError().constData();
        out += child.readAllStandardOutput();
    }
    ASSERT_EQ(::kill(pid_t(child.processId()), SIGKILL), 0);
    ASSERT_TRUE(child.waitForFinished(30000));
    out += child.readAllStandardOutput();
    // The child printed each cycle's number once it was on disk.
    const int written = int(out.count('\n'));

    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.isEmpty(); }, 5000));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().startsWith(
        QStringLiteral("Циклы измерения, прерванного без сохранения, сохранены в списке "
                       "«Несохранённые записи…»:")))
        << qPrintable(messages.first());
    const QList<files::RecoveryEntry> entries = kept();
    ASSERT_FALSE(entries.isEmpty());
    qint64 length = 0;
    for (const files::RecoveryEntry &entry : entries) {
        EXPECT_EQ(entry.kind, files::RecoveryKind::Cycles);
        EXPECT_TRUE(entry.detail.startsWith(QStringLiteral("interrupted")))
            << qPrintable(entry.detail);
        EXPECT_TRUE(messages.first().contains(QDir::toNativeSeparators(entry.path)));
        length += entry.dataLength;
    }
    qint64 least = 0;
    for (int n = 0; n < written; ++n)
        least += cyclechild::cycle(n).size();
    EXPECT_GE(length, least);
    EXPECT_LE(length, least + cyclechild::cycle(written).size());

    messages.clear();
    open();
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
#endif
}
