// Recordings laid over the window's chart: real data files in a temporary folder, the menu
// entries and the shift dialog driven with QTest, the file dialog answering from a queue.
#include "app/overlays.h"
#include "app/spinedit.h"
#include "filewindow.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QScopeGuard>
#include <QTimer>

using files::ChannelId;
using filewindow::words;
using filewindow::writeDataFile;

namespace {

// The files here hold the scale of the 500° range (filewindow::writeDataFile): a recording is
// decoded with its own scale, whatever range is selected ("250°" in these windows).
constexpr double DegreesPerCode = files::ValueScale500;

// `count` frames of T1 (and T3 when `t3`): T1 codes from `t1` up by one a frame, T3 from
// `t1` + 1000.
QByteArray frames(int count, int t1, bool t3)
{
    QByteArray data;
    for (int f = 0; f < count; ++f)
        data += t3 ? words({ t1 + f, t1 + 1000 + f }) : words({ t1 + f });
    return data;
}

class OverlaysTest : public filewindow::FileWindowTest
{
protected:
    app::TForm1 &openWithOverlays()
    {
        app::TForm1 &f = open();
        f.overlays().chooseFiles = [this] {
            ++fileDialogs;
            const QStringList answer
                = overlayAnswers.empty() ? QStringList() : overlayAnswers.front();
            if (!overlayAnswers.empty())
                overlayAnswers.pop_front();
            return answer;
        };
        return f;
    }

    QAction *action(const char *name) const
    {
        return form->findChild<QAction *>(QLatin1String(name));
    }

    // Ctrl+Shift+O with `paths` chosen and `shift` typed into the real shift dialog.
    void overlay(const QStringList &paths, const QString &shift)
    {
        overlayAnswers.push_back(paths);
        QTimer::singleShot(0, form.get(), [shift] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            // A failed check leaves no dialog waiting.
            const auto close = qScopeGuard([dialog] {
                if (dialog->isVisible())
                    dialog->reject();
            });
            auto *field = dialog->findChild<QDoubleSpinBox *>(QStringLiteral("seShift"));
            ASSERT_TRUE(field);
            // Typing goes to the shift at once.
            EXPECT_EQ(dialog->focusWidget(), field);
            QTest::keyClicks(field, shift);
            QTest::keyClick(field, Qt::Key_Return);
            EXPECT_EQ(dialog->result(), QDialog::Accepted);
        });
        pressOverlayKeys();
    }

    // Ctrl+Shift+O in the window, made active again (a dialog closed leaves none active on
    // the offscreen platform).
    void pressOverlayKeys()
    {
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    }

    const chart::TChartSeries &overlaySeries(int overlay, ChannelId channel) const
    {
        return *form->overlays().series(overlay).channels.at(size_t(channel));
    }

    std::deque<QStringList> overlayAnswers;
    int fileDialogs = 0;
};

} // namespace

TEST_F(OverlaysTest, DrawnShiftedAndNamedThenRemovedWithoutTouchingTheRecording)
{
    app::TForm1 &f = openWithOverlays();
    const QString a = file(QStringLiteral("a.kdx"));
    const QString b = file(QStringLiteral("b.kdx"));
    writeDataFile(a, 0x01, frames(11, 100, false), QStringLiteral("опыт"), 100);
    writeDataFile(b, 0x05, frames(11, 2000, true), QStringLiteral("эталон"), 200);
    load(a);
    ASSERT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
    const Display before = display();
    const QString title = f.windowTitle();
    const QByteArray aBytes = filewindow::readAll(a), bBytes = filewindow::readAll(b);
    ASSERT_FALSE(action("actRemoveOverlays")->isEnabled());

    // Degrees against time in ms: b's points 0.2 ms apart (its own interval), moved 0.5 ms.
    overlay({ b }, QStringLiteral("0") + f.locale().decimalPoint() + QStringLiteral("5"));
    ASSERT_TRUE(messages.isEmpty()) << qPrintable(messages.join(u'|'));
    ASSERT_EQ(f.overlays().count(), 1);
    EXPECT_EQ(f.overlays().names(), QStringList { QStringLiteral("b.kdx") });
    const chart::TChartSeries &t1 = overlaySeries(0, ChannelId::T1);
    const chart::TChartSeries &t3 = overlaySeries(0, ChannelId::T3);
    ASSERT_EQ(t1.Count(), 10);
    ASSERT_EQ(t3.Count(), 10);
    for (int p = 0; p < 10; ++p) {
        EXPECT_NEAR(t1.XValue(p), (p + 1) * 0.2 + 0.5, 1e-12) << p;
        EXPECT_DOUBLE_EQ(t1.YValue(p), (2001 + p) * DegreesPerCode) << p;
        EXPECT_DOUBLE_EQ(t3.YValue(p), (3001 + p) * DegreesPerCode) << p;
    }
    // Its own channels (T1 and T3, whatever the boxes of a's show), in the channel colours,
    // dashed; the legend has one row for it, named.
    EXPECT_TRUE(t1.Active());
    EXPECT_TRUE(t3.Active());
    EXPECT_FALSE(overlaySeries(0, ChannelId::T2).Active());
    EXPECT_EQ(t1.SeriesColor(), f.seriesColor(ChannelId::T1));
    EXPECT_NE(static_cast<const chart::TFastLineSeries &>(t1).LinePen().style(), Qt::SolidLine);
    EXPECT_FALSE(t1.ShowInLegend());
    const chart::TFastLineSeries &entry = *f.overlays().series(0).entry;
    EXPECT_TRUE(entry.Active() && entry.ShowInLegend());
    EXPECT_TRUE(chartOf(f)->RenderMetafile(false, chartOf(f)->ClientBounds()).contains("b.kdx"));
    // The bottom axis spans the overlay too.
    chartOf(f)->ensureLayout();
    EXPECT_DOUBLE_EQ(chartOf(f)->BottomAxis()->Maximum(), 10 * 0.2 + 0.5);

    // A new colour for T1 is the overlay's T1 colour too.
    f.chooseColor = [](const QColor &) { return std::optional<QColor>(QColor(255, 0, 255)); };
    control<QToolButton>(f, "btOptions")->click();
    QTest::mouseClick(swatch(f, ChannelId::T1), Qt::LeftButton);
    EXPECT_EQ(t1.SeriesColor(), QColor(255, 0, 255));

    // The current recording, its saved state and the title are as they were.
    EXPECT_TRUE(display() == before);
    EXPECT_FALSE(f.hasUnsavedRecording());
    EXPECT_EQ(f.windowTitle(), title);

    // Cancelled dialogs lay nothing over.
    pressOverlayKeys();
    EXPECT_EQ(fileDialogs, 2);
    f.overlays().askShift = [](const QString &) { return std::optional<double>(); };
    overlayAnswers.push_back({ a });
    action("actOverlay")->trigger();
    EXPECT_EQ(f.overlays().count(), 1);

    // A second overlay has a dash pattern of its own and a legend row of its own.
    f.overlays().askShift = [](const QString &) { return std::optional<double>(0); };
    overlayAnswers.push_back({ a });
    action("actOverlay")->trigger();
    ASSERT_EQ(f.overlays().count(), 2);
    EXPECT_EQ(
        f.overlays().names(), (QStringList { QStringLiteral("b.kdx"), QStringLiteral("a.kdx") }));
    EXPECT_NE(static_cast<const chart::TFastLineSeries &>(overlaySeries(1, ChannelId::T1))
                  .LinePen()
                  .dashPattern(),
        static_cast<const chart::TFastLineSeries &>(t1).LinePen().dashPattern());

    // "Убрать наложения" takes them all away; the chart is as before them.
    ASSERT_TRUE(action("actRemoveOverlays")->isEnabled());
    action("actRemoveOverlays")->trigger();
    EXPECT_EQ(f.overlays().count(), 0);
    EXPECT_EQ(chartOf(f)->SeriesCount(), files::ChannelCount);
    EXPECT_FALSE(action("actRemoveOverlays")->isEnabled());
    chartOf(f)->ensureLayout();
    EXPECT_DOUBLE_EQ(chartOf(f)->BottomAxis()->Maximum(), 1.0);
    EXPECT_TRUE(display() == before);
    EXPECT_EQ(filewindow::readAll(a), aBytes);
    EXPECT_EQ(filewindow::readAll(b), bBytes);
}

TEST_F(OverlaysTest, KeptWhileBrowsingAndRedrawnWithTheDisplayControls)
{
    app::TForm1 &f = openWithOverlays();
    QDir(dir.path()).mkdir(QStringLiteral("run"));
    const QString cycle1 = file(QStringLiteral("run/cycle1.kdx"));
    const QString cycle2 = file(QStringLiteral("run/cycle2.kdx"));
    const QString reference = file(QStringLiteral("reference.kdx"));
    writeDataFile(cycle1, 0x01, frames(21, 500, false), QStringLiteral("1"), 100);
    writeDataFile(cycle2, 0x02, frames(31, 600, false), QStringLiteral("2"), 100);
    writeDataFile(reference, 0x05, frames(11, 2000, true), QStringLiteral("эталон"), 200);
    load(cycle1);
    f.overlays().askShift = [](const QString &unit) {
        EXPECT_EQ(unit, QStringLiteral("мс"));
        return std::optional<double>(0.5);
    };
    overlayAnswers.push_back({ reference });
    action("actOverlay")->trigger();
    ASSERT_EQ(f.overlays().count(), 1);
    const chart::TChartSeries &t1 = overlaySeries(0, ChannelId::T1);

    // The next file of the folder becomes the current recording (T2 only); the overlay stays,
    // still drawn with its own channels.
    QTest::mouseClick(control<QToolButton>(f, "btNextFile"), Qt::LeftButton);
    ASSERT_EQ(f.fileControl().CurrentDataFile, cycle2);
    EXPECT_EQ(f.series(ChannelId::T2)->Count(), 30);
    EXPECT_FALSE(channelBox(f, 0)->isChecked());
    ASSERT_EQ(f.overlays().count(), 1);
    ASSERT_EQ(t1.Count(), 10);
    EXPECT_TRUE(t1.Active());
    EXPECT_NEAR(t1.XValue(0), 0.2 + 0.5, 1e-12);
    QTest::mouseClick(control<QToolButton>(f, "btPrevFile"), Qt::LeftButton);
    ASSERT_EQ(f.fileControl().CurrentDataFile, cycle1);
    EXPECT_EQ(t1.Count(), 10);

    // ADC units against samples: Y in codes, X in points; the 0.5 ms are 2.5 of the
    // reference's points of 0.2 ms.
    control<QComboBox>(f, "cbShowK")->setFocus();
    QTest::keyClick(control<QComboBox>(f, "cbShowK"), Qt::Key_Down);
    ASSERT_EQ(control<QComboBox>(f, "cbShowK")->currentIndex(), 1);
    ASSERT_EQ(t1.Count(), 10);
    EXPECT_DOUBLE_EQ(t1.XValue(0), 1 + 2.5);
    EXPECT_DOUBLE_EQ(t1.YValue(0), 2001);
    // Every second frame drawn, back in degrees against time: the overlay too, still moved
    // by 0.5 ms.
    control<app::SpinEdit>(f, "sePointChart")->setFocus();
    QTest::keyClick(control<app::SpinEdit>(f, "sePointChart"), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(control<app::SpinEdit>(f, "sePointChart"), QStringLiteral("2"));
    control<QComboBox>(f, "cbShowK")->setFocus();
    QTest::keyClick(control<QComboBox>(f, "cbShowK"), Qt::Key_Up);
    ASSERT_EQ(control<QComboBox>(f, "cbShowK")->currentIndex(), 0);
    ASSERT_EQ(t1.Count(), 5);
    EXPECT_NEAR(t1.XValue(0), 0.2 + 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(t1.YValue(0), 2002 * DegreesPerCode);

    // The overlays last for the session: the settings file does not name them.
    form->close();
    EXPECT_FALSE(filewindow::readAll(file(QStringLiteral("Ferrun.ini"))).contains("reference"));
}

TEST_F(OverlaysTest, FilesThatAreNoRecordingsAreNamedAndTheOthersLaidOver)
{
    app::TForm1 &f = openWithOverlays();
    const QString a = file(QStringLiteral("a.kdx"));
    const QString b = file(QStringLiteral("b.kdx"));
    const QString foreign = file(QStringLiteral("foreign.kdx"));
    const QString cut = file(QStringLiteral("cut.kdx"));
    writeDataFile(a, 0x01, frames(11, 100, false), QStringLiteral("опыт"), 100);
    writeDataFile(b, 0x01, frames(6, 300, false), QStringLiteral("эталон"), 100);
    filewindow::writeForeignFile(foreign);
    writeDataFile(cut, 0x01, frames(11, 100, false), {}, 100);
    const QByteArray whole = filewindow::readAll(cut);
    filewindow::writeBytes(cut, whole.left(whole.size() - 4));
    load(a);
    const Display before = display();

    f.overlays().askShift = [](const QString &) { return std::optional<double>(0); };
    overlayAnswers.push_back({ foreign, b, cut, dir.path() });
    action("actOverlay")->trigger();
    ASSERT_EQ(messages.size(), 1);
    const QString message = messages.front();
    EXPECT_TRUE(message.startsWith(QStringLiteral("Записи не наложены на график:")))
        << qPrintable(message);
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(foreign)
        + QStringLiteral(" — это не файл данных АЦП (поле типа 2 вместо 1)")))
        << qPrintable(message);
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(cut)
        + QStringLiteral(" — файл обрывается: %1 байт из %2")
              .arg(whole.size() - 4)
              .arg(whole.size())))
        << qPrintable(message);
    EXPECT_TRUE(
        message.contains(QDir::toNativeSeparators(dir.path()) + QStringLiteral(" — это папка")))
        << qPrintable(message);

    ASSERT_EQ(f.overlays().count(), 1);
    EXPECT_EQ(f.overlays().names(), QStringList { QStringLiteral("b.kdx") });
    EXPECT_EQ(overlaySeries(0, ChannelId::T1).Count(), 5);
    EXPECT_TRUE(display() == before);
    EXPECT_FALSE(f.hasUnsavedRecording());
}
