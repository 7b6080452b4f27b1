#include "chart/chartrenderer.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
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

// ---- Painting ----

void ChartRenderer::paintChart(QPainter &painter, const QRect &bounds, bool printing)
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

void ChartRenderer::paintLayout(QPainter &painter, const Layout &L, const QRect &bounds,
    const QFont &font, const QFontMetrics &fm, bool printing, const QRect *part)
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
RasterTarget ChartRenderer::rasterTarget(QPainter &painter, const QRect &clip)
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

QString ChartRenderer::legendText(const Layout &layout, size_t item) const
{
    const TChartSeries &s = *series_[static_cast<size_t>(layout.legendItems[item])];
    if (!s.Title().isEmpty())
        return s.Title();
    if (!s.Name().isEmpty())
        return s.Name();
    // A series with neither title nor name; the channels' series always have a title.
    return QCoreApplication::translate("chart::TChart", "Серия %1").arg(item + 1);
}

QFont ChartRenderer::fontFor(const QPaintDevice *device) const
{
    QFont f = font_;
    const int deviceDpi = device->logicalDpiY();
    if (f.pixelSize() <= 0 && deviceDpi > 0 && deviceDpi != screenDpi_)
        f.setPointSizeF(f.pointSizeF() * screenDpi_ / deviceDpi);
    return f;
}

void ChartRenderer::syncTextCache(const QFont &font, const QPaintDevice *device)
{
    const int dpi = device->logicalDpiY();
    if (dpi != textDpi_ || font != textFont_ || texts_.size() > 4000) {
        texts_.clear();
        textDpi_ = dpi;
        textFont_ = font;
    }
    if (valueTexts_.size() > 4000)
        valueTexts_.clear();
}

const ChartRenderer::CachedText &ChartRenderer::cachedText(
    const QString &text, const QFontMetrics &fm)
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

QString ChartRenderer::valueText(double value, int decimals)
{
    const std::pair key(value, decimals);
    auto it = valueTexts_.find(key);
    if (it == valueTexts_.end())
        it = valueTexts_.insert(key, formatAxisValue(value, decimals));
    return *it;
}

const ChartRenderer::CachedText &ChartRenderer::cachedValue(
    double value, int decimals, const QFontMetrics &fm)
{
    return cachedText(valueText(value, decimals), fm);
}

void ChartRenderer::drawLegend(
    QPainter &painter, const Layout &L, const QFontMetrics &fm, bool printing)
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

void ChartRenderer::drawAxis(QPainter &painter, TCustomChartAxis &axis, const Layout &L,
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
void ChartRenderer::drawStraight(
    QPainter &painter, const QPen &pen, const std::vector<QLine> &lines)
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

void ChartRenderer::drawGrid(
    QPainter &painter, const QPen &pen, bool horizontal, int at, int from, int to)
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

} // namespace chart
