// Saving, opening and browsing data files in the window: real files in a temporary folder,
// the buttons clicked with QTest, the dialogs answering from queues (and once for real).
#include "acquisition/cyclerun.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/cyclecontrol.h"
#include "app/sessionpresenter.h"
#include "app/writefailure.h"
#include "files/windows1251.h"
#include "filewindow.h"
#include "signal/csvexport.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <cstring>

using filewindow::readAll;
using filewindow::words;
using filewindow::writeDataFile;
using filewindow::writeForeignFile;

namespace {

const QString StreamReadError = QStringLiteral("Ошибка чтения потока");
const QString NoMoreFiles = QStringLiteral("Больше нет файлов");
const QString ForeignMessage = QStringLiteral(
    "Приложение открывает файлы *.kdx, записанные АЦП. Для просмотра выбранного файла "
    "используйте универсальное приложение ViewKDX.exe");

double doubleAt(const QByteArray &bytes, int offset)
{
    double value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

class DataFilesTest : public filewindow::FileWindowTest
{
};

} // namespace

TEST_F(DataFilesTest, EmptySaveAndItsReload)
{
    app::TForm1 &f = open();
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("abc\nстрока 2\n"));
    const QString name = file(QStringLiteral("empty.kdx"));
    save(name);

    QByteArray expected = QByteArray::fromHex("0100100100"
                                              "00000000"
                                              "0000000000000000"
                                              "0000000000000000"
                                              "00000000"
                                              "00");
    expected += files::toWindows1251(QStringLiteral("единицы АЦП")) + '\0';
    expected += files::toWindows1251(QStringLiteral("abc\r\nстрока 2\r\n"));
    EXPECT_EQ(readAll(name).toHex(), expected.toHex());
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ empty.kdx"));
    EXPECT_EQ(f.fileControl().LastSavedFile, name);
    // The saved file is the current one: browsing and the catalogue start from it.
    EXPECT_EQ(f.fileControl().CurrentDataFile, name);
    EXPECT_TRUE(control<QToolButton>(f, "btNextFile")->isEnabled());
    EXPECT_TRUE(messages.isEmpty());

    // The dialog offers the name last chosen; a cancelled dialog changes nothing.
    QTest::mouseClick(control<QToolButton>(f, "btSave"), Qt::LeftButton);
    EXPECT_EQ(proposals, (QStringList { QString(), name }));

    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("другой"));
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    load(name);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(f.recording().data.isEmpty());
    EXPECT_EQ(
        control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("abc\nстрока 2\n"));
    EXPECT_EQ(f.fileControl().CurrentDataFile, name);
    EXPECT_EQ(f.series(files::ChannelId::T1)->Count(), 0); // nothing to draw
    for (QToolButton *b : { control<QToolButton>(f, "btPrevFile"),
             control<QToolButton>(f, "btNextFile"), control<QToolButton>(f, "btShowCmnt") })
        EXPECT_TRUE(b->isEnabled());
    // Saved again, the file is the same.
    save(file(QStringLiteral("again.kdx")));
    EXPECT_EQ(readAll(file(QStringLiteral("again.kdx"))), expected);
}

TEST_F(DataFilesTest, LoadTakesChannelsAveragingBlocksAndComment)
{
    app::TForm1 &f = open();
    QTest::mouseClick(channelBox(f, 7), Qt::LeftButton); // photodiode off
    ASSERT_FALSE(channelBox(f, 7)->isChecked());
    ASSERT_FALSE(control<QCheckBox>(f, "cbAvgMC")->isChecked());

    // A file without data keeps its header values in the record: nothing is drawn.
    const QString bare = file(QStringLiteral("bare.kdx"));
    writeDataFile(bare, 0x02, {}, {}, 55.5);
    load(bare);
    files::DataFileHeader h = f.fileControl().headerRecord();
    EXPECT_EQ(h.ChartChannelBits, 0x02);
    EXPECT_EQ(h.ValueScale, files::ValueScale500);
    EXPECT_EQ(h.ChannelIntervalUs, 55.5);
    EXPECT_EQ(h.XTitle, QStringLiteral("Время, мкс"));

    // T1 and T3 with averaging: 30000 frames of two words, two memory blocks.
    QByteArray data;
    for (int i = 0; i < 30000; ++i)
        data += words({ 1000 + i % 100, 2000 });
    const QString name = file(QStringLiteral("t1t3.kdx"));
    writeDataFile(name, 0x85, data, QStringLiteral("a\rb\nc\r\n"), 42.0);
    load(name);
    ASSERT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    for (int n = 1; n <= 7; ++n)
        EXPECT_EQ(channelBox(f, n - 1)->isChecked(), n == 1 || n == 3) << n;
    EXPECT_FALSE(channelBox(f, 7)->isChecked()); // the photodiode box is left alone
    EXPECT_TRUE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
    EXPECT_EQ(f.recording().header.ChannelIntervalUs, 42.0);
    EXPECT_EQ(f.recording().data, data);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("a\nb\nc\n"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ t1t3.kdx"));
    EXPECT_EQ(f.series(files::ChannelId::T1)->Count(), 29999);
    EXPECT_EQ(f.series(files::ChannelId::T3)->Count(), 29999);

    // Saved again: the recording's own header, its scale as the file had it ("500°") whatever
    // range is selected now ("250°").
    ASSERT_EQ(control<QComboBox>(f, "cbTrng")->currentIndex(), 0);
    const QString copy = file(QStringLiteral("copy.kdx"));
    save(copy);
    const QByteArray bytes = readAll(copy);
    ASSERT_GT(bytes.size(), 29);
    EXPECT_EQ(quint8(bytes.at(4)), 0x85);
    EXPECT_EQ(doubleAt(bytes, 9), 42.0);
    EXPECT_EQ(doubleAt(bytes, 17), files::ValueScale500);
    files::DataFile back;
    ASSERT_EQ(files::decodeDataFile(bytes, &back), files::DataFileStatus::Ok);
    EXPECT_EQ(back.header.XTitle, QStringLiteral("Время, мкс"));
    EXPECT_EQ(back.header.YTitle, QStringLiteral("Температура"));
    EXPECT_EQ(back.data, data);
    EXPECT_EQ(back.commentBytes, QByteArray("a\r\nb\r\nc\r\n"));
}

// A recording keeps its own channels whatever the boxes show: with T3 unchecked and the time
// unit and the axis mode changed, every redraw decodes the seven channels it has (T3 hidden,
// not its neighbours' values), the next measurement is asked for without T3, and a save writes
// the file as it was opened, channel bits 0x7F and the same data.
TEST_F(DataFilesTest, HiddenChannelRedrawAndSaveKeepTheRecordingsOwnChannels)
{
    app::TForm1 &f = open();
    // 40 frames of T1..T7: Tn reads 500 * n + the frame's number.
    QByteArray data;
    for (int frame = 0; frame < 40; ++frame)
        for (int n = 1; n <= 7; ++n)
            data += words({ 500 * n + frame });
    const QString seven = file(QStringLiteral("seven.kdx"));
    writeDataFile(seven, 0x7F, data, QStringLiteral("семь каналов"), 70);
    load(seven);
    ASSERT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();

    QTest::mouseClick(channelBox(f, 2), Qt::LeftButton);
    ASSERT_FALSE(channelBox(f, 2)->isChecked());
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    const auto choose = [](QComboBox *box, int index) {
        box->setFocus();
        while (box->currentIndex() < index)
            QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > index)
            QTest::keyClick(box, Qt::Key_Up);
    };
    choose(control<QComboBox>(f, "cbXscale"), 0); // "мкс"
    choose(control<QComboBox>(f, "cbShowK"), 1); // ADC units against samples

    EXPECT_FALSE(f.seriesActive(files::ChannelId::T3));
    for (int n = 1; n <= 7; ++n) {
        const chart::TChartSeries *line = f.series(files::ChannelId(n - 1));
        ASSERT_EQ(line->Count(), 39) << n; // frame 0 is not drawn
        for (int i = 0; i < line->Count(); ++i) {
            EXPECT_EQ(line->XValue(i), i + 1) << n << " " << i;
            ASSERT_EQ(line->YValue(i), 500 * n + i + 1) << n << " " << i;
        }
    }
    EXPECT_EQ(f.measurementRequest().plan.channels, 0x7B);

    const QString saved = file(QStringLiteral("saved.kdx"));
    save(saved);
    ASSERT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    const QByteArray bytes = readAll(saved);
    ASSERT_GT(bytes.size(), 4);
    EXPECT_EQ(quint8(bytes.at(4)), 0x7F);
    files::DataFile back;
    ASSERT_EQ(files::decodeDataFile(bytes, &back), files::DataFileStatus::Ok);
    EXPECT_EQ(back.data, data);
    EXPECT_EQ(bytes, readAll(seven));
}

TEST_F(DataFilesTest, RefusedFileChangesNothing)
{
    app::TForm1 &f = open();
    const QString good = file(QStringLiteral("good.kdx"));
    writeDataFile(good, 0x01, words({ 100, 200, 300, 400 }), QStringLiteral("хороший"));
    load(good);
    ASSERT_TRUE(messages.isEmpty());
    const Display before = display();
    ASSERT_EQ(before.t1Points, 3);

    // All channels, 400 bytes of data: cut inside the data, inside the titles, inside the
    // fixed header.
    files::DataFileHeader h;
    h.ChartChannelBits = 0xFF;
    h.ChannelIntervalUs = 7;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    const QByteArray whole = files::encodeDataFile(h, QByteArray(400, '\x11'), QStringLiteral("x"));
    for (int keep : { int(whole.size()) - 12, 35, 10 }) {
        const QString cut = file(QStringLiteral("cut%1.kdx").arg(keep));
        filewindow::writeBytes(cut, whole.left(keep));
        messages.clear();
        load(cut);
        EXPECT_EQ(messages, QStringList { StreamReadError }) << keep;
        EXPECT_TRUE(display() == before) << keep;
    }

    const QString foreign = file(QStringLiteral("foreign.kdx"));
    writeForeignFile(foreign);
    messages.clear();
    load(foreign);
    EXPECT_EQ(messages, QStringList { ForeignMessage });
    EXPECT_TRUE(display() == before);
    EXPECT_EQ(f.fileControl().CurrentDataFile, foreign); // keeps the rejected name

    const QString missing = file(QStringLiteral("missing.kdx"));
    messages.clear();
    load(missing);
    EXPECT_EQ(messages, QStringList { QStringLiteral("Не удаётся открыть файл %1").arg(missing) });
    EXPECT_TRUE(display() == before);

    // A cancelled dialog changes nothing, not even the current name.
    messages.clear();
    QTest::mouseClick(control<QToolButton>(f, "btLoadFile"), Qt::LeftButton);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(f.fileControl().CurrentDataFile, missing);
}

TEST_F(DataFilesTest, TextFilterWritesTheChartAsCsv)
{
    app::TForm1 &f = open();
    const QString rec = file(QStringLiteral("rec.kdx"));
    writeDataFile(rec, 0x01, words({ 100, 200, 300 | 0x8000, 400 }), {});
    load(rec);
    const QString text = file(QStringLiteral("rec.txt"));
    save(text, app::SaveFilter::TextFile);
    EXPECT_TRUE(messages.isEmpty());

    sig::ChartDecoder decoder;
    const QByteArray expected = sig::csvText(
        decoder.decode(f.recording().data, f.chartBuilder().displaySettings(f.recording().header)));
    const QByteArray written = readAll(text);
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(written.startsWith("x,T1,FD\n0.1,"));
    EXPECT_EQ(f.fileControl().LastSavedFile, text);
    // Nothing but the two files: no temporary file is left.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
        (QStringList {
            QStringLiteral("Ferrun.ini"), QStringLiteral("rec.kdx"), QStringLiteral("rec.txt") }));

    // A folder that cannot take the file: the file and the system's reason named, nothing
    // written.
    const QString nowhere = file(QStringLiteral("no/such/folder.txt"));
    save(nowhere, app::SaveFilter::TextFile);
    EXPECT_EQ(messages,
        QStringList { QStringLiteral("Не удаётся создать файл %1: %2")
                          .arg(nowhere, app::systemErrorText(ENOENT)) });
}

TEST_F(DataFilesTest, CycleRunSavesGoThroughTheCycleSaver)
{
    app::TForm1 &f = open();
    f.work().setRecordedByCycle(true);
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("цикл"));
    std::vector<app::CycleSaveRequest> requests;
    app::CycleSaveOutcome outcome;
    f.fileControl().cycleSaver = [&](const app::CycleSaveRequest &r) {
        requests.push_back(r);
        return outcome;
    };

    // Per cycle ("В один файл" unchecked): the saver gets the name, the file named in the
    // dialog is not written by the window and the frame keeps its caption.
    control<QCheckBox>(f, "cb1file")->setChecked(false);
    const QString run = file(QStringLiteral("run.kdx"));
    outcome.written = { file(QStringLiteral("run0001.kdx")), file(QStringLiteral("run0000.kdx")) };
    save(run);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].fileName, run);
    EXPECT_FALSE(requests[0].oneFile);
    EXPECT_EQ(requests[0].comment, QStringLiteral("цикл"));
    EXPECT_FALSE(QFile::exists(run));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("Комментарий"));

    // The choice follows cb1file at the moment of saving.
    control<QCheckBox>(f, "cb1file")->setChecked(true);
    outcome.written = { run };
    save(run);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].oneFile);
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run.kdx"));

    // A failure is shown.
    outcome.error = QStringLiteral("Не удаётся создать файл %1").arg(run);
    save(run);
    EXPECT_EQ(messages, QStringList { outcome.error });

    // A single measurement clears the flag: the recording is saved as one file again.
    f.work().setRecordedByCycle(false);
    const QString single = file(QStringLiteral("single.kdx"));
    save(single);
    EXPECT_EQ(requests.size(), 3u);
    EXPECT_TRUE(QFile::exists(single));
}

// Three cycles on the simulator, saved one file per cycle (each cycle once: saved again at
// once nothing is written), then with "В один файл" checked all three in one file, which the
// title and the frame then both name; a one-file save may be repeated.
TEST_F(DataFilesTest, CycleRunSavedPerCycleThenAsOneFile)
{
    app::TForm1 &f = openOnBoard();
    acquisition::CycleRun &run = f.cycleControl().run();
    const files::CycleStore &cycles = f.work().cycles();
    ASSERT_FALSE(control<QCheckBox>(f, "cb1file")->isChecked());
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.storedCycles() == 3; }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return board->counters().startFrames == 4; }, 10000));
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton); // stop during the fourth
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.presenter().CycleNumber() == 4; }, 10000));
    QTest::qWait(200);
    ASSERT_EQ(cycles.count(), 3);

    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("три цикла"));
    // A folder that does not exist: the newest cycle's file is named, every cycle is kept.
    const QString nowhere = file(QStringLiteral("no/such/run.kdx"));
    save(nowhere);
    EXPECT_EQ(messages,
        QStringList {
            QStringLiteral("Не удаётся создать файл %1: %2")
                .arg(file(QStringLiteral("no/such/run0002.kdx")), app::systemErrorText(ENOENT)) });
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("no"))));
    EXPECT_EQ(cycles.count(), 3);
    EXPECT_TRUE(cycles.hasUnsaved());
    messages.clear();

    const QString name = file(QStringLiteral("run.kdx"));
    save(name);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    EXPECT_FALSE(QFile::exists(name));
    for (int n = 0; n < 3; ++n) {
        files::DataFile saved;
        ASSERT_EQ(files::readDataFile(
                      file(QStringLiteral("run%1.kdx").arg(n, 4, 10, QChar(u'0'))), &saved),
            files::DataFileStatus::Ok)
            << n;
        EXPECT_EQ(saved.header.DataLength, 3500u);
        EXPECT_EQ(saved.data, cycles.cycle(n)) << n;
        EXPECT_EQ(saved.comment(), QStringLiteral("три цикла"));
    }
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("Комментарий"));
    EXPECT_FALSE(cycles.hasUnsaved());
    EXPECT_FALSE(f.hasUnsavedRecording());
    // Every cycle is in a file: the run's entry has left the recovery store.
    EXPECT_TRUE(files::RecoveryStore(file(QStringLiteral("recovery"))).entries().isEmpty());

    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(QFile::remove(file(QStringLiteral("run000%1.kdx").arg(n))));
    save(name);
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("run0000.kdx"))));
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("run0002.kdx"))));

    QTest::mouseClick(control<QCheckBox>(f, "cb1file"), Qt::LeftButton);
    for (const QString &one :
        { file(QStringLiteral("one.kdx")), file(QStringLiteral("two.kdx")) }) {
        save(one);
        files::DataFile saved;
        ASSERT_EQ(files::readDataFile(one, &saved), files::DataFileStatus::Ok);
        EXPECT_EQ(saved.data, cycles.cycle(0) + cycles.cycle(1) + cycles.cycle(2));
        EXPECT_EQ(saved.comment(), QStringLiteral("три цикла"));
        const QString named = QFileInfo(one).fileName();
        EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ ") + named);
        EXPECT_TRUE(f.windowTitle().startsWith(named)) << f.windowTitle().toStdString();
    }
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

// A file opened while the board records would be mixed with the blocks still to come: the
// load is refused, and the measurement ends with its own recording.
TEST_F(DataFilesTest, NoLoadDuringAnExchange)
{
    app::TForm1 &f = openOnBoard();
    const QString other = file(QStringLiteral("other.kdx"));
    filewindow::writeDataFile(other, 0x01, filewindow::words({ 1, 2, 3 }), QStringLiteral("x"));
    control<QPlainTextEdit>(f, "mComment")->setPlainText(QStringLiteral("своя"));

    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    ASSERT_NE(f.session().state(), acquisition::SessionState::Idle);
    load(other);
    EXPECT_EQ(messages, QStringList { app::FileControl::busyMessage() });
    EXPECT_EQ(openDialogs, 0);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("своя"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return f.session().state() == acquisition::SessionState::Idle; }, 30000));
    EXPECT_EQ(f.recording().data.size(), f.session().blocksExpected() * 500);

    load(other);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("x"));
}

TEST_F(DataFilesTest, FaultyRecordingIsNotSaved)
{
    app::TForm1 &f = open();
    files::Recording broken;
    broken.data = words({ 1, 2, 3 });
    broken.faulty = true;
    f.takeRecording(broken);
    const QString bad = file(QStringLiteral("bad.kdx"));
    saveAnswers.push_back({ bad, app::SaveFilter::AdcFiles });
    QTest::mouseClick(control<QToolButton>(f, "btSave"), Qt::LeftButton);
    EXPECT_EQ(messages, QStringList { app::FileControl::faultyRecordingMessage() });
    EXPECT_TRUE(proposals.isEmpty()); // no dialog
    EXPECT_FALSE(QFile::exists(bad));

    // The cycles of a cycle run are saved; the text of the recording held is not.
    int cycleSaves = 0;
    f.fileControl().cycleSaver = [&](const app::CycleSaveRequest &) {
        ++cycleSaves;
        return app::CycleSaveOutcome {};
    };
    f.work().setRecordedByCycle(true);
    messages.clear();
    QTest::mouseClick(control<QToolButton>(f, "btSave"), Qt::LeftButton); // the name queued above
    EXPECT_EQ(cycleSaves, 1);
    EXPECT_TRUE(messages.isEmpty());
    const QString text = file(QStringLiteral("bad.txt"));
    save(text, app::SaveFilter::TextFile);
    EXPECT_EQ(messages, QStringList { app::FileControl::faultyRecordingMessage() });
    EXPECT_FALSE(QFile::exists(text));

    // A loaded file replaces the faulty recording: it is saved.
    f.work().setRecordedByCycle(false);
    const QString good = file(QStringLiteral("good.kdx"));
    writeDataFile(good, 0x01, words({ 4, 5, 6 }), {});
    load(good);
    const QString copy = file(QStringLiteral("copy.kdx"));
    messages.clear();
    save(copy);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(QFile::exists(copy));
}

TEST_F(DataFilesTest, BrowsingStepsWithoutWrapAround)
{
    app::TForm1 &f = open();
    // One file: both directions have no more files.
    QDir(dir.path()).mkdir(QStringLiteral("one"));
    const QString only = file(QStringLiteral("one/only.kdx"));
    writeDataFile(only, 0x01, words({ 1, 2, 3 }), QStringLiteral("один"));
    load(only);
    QTest::mouseClick(control<QToolButton>(f, "btPrevFile"), Qt::LeftButton);
    QTest::mouseClick(control<QToolButton>(f, "btNextFile"), Qt::LeftButton);
    EXPECT_EQ(messages, (QStringList { NoMoreFiles, NoMoreFiles }));
    EXPECT_EQ(f.fileControl().CurrentDataFile, only);

    // a.kdx, B.kdx (not a data file), c.kdx and a text file, listed ignoring case.
    QDir(dir.path()).mkdir(QStringLiteral("many"));
    const QString a = file(QStringLiteral("many/a.kdx"));
    const QString b = file(QStringLiteral("many/B.kdx"));
    const QString c = file(QStringLiteral("many/c.kdx"));
    writeDataFile(a, 0x01, words({ 1, 2, 3 }), QStringLiteral("первый"));
    writeForeignFile(b);
    writeDataFile(c, 0x01, words({ 4, 5, 6 }), QStringLiteral("третий"));
    filewindow::writeBytes(file(QStringLiteral("many/d.txt")), "text");
    load(a);
    messages.clear();

    // Stepped onto B: its message, the display stays, the next press steps past it.
    QTest::mouseClick(control<QToolButton>(f, "btNextFile"), Qt::LeftButton);
    EXPECT_EQ(messages, QStringList { ForeignMessage });
    EXPECT_EQ(f.fileControl().CurrentDataFile, b);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("первый"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ a.kdx"));
    QTest::mouseClick(control<QToolButton>(f, "btNextFile"), Qt::LeftButton);
    EXPECT_EQ(f.fileControl().CurrentDataFile, c);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("третий"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ c.kdx"));
    messages.clear();
    QTest::mouseClick(
        control<QToolButton>(f, "btNextFile"), Qt::LeftButton); // the last: no wrap-around
    EXPECT_EQ(messages, QStringList { NoMoreFiles });
    EXPECT_EQ(f.fileControl().CurrentDataFile, c);

    // Backwards over B to a; a is the first.
    QTest::mouseClick(control<QToolButton>(f, "btPrevFile"), Qt::LeftButton);
    QTest::mouseClick(control<QToolButton>(f, "btPrevFile"), Qt::LeftButton);
    EXPECT_EQ(f.fileControl().CurrentDataFile, a);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("первый"));
    messages.clear();
    QTest::mouseClick(control<QToolButton>(f, "btPrevFile"), Qt::LeftButton);
    EXPECT_EQ(messages, QStringList { NoMoreFiles });

    // The current file deleted: Next has no more files, Previous does nothing.
    ASSERT_TRUE(QFile::remove(a));
    messages.clear();
    QTest::mouseClick(control<QToolButton>(f, "btNextFile"), Qt::LeftButton);
    EXPECT_EQ(messages, QStringList { NoMoreFiles });
    messages.clear();
    QTest::mouseClick(control<QToolButton>(f, "btPrevFile"), Qt::LeftButton);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(f.fileControl().CurrentDataFile, a);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(), QStringLiteral("первый"));
}

TEST_F(DataFilesTest, DialogsStartInMerskladWithTheirFilters)
{
    app::TForm1 &f = open();
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString store = file(QStringLiteral("Mersklad"));
    ASSERT_FALSE(QFileInfo::exists(store));

    QFileDialog *saveDlg = f.fileControl().saveDialog();
    EXPECT_TRUE(QFileInfo(store).isDir()); // created when missing
    EXPECT_EQ(QFileInfo(saveDlg->directory().absolutePath()), QFileInfo(store));
    EXPECT_EQ(saveDlg->nameFilters(), app::FileControl::saveFilters());
    EXPECT_EQ(saveDlg->defaultSuffix(), QStringLiteral("kdx"));
    QFileDialog *openDlg = f.fileControl().openDialog();
    EXPECT_EQ(QFileInfo(openDlg->directory().absolutePath()), QFileInfo(store));
    EXPECT_EQ(openDlg->nameFilters(), app::FileControl::openFilters());

    // The real dialog: a name typed without extension gets ".kdx"; with the text filter
    // chosen it gets ".txt".
    const auto typeName = [&](const QString &name, bool textFilter) {
        QTimer::singleShot(0, saveDlg, [saveDlg, name, textFilter] {
            if (textFilter) {
                auto *types = saveDlg->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                types->setFocus();
                QTest::keyClick(types, Qt::Key_Down);
            }
            auto *edit = saveDlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setFocus();
            edit->clear();
            QTest::keyClicks(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        return f.fileControl().execSaveDialog({});
    };
    std::optional<app::SaveChoice> choice = typeName(QStringLiteral("plain"), false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(QFileInfo(choice->fileName), QFileInfo(store + QStringLiteral("/plain.kdx")));
    EXPECT_EQ(choice->filter, app::SaveFilter::AdcFiles);
    choice = typeName(QStringLiteral("table"), true);
    ASSERT_TRUE(choice);
    EXPECT_EQ(QFileInfo(choice->fileName), QFileInfo(store + QStringLiteral("/table.txt")));
    EXPECT_EQ(choice->filter, app::SaveFilter::TextFile);
    ASSERT_TRUE(QDir::setCurrent(previous));
}
