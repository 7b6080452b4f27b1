#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace chart {
class TChart;
}

namespace app {

class ChartBuilder;
class StatusBar;

// The readout of the status bar: while the switch is on, the frame under the mouse on the
// chart is shown with its X (in the bottom axis's unit), the Y of every shown channel (in
// the axis mode the chart was built in) and the photodiode state, and a thin vertical line
// marks it on the chart. The frame is BottomAxis.PositionToValue / PointStep, rounded; only
// frames drawn by the last build count, and only while BottomAxis.Maximum exceeds 1.
//
// X and the photodiode state ("ФД 1") go to the second status panel; the channels' values
// ("T1 23.56"), with the digits the recording resolves, to the third, which reaches to the
// right end of the status bar: seven channels fit a first-run window.
class CursorReadout : public QObject
{
    Q_OBJECT

public:
    // `switchedOn`: the status bar's switch (statusClick). The texts go to the status bar's
    // panels.
    CursorReadout(chart::TChart &chart, const ChartBuilder &builder, StatusBar &status,
        std::function<bool()> switchedOn, QObject *parent = nullptr);

    // The switch was turned off: the line goes; the window writes its hint.
    void switchedOff();
    // A new build: the line and the texts no longer belong to what is drawn.
    void recordingChanged();

    QWidget *cursorLine() const { return m_line; }
    bool showing() const { return m_showing; }
    // X of the frame shown, while one is.
    std::optional<double> shownX() const
    {
        return m_showing ? std::optional<double>(m_x) : std::nullopt;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void mouseMoved(int x, int y);
    void show(QPoint at);
    void clear();

    chart::TChart &m_chart;
    const ChartBuilder &m_builder;
    StatusBar &m_status;
    std::function<bool()> m_switchedOn;
    QWidget *m_line = nullptr;
    bool m_showing = false;
    QPoint m_at;
    double m_x = 0;
};

} // namespace app
