#include "app/cursorreadout.h"

#include "app/statusbar.h"
#include "app/chartbuilder.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "files/channels.h"
#include "signal/regionstats.h"

#include <QEvent>
#include <QLocale>
#include <QPainter>
#include <cmath>

namespace app {

namespace {

// The cursor's 1-pixel line: black dashes on white, unlike any channel's line (the
// photodiode's is black) and seen on any background.
class CursorLine : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        for (int y = 0; y < height(); y += 8)
            painter.fillRect(QRect(0, y, width(), 4), Qt::black);
    }
};

} // namespace

CursorReadout::CursorReadout(chart::TChart &chart, const ChartBuilder &builder,
    StatusBar &status, std::function<bool()> switchedOn, QObject *parent)
    : QObject(parent)
    , m_chart(chart)
    , m_builder(builder)
    , m_status(status)
    , m_switchedOn(std::move(switchedOn))
{
    m_line = new CursorLine(&chart);
    m_line->setObjectName(QStringLiteral("cursorLine"));
    m_line->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_line->hide();
    connect(&chart, &chart::TChart::OnMouseMove, this,
        [this](Qt::KeyboardModifiers, int x, int y) { mouseMoved(x, y); });
    // Zoom, scroll and a redraw move the frame under a still mouse.
    chart.installEventFilter(this);
}

bool CursorReadout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_chart && event->type() == QEvent::Paint && m_showing)
        show(m_at);
    return QObject::eventFilter(watched, event);
}

void CursorReadout::mouseMoved(int x, int y)
{
    if (m_switchedOn())
        show(QPoint(x, y));
}

void CursorReadout::show(QPoint at)
{
    m_at = at;
    const sig::DecodedRecording *r = m_builder.lastRecording();
    chart::TChart *chart = &m_chart;
    if (!r || r->pointCount() == 0) {
        clear();
        return;
    }
    chart->ensureLayout();
    chart::TChartAxis *bottom = chart->BottomAxis();
    const QRect plot = chart->ChartRect();
    const double step = m_builder.PointStep();
    if (bottom->Maximum() <= 1 || !plot.contains(at) || !(step > 0)) {
        clear();
        return;
    }
    const double frame = std::nearbyint(bottom->PositionToValue(at.x()) / step);
    if (!(frame >= 1 && frame <= r->pointCount())) {
        clear();
        return;
    }
    const int point = int(frame) - 1;

    // Without grouping, with the digits the recording resolves, as the cursors' table.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const sig::RegionDecimals decimals = sig::regionDecimals(*r, 0);
    const double x = r->x(point);
    QString xText = QStringLiteral("X = ") + locale.toString(x, 'f', decimals.x);
    if (sig::isTimeMode(r->axisMode) && !r->TimeUnitName.isEmpty())
        xText += u' ' + sig::displayedTimeUnit(r->TimeUnitName);
    // The photodiode's state beside X, and the channels short (a thin space between name and
    // value), so that seven fit the panel of a first-run window.
    xText += QStringLiteral("   ") + tr("ФД") + u' ' + (r->photodiodeState(point) ? u'1' : u'0');
    QStringList values;
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        const files::ChannelId channel = files::thermocouple(n);
        if (r->hasChannel(n) && m_chart.Series(int(channel))->Active())
            values << QStringLiteral("%1\u2009%2").arg(QLatin1String(files::channelName(channel)),
                locale.toString(r->y(n, point), 'f', decimals.value));
    }
    m_status.setPanelText(1, xText);
    m_status.setPanelText(2, values.join(QStringLiteral("  ")));

    const int pixel = bottom->ValueToPosition(x);
    const QRect line(pixel, plot.top(), 1, plot.height());
    if (m_line->geometry() != line)
        m_line->setGeometry(line);
    m_line->show();
    m_showing = true;
    m_x = x;
}

void CursorReadout::clear()
{
    m_line->hide();
    // Texts that were never the readout's (the cycle number, the switch's hint) stay.
    if (!m_showing)
        return;
    m_showing = false;
    m_status.setPanelText(1, QString());
    m_status.setPanelText(2, QString());
}

void CursorReadout::switchedOff()
{
    m_line->hide();
    m_showing = false;
}

void CursorReadout::recordingChanged()
{
    if (m_showing)
        show(m_at);
}

} // namespace app
