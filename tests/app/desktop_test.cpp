// The window as a desktop program: saves that follow the name and say what they wrote, the
// comment characters a data file cannot hold, shortcuts and menus, recent files, a dropped
// file, the title, and cancelling a measurement that waits. Real widgets and real files.
#include "acquisition/cyclerun.h"
#include "app/chartbuilder.h"
#include "app/statusbar.h"
#include "files/inifile.h"
#include "files/recording.h"
#include "files/settings.h"
#include "files/windows1251.h"
#include "signal/csvexport.h"
#include "tests/app/filewindow.h"

#include <QAction>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSpinBox>
#include <QUrl>
#include <sys/stat.h>

using filewindow::readAll;
using filewindow::words;
using filewindow::writeDataFile;
using filewindow::writeForeignFile;

namespace {

const QString Caption = QStringLiteral(" — 7 термопар, фотодиод");

class DesktopTest : public filewindow::FileWindowTest
{
protected:
    QString status() const { return statusBar(*form)->panelText(0); }
    QAction *action(const char *name) const
    {
        return form->findChild<QAction *>(QLatin1String(name));
    }
    // A drag of `paths` over `target`, dropped when it is taken: whether it was taken.
    bool drop(QWidget *target, const QStringList &paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    }
};

} // namespace

// The name's extension decides the format, whatever filter listed the files; every save says
// what it wrote, and a saved data file is the current one.
TEST_F(DesktopTest, SavesFollowTheNameAndSayWhatTheyWrote)
{
    app::TForm1 &f = open();
    const QString rec = file(QStringLiteral("rec.kdx"));
    writeDataFile(rec, 0x01, words({ 100, 200, 300 | 0x8000, 400 }), QStringLiteral("опыт"));
    load(rec);
    sig::ChartDecoder decoder;
    const QByteArray csv = sig::csvText(
        decoder.decode(f.recording().data, f.chartBuilder().displaySettings(f.recording().header)));

    // The text filter and a .kdx name: a data file, never CSV.
    const QString asData = file(QStringLiteral("asdata.kdx"));
    save(asData, app::SaveFilter::TextFile);
    files::Recording saved;
    ASSERT_EQ(files::readRecording(asData, &saved), files::DataFileStatus::Ok);
    EXPECT_EQ(saved.data, f.recording().data);
    EXPECT_EQ(saved.comment, QStringLiteral("опыт"));
    EXPECT_EQ(status(), QStringLiteral("Сохранено: asdata.kdx"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ asdata.kdx"));
    EXPECT_EQ(f.fileControl().CurrentDataFile, asData);
    // Copy comment starts from it (the file's date is known).
    QTest::mouseClick(control<QToolButton>(f, "btCopy"), Qt::LeftButton);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
    EXPECT_TRUE(control<QPlainTextEdit>(f, "mClipBoard")
                    ->toPlainText()
                    .contains(QStringLiteral("asdata.kdx")));

    // The data-file filter and a .csv or .txt name: the chart's CSV; the current file, the
    // frame's caption and the title stay.
    const QString title = f.windowTitle();
    for (const QString &name : { QStringLiteral("points.csv"), QStringLiteral("points.TXT") }) {
        save(file(name));
        EXPECT_EQ(readAll(file(name)), csv) << qPrintable(name);
        EXPECT_EQ(status(), QStringLiteral("Экспорт в CSV: ") + name);
    }
    f.fileControl().chooseCsvFile
        = [this](const QString &) { return file(QStringLiteral("menu.csv")); };
    action("actExportCsv")->trigger();
    EXPECT_EQ(readAll(file(QStringLiteral("menu.csv"))), csv);
    EXPECT_EQ(f.fileControl().CurrentDataFile, asData);
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ asdata.kdx"));
    EXPECT_EQ(f.windowTitle(), title);

    // A FIFO where the file should go is refused and stays a FIFO.
    const QString fifo = file(QStringLiteral("pipe.kdx"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    save(fifo);
    EXPECT_EQ(messages,
        QStringList { QStringLiteral(
            "Не удаётся создать файл %1: это не обычный файл, а устройство или канал")
                          .arg(fifo) });
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(f.fileControl().CurrentDataFile, asData);
}

TEST_F(DesktopTest, CycleSavesSayWhatTheyWroteAndWhenThereIsNothingNew)
{
    app::TForm1 &f = open();
    f.work().setRecordedByCycle(true);
    std::deque<app::CycleSaveOutcome> outcomes {
        { { file(QStringLiteral("run0002.kdx")), file(QStringLiteral("run0001.kdx")),
              file(QStringLiteral("run0000.kdx")) },
            {} },
        { {}, {} },
        { { file(QStringLiteral("all.kdx")) }, {} },
    };
    f.fileControl().cycleSaver = [&](const app::CycleSaveRequest &) {
        const app::CycleSaveOutcome outcome = outcomes.front();
        outcomes.pop_front();
        return outcome;
    };
    save(file(QStringLiteral("run.kdx")));
    EXPECT_EQ(status(), QStringLiteral("Сохранено файлов циклов: 3 (run0000.kdx … run0002.kdx)"));
    EXPECT_EQ(f.fileControl().CurrentDataFile, file(QStringLiteral("run0000.kdx")));
    save(file(QStringLiteral("run.kdx")));
    EXPECT_EQ(status(), QStringLiteral("Нет новых циклов для сохранения"));
    control<QCheckBox>(f, "cb1file")->setChecked(true);
    save(file(QStringLiteral("all.kdx")));
    EXPECT_EQ(status(), QStringLiteral("Циклы сохранены в файл all.kdx"));
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
}

// Characters Windows-1251 cannot hold are named before anything is written; going back
// writes nothing, saving anyway writes them as "?".
TEST_F(DesktopTest, CommentCharactersTheFileCannotHoldAreNamedFirst)
{
    app::TForm1 &f = open();
    control<QPlainTextEdit>(f, "mComment")
        ->setPlainText(QStringLiteral("ΔT ≈ 5 К, λ = 650 нм, ΔT"));
    QStringList asked;
    bool saveAnyway = false;
    f.fileControl().confirmLossyComment = [&](const QString &missing) {
        asked << missing;
        return saveAnyway;
    };
    const QString name = file(QStringLiteral("lossy.kdx"));
    save(name);
    ASSERT_EQ(asked.size(), 1);
    for (const QString &ch : { QStringLiteral("Δ"), QStringLiteral("≈"), QStringLiteral("λ") })
        EXPECT_TRUE(asked.at(0).contains(ch)) << qPrintable(asked.at(0));
    EXPECT_FALSE(asked.at(0).contains(u'К')); // Cyrillic is held
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_TRUE(f.isWindowModified() || f.recording().data.isEmpty());

    saveAnyway = true;
    save(name);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_TRUE(
        readAll(name).endsWith(files::toWindows1251(QStringLiteral("?T ? 5 К, ? = 650 нм, ?T"))));
    EXPECT_EQ(status(), QStringLiteral("Сохранено: lossy.kdx"));

    // Nothing to name: no question.
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("T = 5 К"));
    save(file(QStringLiteral("plain.kdx")));
    EXPECT_EQ(asked.size(), 2);
}

// The file menu and the header's menus carry the shortcuts; they work from anywhere in the
// window; the last files opened or saved are offered again, also after a restart.
TEST_F(DesktopTest, ShortcutsMenusRecentFilesAndTitle)
{
    app::TForm1 &f = open();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("7 термопар, фотодиод"));
    const std::pair<const char *, QKeySequence> keys[] = {
        { "actOpen", QKeySequence(Qt::CTRL | Qt::Key_O) },
        { "actSave", QKeySequence(Qt::CTRL | Qt::Key_S) },
        { "actPrint", QKeySequence(Qt::CTRL | Qt::Key_P) },
        { "actQuit", QKeySequence(Qt::CTRL | Qt::Key_Q) },
        { "actFind", QKeySequence(Qt::CTRL | Qt::Key_F) },
        { "actPrevFile", QKeySequence(Qt::Key_PageUp) },
        { "actNextFile", QKeySequence(Qt::Key_PageDown) },
        { "actStart", QKeySequence(Qt::Key_F5) },
        { "actCancel", QKeySequence(Qt::Key_Escape) },
    };
    for (const auto &[name, key] : keys) {
        QAction *a = action(name);
        ASSERT_TRUE(a) << name;
        EXPECT_EQ(a->shortcut(), key) << name;
        EXPECT_TRUE(control<QMenu>(f, "pmFile")->actions().contains(a)
            || control<QMenu>(f, "pmControl")->actions().contains(a))
            << name << " is in no menu";
    }
    EXPECT_FALSE(action("actCancel")->isEnabled()); // nothing waits

    // Ctrl+O from the comment box opens the dialog; the file is opened and titled.
    const QString a = file(QStringLiteral("a.kdx"));
    const QString b = file(QStringLiteral("b.kdx"));
    writeDataFile(a, 0x01, words({ 1, 2 }), QStringLiteral("a"));
    writeDataFile(b, 0x01, words({ 3, 4 }), QStringLiteral("b"));
    control<QPlainTextEdit>(f, "mComment")->setFocus();
    openAnswers.push_back(a);
    QTest::keyClick(control<QPlainTextEdit>(f, "mComment"), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(openDialogs, 1);
    EXPECT_EQ(f.fileControl().CurrentDataFile, a);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("a.kdx[*]") + Caption);
    EXPECT_FALSE(f.isWindowModified());

    // PageDown and PageUp step through the folder; Ctrl+S asks for a name.
    QTest::keyClick(&f, Qt::Key_PageDown);
    const QString stepped = f.fileControl().CurrentDataFile;
    EXPECT_NE(stepped, a);
    QTest::keyClick(&f, Qt::Key_PageUp);
    EXPECT_EQ(f.fileControl().CurrentDataFile, a);
    QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(proposals.size(), 1);
    // Ctrl+F shows the catalogue with the focus in its search field.
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_TRUE(control<QLineEdit>(f, "eFind")->hasFocus());
    QTest::mouseClick(control<QPushButton>(f, "btCancel"), Qt::LeftButton);

    // Newest first, without repeats; the menu opens them.
    EXPECT_EQ(f.recentFiles(), (QStringList { a, stepped }));
    ASSERT_EQ(control<QMenu>(f, "pmRecent")->actions().size(), 2);
    EXPECT_TRUE(control<QMenu>(f, "pmRecent")
                    ->actions()
                    .at(1)
                    ->text()
                    .startsWith(QFileInfo(stepped).fileName() + QStringLiteral(" — ")));
    control<QMenu>(f, "pmRecent")->actions().at(1)->trigger();
    EXPECT_EQ(f.fileControl().CurrentDataFile, stepped);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));

    // Ctrl+Q closes the window, which stores the list in a section of its own.
    QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(f.isVisible());
    form.reset();
    const files::IniFile ini(file(QStringLiteral("Ferrun.ini")));
    EXPECT_EQ(files::Settings::read(ini).recentFiles, (QStringList { stepped, a }));
    app::TForm1 again(file(QStringLiteral("Ferrun.ini")), app::AppOptions {}, environment());
    EXPECT_EQ(again.recentFiles(), (QStringList { stepped, a }));
    EXPECT_EQ(control<QMenu>(again, "pmRecent")->actions().size(), 2);
}

// A data file dropped on the window (or on its comment box) opens; anything else is not taken.
TEST_F(DesktopTest, DroppedDataFileOpens)
{
    app::TForm1 &f = open();
    const QString rec = file(QStringLiteral("dropped.kdx"));
    writeDataFile(rec, 0x01, words({ 10, 20, 30 }), QStringLiteral("брошен"));
    const QString text = file(QStringLiteral("notes.txt"));
    filewindow::writeBytes(text, "text");

    EXPECT_FALSE(drop(&f, { text }));
    EXPECT_FALSE(drop(&f, { rec, text })); // one data file at a time
    EXPECT_TRUE(f.fileControl().CurrentDataFile.isEmpty());

    EXPECT_TRUE(drop(&f, { rec }));
    EXPECT_EQ(f.fileControl().CurrentDataFile, rec);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("брошен"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("dropped.kdx[*]") + Caption);

    // Over the comment box it opens too, instead of pasting its name as text.
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("другое"));
    const QString foreign = file(QStringLiteral("foreign.kdx"));
    writeForeignFile(foreign);
    const QByteArray held = f.recording().data;
    EXPECT_TRUE(drop(control<QPlainTextEdit>(f, "mComment")->viewport(), { foreign }));
    EXPECT_EQ(messages.size(), 1); // the foreign file's message; the recording stays
    EXPECT_EQ(f.recording().data, held);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("другое"));
    EXPECT_TRUE(drop(control<QPlainTextEdit>(f, "mComment")->viewport(), { rec }));
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("брошен"));
}

// On the board: a measurement waiting for the photodiode reads "Отменить" on its start
// buttons, Escape cancels it and leaves the recording held; the title marks an unsaved read.
TEST_F(DesktopTest, WaitingMeasurementIsCancelledAndTheTitleMarksUnsavedReads)
{
    app::TForm1 &f = openOnBoard();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return control<QToolButton>(f, "btStartPlus")->isEnabled(); }, 5000));

    // "500 байт": a new read, not saved, under no file's name.
    QTest::mouseClick(control<QToolButton>(f, "bt500plus"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.recording().data.isEmpty(); }, 5000));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Новая запись[*]") + Caption);
    EXPECT_TRUE(f.isWindowModified());
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("Комментарий"));
    const QByteArray held = f.recording().data;

    QTest::mouseClick(
        control<QToolButton>(f, "btExtrn"), Qt::LeftButton); // start on the photodiode
    QTest::keyClick(&f, Qt::Key_F5);
    ASSERT_TRUE(board->waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(10)));
    EXPECT_EQ(control<QPushButton>(f, "btStart")->text(), QStringLiteral("Отменить"));
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("Отменить"));
    EXPECT_TRUE(action("actCancel")->isEnabled());
    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_EQ(status(), QStringLiteral("Измерение отменено"));
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("ПУСК ИЗМЕРЕНИЯ"));
    EXPECT_FALSE(action("actCancel")->isEnabled());
    EXPECT_EQ(f.recording().data, held);
    EXPECT_TRUE(f.isWindowModified());

    // The start button cancels as well, and the next measurement runs to its chart.
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    ASSERT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("Отменить"));
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton); // from the computer
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return f.recording().data.size() == 480000
                && f.session().state() == acquisition::SessionState::Idle;
        },
        30000));
    EXPECT_TRUE(statusBar(f)->panelText(2).isEmpty()); // no "Цикл №" for a single measurement
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
}

// Started with a file to look at and no board: the missing board is said in the status bar,
// without the box that would stand between the user and the recording.
TEST_F(DesktopTest, FileNamedAtStartUpNeedsNoBoard)
{
    const QString rec = file(QStringLiteral("named.kdx"));
    writeDataFile(rec, 0x01, words({ 10, 20, 30 }), QStringLiteral("named"));
    app::AppOptions options;
    options.file = rec;
    app::TForm1 named(file(QStringLiteral("Ferrun.ini")), options, environment());
    QApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
    EXPECT_EQ(statusBar(named)->panelText(0), QStringLiteral("USB: нет связи"));
    EXPECT_FALSE(control<QToolButton>(named, "btStartPlus")->isEnabled());
    named.openFile(rec);
    EXPECT_EQ(control<QPlainTextEdit>(named, "mComment")->toPlainText(), QStringLiteral("named"));
}
