// Dragging cursor B across a long recording in the window, offscreen, at a client size of
// 1600 × 900: T1..T7 with 240000 points a line (a recording of 240001 frames), and seven
// more lines of as many points standing for an overlay. Each move is one mouse move event
// on the chart with the left button held (the cursor snaps, the panel computes the region's
// statistics and fills its table), then a synchronous repaint of the chart (with the
// cursors' lines) and of the panel:
//   move median_ms=M min_ms=N     the move event alone
//   repaint median_ms=M min_ms=N  the two repaints
//   total median_ms=M min_ms=N    the move and its repaints
// over 100 moves (--moves N), 3 pixels apart, after 5 warm-up moves; the region holds about
// half of the points. Also one full paint of the chart with every line, for scale.
#include "app/regioncursors.h"
#include "app/regionpanel.h"
#include "bench/app/benchwindow.h"
#include "chart/chart.h"
#include "files/datafile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Points = 240000;
constexpr int Channels = 7;

void print(const char *what, const std::vector<double> &ms)
{
    std::printf("%s median_ms=%.3f min_ms=%.3f\n", what, benchwindow::median(ms),
        *std::min_element(ms.begin(), ms.end()));
}

// Thermocouple-like codes: a slow ramp per channel with a little ripple.
QByteArray recording()
{
    QByteArray data(qsizetype(Points + 1) * Channels * 2, Qt::Uninitialized);
    char *p = data.data();
    for (int f = 0; f <= Points; ++f) {
        for (int c = 0; c < Channels; ++c) {
            const int code = (800 + 300 * c + f / 256 + (f * 7 + c * 13) % 23) & 0x0FFF;
            *p++ = char(code & 0xFF);
            *p++ = char(code >> 8);
        }
    }
    return data;
}

void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int moves = 100;
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--moves"));
    if (at >= 0 && at + 1 < args.size())
        moves = std::max(1, args.at(at + 1).toInt());

    benchwindow::Window window;
    if (!window.form)
        return 1;
    app::TForm1 &form = *window.form;
    form.resize(1600, 900);
    QApplication::processEvents();

    files::Recording r;
    r.header.ChartChannelBits = 0x7F;
    r.header.ChannelIntervalUs = 621.5413411458334 / 3 * Channels;
    r.header.ValueScale = files::ValueScale250;
    r.data = recording();
    r.origin = files::RecordingOrigin::File;
    form.takeRecording(std::move(r));
    chart::TChart &chart = *form.findChild<chart::TChart *>(QStringLiteral("Chart1"));
    const int drawn = form.series(files::ChannelId::T1)->Count();
    // The overlay: seven lines of as many points, offset from the channels.
    for (int c = 0; c < Channels; ++c) {
        chart::TFastLineSeries *line
            = chart.addFastLineSeries(QStringLiteral("overlay%1").arg(c + 1));
        const chart::TChartSeries &source = *form.series(files::ChannelId(c));
        for (int i = 0; i < source.Count(); ++i)
            line->AddPoint(source.XValue(i), source.YValue(i) + 3);
    }

    app::RegionCursors &cursors = form.regionCursors();
    chart.ensureLayout();
    const double minimum = chart.BottomAxis()->workingMinimum();
    const double range = chart.BottomAxis()->workingRange();
    cursors.place(app::RegionCursors::Cursor::A, minimum + range * 0.2);
    cursors.place(app::RegionCursors::Cursor::B, minimum + range * 0.8);
    QApplication::processEvents();
    // Every line drawn anew, as after a zoom: what a move does not cost.
    chart.invalidate();
    QElapsedTimer clock;
    clock.start();
    chart.repaint();
    const double fullPaint = double(clock.nsecsElapsed()) / 1e6;
    QApplication::processEvents();
    const double startB = *cursors.position(app::RegionCursors::Cursor::B);

    QWidget *marker = cursors.marker(app::RegionCursors::Cursor::B);
    QPoint pos(marker->x() + app::RegionCursors::MarkerReach, chart.ChartRect().center().y());
    sendMouse(&chart, QEvent::MouseButtonPress, pos, Qt::LeftButton);
    std::vector<double> handled, repainted, totals;
    for (int i = 0; i < moves + 5; ++i) {
        pos.rx() -= 3;
        clock.restart();
        sendMouse(&chart, QEvent::MouseMove, pos, Qt::LeftButton);
        const qint64 moved = clock.nsecsElapsed();
        chart.repaint();
        form.regionPanel().repaint();
        const qint64 done = clock.nsecsElapsed();
        if (i < 5)
            continue;
        handled.push_back(double(moved) / 1e6);
        repainted.push_back(double(done - moved) / 1e6);
        totals.push_back(double(done) / 1e6);
    }
    sendMouse(&chart, QEvent::MouseButtonRelease, pos, Qt::NoButton);

    std::printf("client %dx%d chart %dx%d, %d channels and %d overlay lines of %d points\n",
        form.width(), form.height(), chart.width(), chart.height(), Channels, Channels, drawn);
    std::printf("B from X=%g to X=%g (A at X=%g)\n", startB,
        *cursors.position(app::RegionCursors::Cursor::B),
        *cursors.position(app::RegionCursors::Cursor::A));
    std::printf("full paint ms=%.3f\n", fullPaint);
    print("move", handled);
    print("repaint", repainted);
    print("total", totals);
    return 0;
}
