#include "chart/chart.h"

#include <QEvent>
#include <algorithm>

namespace chart {

TChart::TChart(QWidget *parent)
    : QWidget(parent)
{
    axes_[0] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Bottom);
    axes_[1] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Top);
    axes_[2] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Left);
    axes_[3] = std::make_unique<TChartAxis>(this, TCustomChartAxis::Side::Right);
    color_ = palette().color(QPalette::Window);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TChart::~TChart()
{
    destroying_ = true;
    series_.clear();
}

void TChart::setColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    invalidate();
}

void TChart::setMargins(int left, int top, int right, int bottom)
{
    margins_ = { left, top, right, bottom };
    invalidate();
}

void TChart::setAxisVisible(bool value)
{
    if (value == axisVisible_)
        return;
    axisVisible_ = value;
    invalidate();
}

void TChart::setClipPoints(bool value)
{
    if (value == clipPoints_)
        return;
    clipPoints_ = value;
    invalidate();
}

TFastLineSeries *TChart::addFastLineSeries(const QString &name)
{
    // Automatic colours in turn, as long as the window sets none.
    static const QColor automatic[] = { Qt::red, Qt::green, Qt::yellow, Qt::blue, Qt::white,
        Qt::gray, Qt::magenta, Qt::darkCyan, Qt::darkBlue, Qt::darkRed, QColor(0, 255, 0),
        Qt::darkYellow, Qt::darkMagenta, Qt::lightGray, Qt::cyan, Qt::black };
    auto series = std::make_unique<TFastLineSeries>(name);
    TFastLineSeries *result = series.get();
    result->setSeriesColor(automatic[series_.size() % std::size(automatic)]);
    result->attach(this, this);
    series_.push_back(std::move(series));
    invalidate();
    return result;
}

void TChart::removeSeries(TChartSeries *series)
{
    const auto it = std::find_if(series_.begin(), series_.end(),
        [series](const std::unique_ptr<TChartSeries> &s) { return s.get() == series; });
    if (it == series_.end())
        return;
    series_.erase(it);
    invalidate();
}

TChartSeries *TChart::seriesByName(const QString &name) const
{
    for (const auto &s : series_)
        if (s->Name() == name)
            return s.get();
    return nullptr;
}

QRect TChart::ChartRect() const
{
    return QRect(QPoint(layout_.left, layout_.top), QPoint(layout_.right, layout_.bottom));
}

QRect TChart::legendRect() const
{
    if (!layout_.legendShown)
        return {};
    return QRect(
        QPoint(layout_.legLeft, layout_.legTop), QPoint(layout_.legRight, layout_.legBottom));
}

void TChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    dirty_ = true;
    pictureStale_ = true;
}

void TChart::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange)
        valueTexts_.clear();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange
        || event->type() == QEvent::LocaleChange)
        invalidate();
}

} // namespace chart
