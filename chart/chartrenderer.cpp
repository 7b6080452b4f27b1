#include "chart/chartrenderer.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

namespace chart {

ChartRenderer::ChartRenderer()
    : color_(QGuiApplication::palette().color(QPalette::Window))
    , font_(QGuiApplication::font())
    , screenDevice_(1, 1, QImage::Format_RGB32)
{
    axes_[0] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Bottom);
    axes_[1] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Top);
    axes_[2] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Left);
    axes_[3] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Right);
    const QScreen *screen = QGuiApplication::primaryScreen();
    setDeviceDpi(screen ? int(std::lround(screen->logicalDotsPerInchY())) : 96);
}

ChartRenderer::~ChartRenderer()
{
    // The series go with the chart: none of them tells it of the change.
    view_ = nullptr;
    for (const auto &s : series_)
        s->attach(nullptr);
    series_.clear();
}

void ChartRenderer::requestUpdate()
{
    if (view_)
        view_->showAgain({});
}

void ChartRenderer::requestAppendCheck()
{
    if (view_)
        view_->takeAppendsLater();
}

void ChartRenderer::setColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    invalidate();
}

void ChartRenderer::setMargins(int left, int top, int right, int bottom)
{
    margins_ = { left, top, right, bottom };
    invalidate();
}

void ChartRenderer::setAxisVisible(bool value)
{
    if (value == axisVisible_)
        return;
    axisVisible_ = value;
    invalidate();
}

void ChartRenderer::setClipPoints(bool value)
{
    if (value == clipPoints_)
        return;
    clipPoints_ = value;
    invalidate();
}

void ChartRenderer::setFont(const QFont &font)
{
    if (font == font_)
        return;
    font_ = font;
    invalidate();
}

void ChartRenderer::setScreenDpi(int dpi)
{
    if (dpi <= 0 || dpi == screenDpi_)
        return;
    setDeviceDpi(dpi);
    invalidate();
}

void ChartRenderer::setDeviceDpi(int dpi)
{
    screenDpi_ = dpi;
    const int dotsPerMeter = int(std::lround(dpi / 0.0254));
    screenDevice_.setDotsPerMeterX(dotsPerMeter);
    screenDevice_.setDotsPerMeterY(dotsPerMeter);
}

void ChartRenderer::localeChanged()
{
    valueTexts_.clear();
    invalidate();
}

void ChartRenderer::setSize(const QSize &size)
{
    if (size == size_)
        return;
    size_ = size;
    // The view shows the new size by itself.
    dirty_ = true;
    pictureStale_ = true;
}

TFastLineSeries *ChartRenderer::addFastLineSeries(const QString &name)
{
    // Automatic colours in turn, as long as the window sets none.
    static const QColor automatic[] = { Qt::red, Qt::green, Qt::yellow, Qt::blue, Qt::white,
        Qt::gray, Qt::magenta, Qt::darkCyan, Qt::darkBlue, Qt::darkRed, QColor(0, 255, 0),
        Qt::darkYellow, Qt::darkMagenta, Qt::lightGray, Qt::cyan, Qt::black };
    auto series = std::make_unique<TFastLineSeries>(name);
    TFastLineSeries *result = series.get();
    result->setSeriesColor(automatic[series_.size() % std::size(automatic)]);
    result->attach(this);
    series_.push_back(std::move(series));
    invalidate();
    return result;
}

void ChartRenderer::removeSeries(TChartSeries *series)
{
    const auto it = std::find_if(series_.begin(), series_.end(),
        [series](const std::unique_ptr<TChartSeries> &s) { return s.get() == series; });
    if (it == series_.end())
        return;
    series_.erase(it);
    invalidate();
}

TChartSeries *ChartRenderer::seriesByName(const QString &name) const
{
    for (const auto &s : series_)
        if (s->Name() == name)
            return s.get();
    return nullptr;
}

ChartRenderer::Snapshot ChartRenderer::snapshot() const
{
    Snapshot s;
    for (size_t i = 0; i < axes_.size(); ++i)
        s.axes[i] = axes_[i]->workingState();
    for (const auto &series : series_)
        s.shown.emplace_back(series->FirstShownIndex(), series->LastShownIndex());
    s.layout = layout_;
    s.dirty = dirty_;
    return s;
}

void ChartRenderer::restore(const Snapshot &s)
{
    for (size_t i = 0; i < axes_.size(); ++i)
        axes_[i]->restoreWorkingState(s.axes[i]);
    for (size_t i = 0; i < series_.size() && i < s.shown.size(); ++i)
        series_[i]->setShownIndices(s.shown[i].first, s.shown[i].second);
    layout_ = s.layout;
    dirty_ = s.dirty;
}

QByteArray ChartRenderer::svg(const QRect &rect, const QString &title)
{
    const Snapshot saved = snapshot();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    const QSize size(std::max(1, rect.width() - 1), std::max(1, rect.height() - 1));
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(title);
    // Laid out at the screen's resolution, texts take the room they take on the screen.
    generator.setResolution(screenDpi_);
    {
        QPainter painter(&generator);
        painter.translate(-rect.topLeft());
        paintChart(painter, rect, false);
    }
    restore(saved);
    return bytes;
}

void ChartRenderer::PrintInRect(QPainter &painter, const QRect &rect, const QSize &layout)
{
    const Snapshot saved = snapshot();
    const QRect client(QPoint(0, 0), layout);
    painter.save();
    painter.translate(rect.topLeft());
    if (client.width() > 0 && client.height() > 0)
        painter.scale(
            double(rect.width()) / client.width(), double(rect.height()) / client.height());
    paintChart(painter, client, true);
    painter.restore();
    restore(saved);
}

} // namespace chart
