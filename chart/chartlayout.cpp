#include "chart/chartrenderer.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

// The layout of the chart: the axes' ranges, the plotting rectangle, the legend's and the
// axes' room, and what lies at a pixel of it.
namespace chart {

namespace {

int roundInt(double value)
{
    return static_cast<int>(roundEven(value));
}

} // namespace

// ---- Layout ----

void ChartRenderer::automaticRange(
    const TCustomChartAxis &axis, double &minimum, double &maximum) const
{
    minimum = axis.Minimum();
    maximum = axis.Maximum();
    const bool wantMax = axis.Automatic() || axis.AutomaticMaximum();
    const bool wantMin = axis.Automatic() || axis.AutomaticMinimum();
    if (!wantMax && !wantMin)
        return;
    // Every series of this chart draws against the bottom and the left axis.
    const bool used = axis.side() == TCustomChartAxis::Side::Bottom
        || axis.side() == TCustomChartAxis::Side::Left;
    bool anyActive = false;
    for (const auto &s : series_)
        anyActive = anyActive || s->Active();
    double lo = 0, hi = 0;
    bool found = false;
    if (used) {
        for (const auto &s : series_) {
            if (anyActive && !s->Active())
                continue;
            // Points with a NaN or infinite value are left out of the range.
            double sMin, sMax;
            if (!s->placedExtremes(axis.Horizontal(), sMin, sMax))
                continue;
            if (!found) {
                lo = sMin;
                hi = sMax;
                found = true;
            } else {
                if (sMin < lo)
                    lo = sMin;
                if (sMax > hi)
                    hi = sMax;
            }
        }
    }
    if (axis.hasReservedRange()) {
        lo = found ? std::min(lo, axis.reservedMinimum()) : axis.reservedMinimum();
        hi = found ? std::max(hi, axis.reservedMaximum()) : axis.reservedMaximum();
    }
    if (wantMin)
        minimum = lo;
    if (wantMax)
        maximum = hi;
}

void ChartRenderer::computeAutomaticRange(TCustomChartAxis &axis) const
{
    double minimum, maximum;
    automaticRange(axis, minimum, maximum);
    axis.setStoredRange(minimum, maximum);
    axis.setWorkingRange(axis.Minimum(), axis.Maximum());
}

ChartRenderer::Layout ChartRenderer::computeLayout(const QRect &bounds, const QFontMetrics &fm)
{
    Layout L;
    L.bounds = bounds;
    const int bl = bounds.left(), bt = bounds.top();
    const int br = bl + bounds.width(), bb = bt + bounds.height();
    const int bw = br - bl, bh = bb - bt;
    L.left = bl + roundInt(bw * margins_[0] / 100.0);
    L.top = bt + roundInt(bh * margins_[1] / 100.0);
    L.right = br - roundInt(bw * margins_[2] / 100.0);
    L.bottom = bb - roundInt(bh * margins_[3] / 100.0);
    const int fontH = fm.height();

    for (const auto &s : series_)
        L.anyActive = L.anyActive || s->Active();

    // Legend, taking its room from the right.
    if (legend_.Visible && L.anyActive) {
        for (int i = 0; i < SeriesCount(); ++i)
            if (series_[static_cast<size_t>(i)]->Active()
                && series_[static_cast<size_t>(i)]->ShowInLegend())
                L.legendItems.push_back(i);
    }
    if (!L.legendItems.empty()) {
        L.legendShown = true;
        const int frame = legend_.FrameVisible ? legend_.FramePen.width() : 0;
        L.legTop = bt + roundInt(legend_.TopPos * bh / 100.0);
        int rows = 0;
        if (L.legTop < L.bottom && fontH > 0)
            rows = (L.bottom - L.legTop - 2 * frame) / fontH;
        L.legRows = std::clamp(rows, 0, static_cast<int>(L.legendItems.size()));
        L.legBottom = L.legTop + L.legRows * fontH + 2;
        int widest = 0;
        for (size_t item = 0; item < L.legendItems.size(); ++item)
            widest = std::max(widest, cachedText(legendText(L, item), fm).width);
        L.legRight = L.right - (legend_.FrameVisible ? frame + 1 : 0) - legend_.ShadowSize;
        L.legTextStart = L.legRight - widest - 2;
        // A line sample long enough to show the series' colour and dash pattern: at least
        // TChartLegend::SampleWidth pixels, whatever the share ColorWidth gives.
        L.legSymbolWidth = std::max(
            TChartLegend::SampleWidth, roundInt((widest + 10) * legend_.ColorWidth / 100.0));
        for (const int item : L.legendItems)
            L.legSymbolWidth = std::max(
                L.legSymbolWidth, series_[static_cast<size_t>(item)]->legendSymbolWidth());
        L.legLeft = L.legTextStart - 8 - L.legSymbolWidth;
        if (legend_.ResizeChart) {
            const int oldWidth = L.right - L.left;
            L.right = L.legLeft;
            L.right -= legend_.HorizMargin != 0 ? legend_.HorizMargin : roundInt(oldWidth * 0.03);
        }
    }

    // Axis ranges, then the room of each visible axis: bottom, top, left, right.
    for (auto &axis : axes_)
        computeAutomaticRange(*axis);
    auto spanAxis = [&](TCustomChartAxis &axis) {
        if (axis.Horizontal()) {
            const int w = L.right - L.left;
            axis.setPixelSpan(L.left + roundInt(w * axis.StartPosition() / 100.0),
                L.left + roundInt(w * axis.EndPosition() / 100.0));
        } else {
            const int h = L.bottom - L.top;
            axis.setPixelSpan(L.top + roundInt(h * axis.StartPosition() / 100.0),
                L.top + roundInt(h * axis.EndPosition() / 100.0));
        }
    };
    for (size_t i = 0; i < axes_.size(); ++i) {
        TCustomChartAxis &axis = *axes_[i];
        AxisLayout &A = L.axes[i];
        const bool used = !L.anyActive || axis.side() == TCustomChartAxis::Side::Bottom
            || axis.side() == TCustomChartAxis::Side::Left;
        A.visible = axisVisible_ && axis.Visible() && used;
        if (!A.visible)
            continue;
        const QString caption = axis.Title().Caption();
        if (!caption.isEmpty()) {
            const int angle = axis.Title().Angle();
            const bool along
                = axis.Horizontal() ? (angle == 0 || angle == 180) : (angle == 90 || angle == 270);
            A.titleRoom = axis.TitleSize() != 0 ? axis.TitleSize()
                : along                         ? fontH
                                                : cachedText(caption, fm).width;
        }
        if (axis.Labels()) {
            if (axis.LabelsSize() != 0) {
                A.labelRoom = axis.LabelsSize();
            } else if (axis.Horizontal()) {
                A.labelRoom = fontH;
            } else {
                spanAxis(axis);
                const double step = axis.calcLabelStep(fm);
                const int decimals = labelDecimals(step);
                const double lo = std::trunc(axis.workingMinimum() / step) * step;
                const double hi = std::trunc(axis.workingMaximum() / step) * step;
                A.labelRoom = std::max(cachedValue(lo, decimals, fm).width,
                                  cachedValue(hi, decimals, fm).width)
                    + cachedText(QStringLiteral(" "), fm).width;
            }
        }
        A.tickBand = std::max(axis.AxisPen().width() + axis.TickLength(), axis.MinorTickLength());
        const int room = A.titleRoom + A.labelRoom + A.tickBand;
        switch (axis.side()) {
        case TCustomChartAxis::Side::Bottom:
            L.bottom -= room;
            A.axisPos = L.bottom;
            A.labelPos = A.axisPos + A.tickBand;
            A.titlePos = A.labelPos + A.labelRoom;
            break;
        case TCustomChartAxis::Side::Top:
            L.top += room;
            A.axisPos = L.top;
            A.labelPos = A.axisPos - A.tickBand;
            A.titlePos = A.labelPos - A.labelRoom;
            break;
        case TCustomChartAxis::Side::Left:
            L.left += room;
            A.axisPos = L.left;
            A.labelPos = A.axisPos - A.tickBand;
            A.titlePos = A.labelPos - A.labelRoom - A.titleRoom;
            break;
        case TCustomChartAxis::Side::Right:
            L.right -= room;
            A.axisPos = L.right;
            A.labelPos = A.axisPos + A.tickBand;
            A.titlePos = A.labelPos + A.labelRoom;
            break;
        }
    }
    insetForEndLabels(L, bounds, fm);
    for (size_t i = 0; i < axes_.size(); ++i) {
        TCustomChartAxis &axis = *axes_[i];
        spanAxis(axis);
        AxisLayout &A = L.axes[i];
        if (!A.visible)
            continue;
        const int room = A.titleRoom + A.labelRoom + A.tickBand;
        const int s = axis.startPixel(), e = axis.endPixel();
        switch (axis.side()) {
        case TCustomChartAxis::Side::Bottom:
            A.hit = QRect(QPoint(s, A.axisPos), QPoint(e, A.axisPos + room));
            break;
        case TCustomChartAxis::Side::Top:
            A.hit = QRect(QPoint(s, A.axisPos - room), QPoint(e, A.axisPos));
            break;
        case TCustomChartAxis::Side::Left:
            A.hit = QRect(QPoint(A.axisPos - room, s), QPoint(A.axisPos, e));
            break;
        case TCustomChartAxis::Side::Right:
            A.hit = QRect(QPoint(A.axisPos, s), QPoint(A.axisPos + room, e));
            break;
        }
    }
    return L;
}

// A label that falls on an end of an axis is centred on that end. Where the room beyond
// that end is too small for the label's outer half (the chart may have no margins), the
// plotting rectangle moves in so that the label stays inside the bounds: half a text height
// at the top for the labels of the left and right axes, and half the highest label's width
// at the right for the bottom axis; a top or right axis moves in with it. The bottom and the
// left end need nothing: the bottom axis's room lies below the left axis's lowest label,
// and the left axis's room beside the bottom axis's first one.
void ChartRenderer::insetForEndLabels(Layout &L, const QRect &bounds, const QFontMetrics &fm)
{
    using Side = TCustomChartAxis::Side;
    auto labelled = [&](Side side) {
        return L.axes[static_cast<size_t>(side)].visible
            && axes_[static_cast<size_t>(side)]->Labels();
    };
    auto shift = [&](Side side, int by) {
        AxisLayout &A = L.axes[static_cast<size_t>(side)];
        A.axisPos += by;
        A.labelPos += by;
        A.titlePos += by;
    };
    // A left-axis label's top is its position less half the text height, rounded down.
    const int top = bounds.top() + fm.height() / 2;
    if ((labelled(Side::Left) || labelled(Side::Right)) && L.top < top) {
        shift(Side::Top, top - L.top);
        L.top = top;
    }
    if (labelled(Side::Bottom)) {
        TCustomChartAxis &axis = *axes_[static_cast<size_t>(Side::Bottom)];
        const int w = L.right - L.left;
        axis.setPixelSpan(L.left + roundInt(w * axis.StartPosition() / 100.0),
            L.left + roundInt(w * axis.EndPosition() / 100.0));
        const double step = axis.calcLabelStep(fm);
        const double highest = std::trunc(axis.workingMaximum() / step) * step;
        const int width = cachedValue(highest, labelDecimals(step), fm).width;
        // The label's left edge is its position less half its width, rounded down.
        const int right = bounds.left() + bounds.width() - (width - width / 2);
        if (L.right > right) {
            shift(Side::Right, right - L.right);
            L.right = right;
        }
    }
}

void ChartRenderer::ensureLayout()
{
    takeAppends();
    if (!dirty_)
        return;
    const QFont drawFont = fontFor(&screenDevice_);
    syncTextCache(drawFont, &screenDevice_);
    layout_ = computeLayout(ClientBounds(), QFontMetrics(drawFont, &screenDevice_));
    dirty_ = false;
}

QRect ChartRenderer::ChartRect() const
{
    return QRect(QPoint(layout_.left, layout_.top), QPoint(layout_.right, layout_.bottom));
}

QRect ChartRenderer::legendRect() const
{
    if (!layout_.legendShown)
        return {};
    return QRect(
        QPoint(layout_.legLeft, layout_.legTop), QPoint(layout_.legRight, layout_.legBottom));
}

bool ChartRenderer::inPlotRect(const QPoint &pos) const
{
    return pos.x() >= layout_.left && pos.x() <= layout_.right && pos.y() >= layout_.top
        && pos.y() <= layout_.bottom;
}

ChartRenderer::Part ChartRenderer::partAt(const QPoint &pos) const
{
    for (const AxisLayout &A : layout_.axes)
        if (A.visible && A.hit.contains(pos))
            return Part::Axis;
    if (layout_.anyActive && inPlotRect(pos))
        return Part::Plot;
    if (legendRect().contains(pos))
        return Part::Legend;
    return Part::None;
}

} // namespace chart
