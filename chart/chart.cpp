#include "chart/chart.h"

#include <QEvent>
#include <QPainter>

namespace chart {

TChart::TChart(QWidget *parent)
    : QWidget(parent)
{
    renderer_.setColor(palette().color(QPalette::Window));
    followWidget();
    renderer_.setView(this);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TChart::~TChart()
{
    renderer_.setView(nullptr);
}

void TChart::followWidget()
{
    renderer_.setSize(size());
    renderer_.setFont(font());
    renderer_.setScreenDpi(logicalDpiY());
}

void TChart::showAgain(const QRect &part)
{
    if (part.isNull())
        update();
    else
        update(part);
}

void TChart::takeAppendsLater()
{
    // After the caller's appends: one look at all of them.
    QMetaObject::invokeMethod(
        this, [this] { renderer_.takeAppends(); }, Qt::QueuedConnection);
}

QByteArray TChart::RenderMetafile(bool enhanced, const QRect &rect)
{
    Q_UNUSED(enhanced); // one vector format serves both requests
    return renderer().svg(rect, objectName());
}

void TChart::paintEvent(QPaintEvent *)
{
    // The chart is painted into a picture of its own and copied to the screen: a drag
    // rectangle or an uncovered part then costs only the copy, and appended points only
    // their columns.
    const QImage &picture = renderer().picture(devicePixelRatioF());
    QPainter painter(this);
    painter.drawImage(0, 0, picture);
    if (zoom_.Active)
        drawZoomRectangle(painter);
}

void TChart::drawZoomRectangle(QPainter &painter)
{
    // Black dashes over a white line: seen on any background and over any series. (The
    // picture under it is copied anew at every paint, so nothing needs erasing.)
    painter.save();
    painter.setBrush(Qt::NoBrush);
    // Outline through both corner pixels.
    const int x0 = std::min(zoom_.X0, zoom_.X1), x1 = std::max(zoom_.X0, zoom_.X1);
    const int y0 = std::min(zoom_.Y0, zoom_.Y1), y1 = std::max(zoom_.Y0, zoom_.Y1);
    const QRect outline(x0, y0, x1 - x0, y1 - y0);
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    painter.drawRect(outline);
    QPen dashes(Qt::black, 1, Qt::CustomDashLine);
    dashes.setDashPattern({ 4, 4 });
    painter.setPen(dashes);
    painter.drawRect(outline);
    painter.restore();
}

void TChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    renderer_.setSize(size());
}

void TChart::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange)
        renderer_.localeChanged();
    else if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        renderer_.invalidate();
    followWidget();
}

} // namespace chart
