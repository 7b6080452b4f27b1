#include "chart/chart.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

namespace chart {

namespace {

int roundInt(double value)
{
    return static_cast<int>(roundEven(value));
}

// Pen as drawn: while printing a thin pen that is not solid becomes the device's thinnest.
QPen devicePen(QPen pen, bool printing)
{
    if (printing && pen.width() == 1 && pen.style() != Qt::SolidLine)
        pen.setWidth(0);
    return pen;
}

} // namespace

// ---- Layout ----

void TChart::automaticRange(const TCustomChartAxis &axis, double &minimum, double &maximum) const
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

void TChart::computeAutomaticRange(TCustomChartAxis &axis) const
{
    double minimum, maximum;
    automaticRange(axis, minimum, maximum);
    axis.setStoredRange(minimum, maximum);
    axis.setWorkingRange(axis.Minimum(), axis.Maximum());
}

TChart::Layout TChart::computeLayout(const QRect &bounds, const QFontMetrics &fm)
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
void TChart::insetForEndLabels(Layout &L, const QRect &bounds, const QFontMetrics &fm)
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

void TChart::ensureLayout()
{
    takeAppends();
    if (!dirty_)
        return;
    const QFont drawFont = fontFor(this);
    syncTextCache(drawFont, this);
    layout_ = computeLayout(ClientBounds(), QFontMetrics(drawFont, this));
    dirty_ = false;
}

// ---- Painting ----

void TChart::paintChart(QPainter &painter, const QRect &bounds, bool printing)
{
    // Texts take the pixels they take on the screen whatever the device's resolution, so a
    // printer or a picture gets the screen's layout.
    const QFont drawFont = fontFor(painter.device());
    const QFontMetrics fm(drawFont, painter.device());
    syncTextCache(drawFont, painter.device());
    const Layout L = computeLayout(bounds, fm);
    paintLayout(painter, L, bounds, drawFont, fm, printing);
    if (!printing && bounds == ClientBounds()) {
        layout_ = L;
        dirty_ = false;
    }
}

void TChart::paintLayout(QPainter &painter, const Layout &L, const QRect &bounds, const QFont &font,
    const QFontMetrics &fm, bool printing, const QRect *part)
{
    painter.save();
    const bool hadClip = painter.hasClipping();
    if (part)
        painter.setClipRect(*part, hadClip ? Qt::IntersectClip : Qt::ReplaceClip);
    painter.setFont(font);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBackgroundMode(Qt::TransparentMode);
    if (!hadClip)
        direct_ = rasterTarget(painter, part ? *part : bounds);
    paintingPart_ = part ? *part : QRect();
    painter.fillRect(bounds, color_);

    const int shadow = legend_.ShadowSize + 2;
    if (L.legendShown
        && mayShow(QRect(QPoint(L.legLeft, L.legTop), QPoint(L.legRight, L.legBottom)),
            fm.height() + shadow))
        drawLegend(painter, L, fm, printing);

    // Back wall: the frame of the plotting rectangle, inside not filled.
    const QPen wall(QColor(Qt::black), 1);
    if (direct_.image && L.right > L.left && L.bottom > L.top)
        drawStraight(painter, wall,
            { QLine(L.left, L.top, L.right, L.top), QLine(L.left, L.bottom, L.right, L.bottom),
                QLine(L.left, L.top, L.left, L.bottom), QLine(L.right, L.top, L.right, L.bottom) });
    painter.setPen(wall);
    painter.setBrush(Qt::NoBrush);
    if (!direct_.image || L.right <= L.left || L.bottom <= L.top)
        painter.drawRect(QRect(L.left, L.top, L.right - L.left, L.bottom - L.top));

    for (size_t i = 0; i < axes_.size(); ++i)
        if (L.axes[i].visible)
            drawAxis(painter, *axes_[i], L, fm, printing);
    direct_ = RasterTarget();
    paintingPart_ = QRect();

    // The series are clipped to the plotting rectangle alone, also when a part is painted:
    // they then write only the part's columns, and the painter's lines across them lie
    // within it (paintAppended).
    const QRect clip(QPoint(L.left, L.top), QPoint(L.right, L.bottom));
    if (clipPoints_)
        painter.setClipRect(clip, hadClip ? Qt::IntersectClip : Qt::ReplaceClip);
    RasterTarget raster;
    if (clipPoints_ && !hadClip)
        raster = rasterTarget(painter, clip);
    if (part) {
        if (raster.image)
            raster.clip &= *part;
        else
            painter.setClipRect(*part, Qt::IntersectClip);
    }
    for (const auto &s : series_) {
        if (!s->Active()) {
            s->setShownIndices(-1, -1);
            continue;
        }
        s->calcShownRange(*axes_[0], L.left, L.right);
        s->draw(painter, *axes_[0], *axes_[2], printing, raster.image ? &raster : nullptr);
    }
    painter.restore();
}

// The painter's image when the series may write pixels into it directly: a 32-bit image,
// plain source-over painting, no antialiasing, a whole-pixel translation at most and no
// clipping but the plotting rectangle (the part of clip inside the image).
RasterTarget TChart::rasterTarget(QPainter &painter, const QRect &clip)
{
    RasterTarget target;
    QPaintEngine *engine = painter.paintEngine();
    QPaintDevice *device = painter.device();
    if (!engine || !device || engine->type() != QPaintEngine::Raster
        || device->devType() != QInternal::Image || !engine->systemClip().isEmpty()
        || painter.compositionMode() != QPainter::CompositionMode_SourceOver
        || painter.testRenderHint(QPainter::Antialiasing))
        return target;
    auto *image = static_cast<QImage *>(device);
    const QImage::Format format = image->format();
    if (format != QImage::Format_ARGB32_Premultiplied && format != QImage::Format_RGB32
        && format != QImage::Format_ARGB32)
        return target;
    const QTransform t = painter.deviceTransform();
    if (t.type() > QTransform::TxTranslate || t.dx() != std::floor(t.dx())
        || t.dy() != std::floor(t.dy()))
        return target;
    const QPoint offset(static_cast<int>(t.dx()), static_cast<int>(t.dy()));
    target.image = image;
    target.bits = image->bits();
    target.stride = image->bytesPerLine();
    target.offset = offset;
    target.area = clip.intersected(image->rect().translated(-offset));
    target.clip = target.area;
    return target;
}

QString TChart::legendText(const Layout &layout, size_t item) const
{
    const TChartSeries &s = *series_[static_cast<size_t>(layout.legendItems[item])];
    if (!s.Title().isEmpty())
        return s.Title();
    if (!s.Name().isEmpty())
        return s.Name();
    // A series with neither title nor name; the channels' series always have a title.
    return QCoreApplication::translate("chart::TChart", "Серия %1").arg(item + 1);
}

QFont TChart::fontFor(const QPaintDevice *device) const
{
    QFont f = font();
    const int screenDpi = logicalDpiY();
    const int deviceDpi = device ? device->logicalDpiY() : screenDpi;
    if (f.pixelSize() <= 0 && deviceDpi > 0 && deviceDpi != screenDpi)
        f.setPointSizeF(f.pointSizeF() * screenDpi / deviceDpi);
    return f;
}

void TChart::syncTextCache(const QFont &font, const QPaintDevice *device)
{
    const int dpi = device ? device->logicalDpiY() : 0;
    if (dpi != textDpi_ || font != textFont_ || texts_.size() > 4000) {
        texts_.clear();
        textDpi_ = dpi;
        textFont_ = font;
    }
    if (valueTexts_.size() > 4000)
        valueTexts_.clear();
}

const TChart::CachedText &TChart::cachedText(const QString &text, const QFontMetrics &fm)
{
    auto it = texts_.find(text);
    if (it == texts_.end()) {
        CachedText cached;
        cached.width = fm.horizontalAdvance(text);
        cached.staticText = QStaticText(text);
        cached.staticText.setTextFormat(Qt::PlainText);
        cached.staticText.setPerformanceHint(QStaticText::AggressiveCaching);
        it = texts_.insert(text, cached);
    }
    return *it;
}

QString TChart::valueText(double value, int decimals)
{
    const std::pair key(value, decimals);
    auto it = valueTexts_.find(key);
    if (it == valueTexts_.end())
        it = valueTexts_.insert(key, formatAxisValue(value, decimals));
    return *it;
}

const TChart::CachedText &TChart::cachedValue(double value, int decimals, const QFontMetrics &fm)
{
    return cachedText(valueText(value, decimals), fm);
}

void TChart::drawLegend(QPainter &painter, const Layout &L, const QFontMetrics &fm, bool printing)
{
    const int frame = legend_.FrameVisible ? legend_.FramePen.width() : 0;
    const int extra = legend_.ShadowSize + frame + (frame - 1) / 2;
    if (legend_.ShadowSize > 0)
        painter.fillRect(
            QRect(QPoint(L.legLeft + legend_.ShadowSize, L.legTop + legend_.ShadowSize),
                QPoint(L.legRight + extra - 1, L.legBottom + extra - 1)),
            legend_.ShadowColor);
    painter.setBrush(legend_.Color);
    if (legend_.FrameVisible)
        painter.setPen(devicePen(legend_.FramePen, printing));
    else
        painter.setPen(Qt::NoPen);
    painter.drawRect(QRect(L.legLeft, L.legTop, L.legRight - L.legLeft + frame - 1,
        L.legBottom - L.legTop + frame - 1));
    painter.setBrush(Qt::NoBrush);
    const int fontH = fm.height();
    for (int r = 0; r < L.legRows; ++r) {
        TChartSeries &s = *series_[static_cast<size_t>(L.legendItems[static_cast<size_t>(r)])];
        const int rowTop = L.legTop + 1 + r * fontH;
        const QString text = legendText(L, static_cast<size_t>(r));
        QColor textColor = legend_.FontColor;
        if (printing && textColor == Qt::white)
            textColor = Qt::black;
        painter.setPen(textColor);
        painter.drawStaticText(QPoint(L.legTextStart, rowTop), cachedText(text, fm).staticText);
        s.drawLegendSymbol(painter, L.legTextStart - 4 - L.legSymbolWidth, rowTop + 2,
            L.legTextStart - 4, rowTop + fontH - 2, printing);
    }
}

void TChart::drawAxis(QPainter &painter, TCustomChartAxis &axis, const Layout &L,
    const QFontMetrics &fm, bool printing)
{
    const AxisLayout &A = L.axes[static_cast<size_t>(axis.side())];
    const bool horizontal = axis.Horizontal();
    const int start = axis.startPixel(), end = axis.endPixel();
    const int fontH = fm.height();
    const int outward = (axis.side() == TCustomChartAxis::Side::Bottom
                            || axis.side() == TCustomChartAxis::Side::Right)
        ? 1
        : -1;

    // Labels, from the top of the range downwards; a major tick and a grid line go with
    // each. Nothing is drawn past the ends of the axis.
    std::vector<int> ticks;
    if (axis.Labels()) {
        const double step = axis.calcLabelStep(fm);
        const int decimals = labelDecimals(step);
        painter.setPen(QColor(Qt::black));
        for (double value : axis.labelValues(step)) {
            const int pos = axis.ValueToPosition(value);
            if (pos < std::min(start, end) || pos > std::max(start, end)
                || (!axis.LabelsOnAxis() && (pos == start || pos == end)))
                continue;
            ticks.push_back(pos);
            const CachedText &text = cachedValue(value, decimals, fm);
            const int w = text.width;
            int x = 0, top = 0;
            switch (axis.side()) {
            case TCustomChartAxis::Side::Bottom:
                x = pos - w / 2;
                top = A.labelPos;
                break;
            case TCustomChartAxis::Side::Top:
                x = pos - w / 2;
                top = A.labelPos - fontH;
                break;
            case TCustomChartAxis::Side::Left:
                x = A.labelPos - w;
                top = pos - fontH / 2;
                break;
            case TCustomChartAxis::Side::Right:
                x = A.labelPos;
                top = pos - fontH / 2;
                break;
            }
            // A label at an end of a scrolled axis is moved inwards rather than cut by the
            // chart's edge.
            if (horizontal)
                x = std::clamp(
                    x, L.bounds.left(), std::max(L.bounds.left(), L.bounds.right() + 1 - w));
            else
                top = std::clamp(
                    top, L.bounds.top(), std::max(L.bounds.top(), L.bounds.bottom() + 1 - fontH));
            if (mayShow(QRect(x, top, w, fontH), fontH))
                painter.drawStaticText(QPoint(x, top), text.staticText);
        }
    }

    // Axis line along the plotting rectangle's edge.
    drawStraight(painter, devicePen(axis.AxisPen(), printing),
        { horizontal ? QLine(start, A.axisPos, end, A.axisPos)
                     : QLine(A.axisPos, start, A.axisPos, end) });

    std::vector<QLine> tickLines;
    auto tick = [&](int pos, int length) {
        const int from = A.axisPos + outward;
        const int to = A.axisPos + outward * length;
        if (horizontal)
            tickLines.emplace_back(pos, from, pos, to);
        else
            tickLines.emplace_back(from, pos, to, pos);
    };
    for (int pos : ticks)
        tick(pos, axis.TickLength());

    // Minor ticks between the major ones, and beyond the first and the last.
    const int count = axis.MinorTickCount();
    auto minor = [&](int pos) {
        if (pos > start && pos < end)
            tick(pos, axis.MinorTickLength());
    };
    for (size_t i = 0; i + 1 < ticks.size(); ++i) {
        const int spacing = ticks[i] - ticks[i + 1];
        for (int j = 1; j <= count; ++j)
            minor(ticks[i] - roundInt(double(j) * spacing / (count + 1)));
    }
    if (ticks.size() >= 2) {
        const int spacing = ticks[0] - ticks[1];
        for (int j = 1; j <= count; ++j) {
            minor(ticks.front() + roundInt(double(j) * spacing / (count + 1)));
            minor(ticks.back() - roundInt(double(j) * spacing / (count + 1)));
        }
    }
    drawStraight(painter, devicePen(axis.Ticks(), printing), tickLines);

    // Dotted grid across the plotting rectangle at each label.
    if (axis.GridVisible()) {
        const QPen pen = devicePen(axis.Grid(), printing);
        painter.setBrush(Qt::NoBrush);
        for (int pos : ticks) {
            if (horizontal)
                drawGrid(painter, pen, false, pos, L.top, L.bottom);
            else
                drawGrid(painter, pen, true, pos, L.left, L.right);
        }
    }

    // Title, centred on the axis; the left one reads from bottom to top.
    const QString caption = axis.Title().Caption();
    if (!caption.isEmpty()) {
        painter.setPen(QColor(Qt::black));
        const CachedText &title = cachedText(caption, fm);
        const int w = title.width;
        const int centre = axis.centrePixel();
        painter.save();
        switch (axis.side()) {
        case TCustomChartAxis::Side::Bottom:
            painter.drawStaticText(QPoint(centre - w / 2, A.titlePos), title.staticText);
            break;
        case TCustomChartAxis::Side::Top:
            painter.drawStaticText(QPoint(centre - w / 2, A.titlePos - fontH), title.staticText);
            break;
        case TCustomChartAxis::Side::Left:
            painter.translate(A.titlePos, centre + w / 2);
            painter.rotate(-axis.Title().Angle());
            painter.drawStaticText(QPoint(0, 0), title.staticText);
            break;
        case TCustomChartAxis::Side::Right:
            painter.translate(A.titlePos + A.titleRoom, centre - w / 2);
            painter.rotate(360 - axis.Title().Angle());
            painter.drawStaticText(QPoint(0, 0), title.staticText);
            break;
        }
        painter.restore();
    }
}

// One grid line from..to at at. A dotted line on a raster device without scaling is copied
// from a prepared strip with the same dots (one on, two off from the start), which costs a
// fraction of stroking the dash pattern pixel by pixel.
void TChart::drawStraight(QPainter &painter, const QPen &pen, const std::vector<QLine> &lines)
{
    if (!direct_.image || !writableDirectly(pen)) {
        painter.setPen(pen);
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        return;
    }
    // One pixel wide, such a line covers exactly the pixels from one end to the other.
    const QRgb colour = pen.color().rgba();
    for (const QLine &line : lines) {
        if (line.x1() == line.x2() && line.y1() != line.y2()) {
            writeRun(direct_, colour, line.x1(), std::min(line.y1(), line.y2()),
                std::max(line.y1(), line.y2()));
        } else if (line.y1() == line.y2() && line.x1() != line.x2()) {
            writeRow(direct_, colour, line.y1(), std::min(line.x1(), line.x2()),
                std::max(line.x1(), line.x2()));
        } else {
            painter.setPen(pen);
            painter.drawLine(line);
        }
    }
}

void TChart::drawGrid(QPainter &painter, const QPen &pen, bool horizontal, int at, int from, int to)
{
    if (direct_.image && pen.style() == Qt::DotLine && pen.width() <= 1 && to >= from
        && pen.color().alpha() == 255) {
        // The strip's dots written where it would put them: every third pixel from `from`.
        const QRect &clip = direct_.clip;
        const int lo = horizontal ? clip.left() : clip.top();
        const int hi = std::min(to, horizontal ? clip.right() : clip.bottom());
        if (at < (horizontal ? clip.top() : clip.left())
            || at > (horizontal ? clip.bottom() : clip.right()))
            return;
        int i = from < lo ? from + (lo - from + 2) / 3 * 3 : from;
        const qsizetype step = horizontal ? 4 : direct_.stride;
        uchar *p = direct_.bits + static_cast<qsizetype>(horizontal ? at : i) * direct_.stride
            + static_cast<qsizetype>(horizontal ? i : at) * 4
            + static_cast<qsizetype>(direct_.offset.y()) * direct_.stride
            + static_cast<qsizetype>(direct_.offset.x()) * 4;
        const QRgb dot = pen.color().rgba();
        for (; i <= hi; i += 3, p += 3 * step)
            *reinterpret_cast<QRgb *>(p) = dot;
        return;
    }
    const QPaintEngine *engine = painter.paintEngine();
    const bool raster = engine && engine->type() == QPaintEngine::Raster
        && painter.transform().type() <= QTransform::TxTranslate;
    if (!raster || pen.style() != Qt::DotLine || pen.width() > 1 || to < from) {
        painter.setPen(pen);
        if (horizontal)
            painter.drawLine(from, at, to, at);
        else
            painter.drawLine(at, from, at, to);
        return;
    }
    const int length = to - from + 1;
    QImage &strip = gridStrip_[horizontal ? 0 : 1];
    const int have = horizontal ? strip.width() : strip.height();
    if (have < length || gridStripColour_ != pen.color()) {
        if (gridStripColour_ != pen.color()) {
            gridStrip_[0] = gridStrip_[1] = QImage();
            gridStripColour_ = pen.color();
        }
        const int size = std::max(length, 2048);
        strip = QImage(
            horizontal ? size : 1, horizontal ? 1 : size, QImage::Format_ARGB32_Premultiplied);
        strip.fill(Qt::transparent);
        const QRgb dot = pen.color().rgba();
        for (int i = 0; i < size; i += 3) {
            if (horizontal)
                strip.setPixel(i, 0, dot);
            else
                strip.setPixel(0, i, dot);
        }
    }
    if (horizontal)
        painter.drawImage(QPoint(from, at), strip, QRect(0, 0, length, 1));
    else
        painter.drawImage(QPoint(at, from), strip, QRect(0, 0, 1, length));
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

TChart::Snapshot TChart::snapshot() const
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

void TChart::restore(const Snapshot &s)
{
    for (size_t i = 0; i < axes_.size(); ++i)
        axes_[i]->restoreWorkingState(s.axes[i]);
    for (size_t i = 0; i < series_.size() && i < s.shown.size(); ++i)
        series_[i]->setShownIndices(s.shown[i].first, s.shown[i].second);
    layout_ = s.layout;
    dirty_ = s.dirty;
}

QByteArray TChart::RenderMetafile(bool enhanced, const QRect &rect)
{
    Q_UNUSED(enhanced); // one vector format serves both requests
    const Snapshot saved = snapshot();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    const QSize size(std::max(1, rect.width() - 1), std::max(1, rect.height() - 1));
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(objectName());
    // Laid out at the screen's resolution, texts take the room they take on the screen.
    generator.setResolution(logicalDpiY());
    {
        QPainter painter(&generator);
        painter.translate(-rect.topLeft());
        paintChart(painter, rect, false);
    }
    restore(saved);
    return bytes;
}

void TChart::PrintInRect(QPainter &painter, const QRect &rect)
{
    PrintInRect(painter, rect, ClientBounds().size());
}

void TChart::PrintInRect(QPainter &painter, const QRect &rect, const QSize &layout)
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
