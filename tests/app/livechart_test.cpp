// The chart drawn as the blocks of a transfer arrive, on the board simulator paced at the
// line's rate: the time axis spans the whole recording from the first block, the points drawn
// are those of the blocks received, and once complete the chart is the very picture the same
// recording gives when it is opened from its file.
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "chart/chart.h"
#include "chart/fastlineseries.h"
#include "files/datafile.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using acquisition::Field;

TEST(LiveChart, BlocksDrawnAsTheyArriveAndTheFinalChartIsTheFilesChart)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    sim::BoardOptions options;
    options.speed = 1000; // the recording at once; the transfer at 921600 bit/s
    options.wireRate = 921600;
    options.seed = 7;
    sim::BoardSimulator board(options);
    std::string error;
    ASSERT_TRUE(board.start(&error)) << error;
    QStringList messages;
    app::AppOptions appOptions;
    appOptions.device = QString::fromStdString(board.devicePath());
    app::TForm1 form(dir.filePath(QStringLiteral("Ferrun.ini")), appOptions,
        apptest::environmentIn(dir, messages));
    form.resize(900, 600);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // Two memory blocks: 240 data blocks of 500 bytes, about 1.3 s on the wire.
    form.sampling().assign(Field::seSamples, 60000);
    chart::TChart &chart = *chartOf(form);

    control<QPushButton>(form, "btStart")->click();
    acquisition::MeasurementSession &session = form.session();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.blocksStored() >= 20; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return chart.Series(0)->Count() > 0; }, 5000));
    ASSERT_LT(session.blocksStored(), session.blocksExpected()) << "the transfer ended first";

    // The time axis spans the whole recording already; the points drawn are the first ones of
    // the recording, in the units of the display, and no more than the blocks stored hold.
    const sig::DecodedRecording *shown = form.chartBuilder().lastRecording();
    ASSERT_NE(shown, nullptr);
    const int frames = 60000 * 2 / 2 / 7;
    EXPECT_EQ(chart.BottomAxis()->reservedMaximum(), shown->x(frames - 2));
    const int drawn = chart.Series(0)->Count();
    EXPECT_EQ(drawn, shown->pointCount());
    EXPECT_LE(drawn, session.blocksStored() * 500 / 14);
    // ... decoded from the bytes received, as a build decodes a whole recording.
    sig::ChartDecoder decoder;
    const sig::DecodedRecording received = decoder.decode(
        session.received(), form.chartBuilder().displaySettings(session.recordingHeader()));
    ASSERT_GE(received.pointCount(), drawn);
    for (int p = 0; p < drawn; ++p) {
        ASSERT_EQ(chart.Series(0)->XValue(p), received.x(p)) << p;
        ASSERT_EQ(chart.Series(0)->YValue(p), received.y(1, p)) << p;
    }

    // Complete: drawn whole, as every build draws.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return session.state() == acquisition::SessionState::Idle
                && form.recording().data.size() == 120000;
        },
        20000));
    EXPECT_FALSE(chart.BottomAxis()->hasReservedRange());
    EXPECT_FALSE(form.findChild<QLabel *>(QStringLiteral("incompleteMark"))->isVisible());
    QApplication::processEvents();
    const QImage live = chart.grab().toImage();

    const QString file = dir.filePath(QStringLiteral("run.kdx"));
    ASSERT_TRUE(files::saveDataFile(file, form.recording().header, form.recording().data, {}));
    form.openFile(file);
    ASSERT_EQ(form.recording().savedPath, file);
    QApplication::processEvents();
    EXPECT_TRUE(chart.grab().toImage() == live) << "the chart of the file differs";
    form.close();
}
