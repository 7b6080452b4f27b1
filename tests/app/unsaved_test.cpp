// Recordings that were not saved, in the window on the board simulator: replaced ones are kept
// in the recovery folder and reopen from there, and closing asks "Сохранить запись?".
#include "acquisition/cyclerun.h"
#include "acquisition/measurementsession.h"
#include "app/contexthelp.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
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
        form->fileControl->chooseSaveFile
            = [this](const QString &) { return std::exchange(saveAs, std::nullopt); };
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        QObject::connect(form->session, &acquisition::MeasurementSession::shortReadComplete,
            form.get(), [this] { ++shortReads; });
        return *form;
    }

    QString recoveryFolder() const { return dir.filePath(QStringLiteral("recovery")); }

    // "500 байт" pressed and its recording drawn.
    void shortRead(TForm1 &f)
    {
        const int before = shortReads;
        QTest::mouseClick(f.bt500plus, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shortReads > before; }, 10000));
        ASSERT_EQ(f.recording().data.size(), 500);
    }

    QList<files::RecoveryEntry> kept() const
    {
        return files::RecoveryStore(recoveryFolder()).entries();
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
    f.mComment->setPlainText(QStringLiteral("первая\nвторая строка"));
    shortRead(f);
    const QByteArray second = f.recording().data;
    ASSERT_EQ(kept().size(), 1);
    EXPECT_EQ(kept().first().firstCommentLine, QStringLiteral("первая"));
    EXPECT_EQ(kept().first().dataLength, 500);

    // Saved, the second is not kept when a file replaces it; the file itself never is.
    const QString saved = dir.filePath(QStringLiteral("saved.kdx"));
    saveAs = app::SaveChoice { saved, app::SaveFilter::AdcFiles };
    QTest::mouseClick(f.btSave, Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(saved));
    f.fileControl->CurrentDataFile = saved;
    ASSERT_TRUE(f.fileControl->loadCurrentDataFile());
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
    EXPECT_EQ(f.mComment->toPlainText(), QStringLiteral("первая\nвторая строка"));
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
    f.mComment->setPlainText(QStringLiteral("на выход"));
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
    QTest::mouseClick(f.btCycle, Qt::LeftButton);
    acquisition::CycleRun &run = f.cycleControl->run();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.storedCycles() >= 2; }, 30000));
    saveAs = app::SaveChoice { dir.filePath(QStringLiteral("run.kdx")), app::SaveFilter::AdcFiles };
    answer = SaveAnswer::Save;
    EXPECT_TRUE(f.close());
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(run.CycleRunning());
    EXPECT_TRUE(kept().isEmpty()); // each cycle replaced the one before: the run holds them
    const QStringList written = QDir(dir.path()).entryList({ QStringLiteral("run*.kdx") });
    EXPECT_GE(written.size(), 2) << written.join(u' ').toStdString();
    for (const QString &name : written) {
        files::DataFile file;
        ASSERT_EQ(files::readDataFile(dir.filePath(name), &file), files::DataFileStatus::Ok);
        EXPECT_EQ(file.data.size(), 3500);
    }
}
