#include "chart/chartrenderer.h"

#include <QPainter>
#include <algorithm>
#include <limits>

// The chart's picture for the screen: painted whole when anything changes, and only in the
// pixel columns of points appended behind the series' last ones while the layout stays.
namespace chart {

const QImage &ChartRenderer::picture(qreal ratio)
{
    // Appends not looked at yet are painted now: a change of the layout with them asks for
    // no other paint.
    updatePending_ = true;
    takeAppends();
    updatePending_ = false;
    const QSize pixels = (QSizeF(size_) * ratio).toSize();
    if (picture_.size() != pixels) {
        picture_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        picture_.setDevicePixelRatio(ratio);
        pictureStale_ = true;
    }
    paintedPart_ = QRect();
    if (!pixels.isEmpty() && (pictureStale_ || !appendedPart_.isEmpty())
        && (pictureStale_ || !paintAppended(appendedPart_))) {
        {
            QPainter painter(&picture_);
            paintChart(painter, ClientBounds());
        }
        pictureStale_ = false;
        pictureLayout_ = layout_;
        keepPictureState(ClientBounds());
    }
    appendedPart_ = QRect();
    return picture_;
}

void ChartRenderer::takeAppends()
{
    if (!appendPending_)
        return;
    appendPending_ = false;
    QRect part;
    if (pictureStale_ || dirty_ || !appendedColumns(part)) {
        invalidate();
        return;
    }
    if (part.isEmpty())
        return;
    appendedPart_ |= part;
    if (view_)
        view_->showAgain(part);
}

bool ChartRenderer::appendedColumns(QRect &part) const
{
    // Only on a picture of the chart's pixels, and only while the layout stays: the axes'
    // ranges the same with the new points.
    if (picture_.isNull() || picture_.devicePixelRatio() != 1 || !clipPoints_
        || paintedSeries_.size() != series_.size())
        return false;
    for (size_t i = 0; i < axes_.size(); ++i) {
        double minimum, maximum;
        automaticRange(*axes_[i], minimum, maximum);
        if (!(axes_[i]->workingState() == pictureAxes_[i]) || minimum != pictureAxes_[i].minimum
            || maximum != pictureAxes_[i].maximum)
            return false;
    }
    const PixelMapper xm = axes_[0]->mapper();
    int left = std::numeric_limits<int>::max(), right = std::numeric_limits<int>::min();
    for (size_t i = 0; i < series_.size(); ++i) {
        const TChartSeries &s = *series_[i];
        const PaintedSeries &painted = paintedSeries_[i];
        if (painted.series != &s || painted.changes != s.changeCount() || s.Count() < painted.count)
            return false;
        if (s.Count() == painted.count || !s.Active())
            continue;
        if (!s.XValues().storedAscending() || s.XValues().NonFiniteCount() > 0
            || s.YValues().NonFiniteCount() > 0)
            return false;
        // From the column of the last point painted, where the line to the new ones starts.
        const int a = xm(s.XValue(std::max(painted.count - 1, 0)));
        const int b = xm(s.XValue(s.Count() - 1));
        left = std::min({ left, a, b });
        right = std::max({ right, a, b });
    }
    const QRect plot(QPoint(pictureLayout_.left, pictureLayout_.top),
        QPoint(pictureLayout_.right, pictureLayout_.bottom));
    const QRect area = plot & picture_.rect();
    left = std::max(left, area.left());
    right = std::min(right, area.right());
    part = left <= right ? QRect(QPoint(left, area.top()), QPoint(right, area.bottom())) : QRect();
    return true;
}

bool ChartRenderer::paintAppended(const QRect &part)
{
    const Layout &L = pictureLayout_;
    RasterTarget target;
    target.image = &picture_;
    target.area = QRect(QPoint(L.left, L.top), QPoint(L.right, L.bottom)) & picture_.rect();
    int left = std::max(part.left(), target.area.left());
    int right = std::min(part.right(), target.area.right());
    if (left > right)
        return true;
    // Widened over the lines the painter draws across the part's edges, until none is left.
    for (int round = 0;; ++round) {
        bool any = false;
        for (const auto &s : series_) {
            if (!s->Active())
                continue;
            s->calcShownRange(*axes_[0], L.left, L.right);
            bool widened = false;
            if (!s->widenOverLines(*axes_[0], *axes_[2], target, left, right, widened))
                return false;
            any = any || widened;
        }
        if (!any)
            break;
        if (round == 8)
            return false;
    }
    // Half of the plotting rectangle or more costs about as much as all of it.
    if (2 * (right - left + 1) > target.area.width())
        return false;
    const QRect columns(QPoint(left, target.area.top()), QPoint(right, target.area.bottom()));
    {
        QPainter painter(&picture_);
        const QFont drawFont = fontFor(&picture_);
        const QFontMetrics fm(drawFont, &picture_);
        syncTextCache(drawFont, &picture_);
        paintLayout(painter, L, ClientBounds(), drawFont, fm, false, &columns);
    }
    keepPictureState(columns);
    return true;
}

void ChartRenderer::keepPictureState(const QRect &painted)
{
    for (size_t i = 0; i < axes_.size(); ++i)
        pictureAxes_[i] = axes_[i]->workingState();
    paintedSeries_.clear();
    for (const auto &s : series_)
        paintedSeries_.push_back({ s.get(), s->Count(), s->changeCount() });
    paintedPart_ = painted;
}

} // namespace chart
