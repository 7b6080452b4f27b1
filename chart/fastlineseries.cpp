#include "chart/fastlineseries.h"

#include "chart/chartaxis.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPolygonF>
#include <QRectF>
#include <algorithm>
#include <cmath>

namespace chart {

namespace {

int defaultListCapacity = 0;

// Moves the entries at index and above one place up, after a point was inserted there.
template <class Map> void shiftUp(Map &map, int index)
{
    if (map.empty() || map.rbegin()->first < index)
        return;
    Map moved;
    for (auto &[key, value] : map)
        moved.emplace(key >= index ? key + 1 : key, std::move(value));
    map.swap(moved);
}

// Cuts the segment a-b to area (Liang-Barsky); false when nothing of it lies inside.
bool clipSegment(const QRectF &area, QPointF &a, QPointF &b)
{
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double t0 = 0, t1 = 1;
    const double p[4] = { -dx, dx, -dy, dy };
    const double q[4]
        = { a.x() - area.left(), area.right() - a.x(), a.y() - area.top(), area.bottom() - a.y() };
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0) {
            if (q[k] < 0)
                return false;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF from = a;
    if (t1 < 1)
        b = QPointF(from.x() + t1 * dx, from.y() + t1 * dy);
    if (t0 > 0)
        a = QPointF(from.x() + t0 * dx, from.y() + t0 * dy);
    return true;
}

} // namespace

int DefaultListCapacity()
{
    return defaultListCapacity;
}

void setDefaultListCapacity(int entries)
{
    defaultListCapacity = std::max(0, entries);
}

// ---- TChartValueList ----

void TChartValueList::setMultiplier(double multiplier)
{
    multiplier_ = multiplier;
    stale_ = true;
    totalsCount_ = std::numeric_limits<size_t>::max();
}

int TChartValueList::insertionIndex(double value) const
{
    const int n = Count();
    if (order_ == loNone || n == 0)
        return n;
    int i = n - 1;
    if (order_ == loAscending) {
        if (!(value < values_[static_cast<size_t>(i)]))
            return n;
        while (i >= 0 && values_[static_cast<size_t>(i)] > value)
            --i;
    } else {
        if (!(value > values_[static_cast<size_t>(i)]))
            return n;
        while (i >= 0 && values_[static_cast<size_t>(i)] < value)
            --i;
    }
    return i + 1;
}

void TChartValueList::insertAt(int index, double value)
{
    const auto at = static_cast<size_t>(index);
    const bool inOrder
        = (at == 0 || values_[at - 1] <= value) && (at == values_.size() || value <= values_[at]);
    if (ascending_ && !inOrder)
        leaveAscending();
    values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(at), value);
    // A value added anywhere only widens the extremes.
    if (!ascending_)
        account(value * multiplier_);
}

void TChartValueList::clear(int reserve)
{
    values_.clear();
    values_.reserve(static_cast<size_t>(std::max(0, reserve)));
    ascending_ = true;
    resetStatistics();
}

void TChartValueList::widen(double v) const
{
    if (!std::isfinite(v)) {
        ++nonFinite_;
        return;
    }
    minimum_ = std::min(minimum_, v);
    maximum_ = std::max(maximum_, v);
}

void TChartValueList::leaveAscending()
{
    refreshStatistics();
    ascending_ = false;
}

void TChartValueList::resetStatistics() const
{
    minimum_ = std::numeric_limits<double>::infinity();
    maximum_ = -std::numeric_limits<double>::infinity();
    nonFinite_ = 0;
    stale_ = false;
    endsCount_ = 0;
    total_ = totalAbs_ = 0;
    totalsCount_ = 0;
}

void TChartValueList::recomputeStatistics() const
{
    const size_t n = values_.size();
    const double k = multiplier_;
    minimum_ = std::numeric_limits<double>::infinity();
    maximum_ = -std::numeric_limits<double>::infinity();
    nonFinite_ = 0;
    stale_ = false;
    endsCount_ = n;
    // Stored values in ascending order times a finite non-zero multiplier read in order
    // (ascending or descending): NaN cannot be among them but for a single value, and
    // infinities only at the ends. The extremes are the first and the last finite values.
    if (ascending_ && std::isfinite(k) && k != 0) {
        size_t first = 0, last = n;
        while (first < last && !std::isfinite(values_[first] * k))
            ++first;
        while (last > first && !std::isfinite(values_[last - 1] * k))
            --last;
        nonFinite_ = first + (n - last);
        if (first < last) {
            const double a = values_[first] * k, b = values_[last - 1] * k;
            minimum_ = std::min(a, b);
            maximum_ = std::max(a, b);
        }
        return;
    }
    for (double stored : values_)
        account(stored * k);
}

void TChartValueList::refreshTotals() const
{
    if (totalsCount_ == values_.size())
        return;
    totalsCount_ = values_.size();
    double total = 0, totalAbs = 0;
    for (double stored : values_) {
        const double v = stored * multiplier_;
        if (!std::isfinite(v))
            continue;
        total += v;
        totalAbs += std::abs(v);
    }
    total_ = total;
    totalAbs_ = totalAbs;
}

double TChartValueList::Total() const
{
    refreshTotals();
    return total_;
}

double TChartValueList::TotalABS() const
{
    refreshTotals();
    return totalAbs_;
}

// ---- TChartSeries ----

TChartSeries::TChartSeries(const QString &name)
    : name_(name)
{
}

void TChartSeries::setTitle(const QString &title)
{
    if (title == title_)
        return;
    title_ = title;
    repaint();
}

void TChartSeries::setShowInLegend(bool value)
{
    if (value == showInLegend_)
        return;
    showInLegend_ = value;
    repaint();
}

void TChartSeries::setActive(bool value)
{
    if (value == active_)
        return;
    active_ = value;
    repaint();
}

void TChartSeries::setSeriesColor(const QColor &color)
{
    const bool differs = color != color_;
    color_ = color;
    colorChanged();
    if (differs)
        repaint();
}

void TChartSeries::setSeriesColor(unsigned int bgr)
{
    setSeriesColor(QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF));
}

unsigned int TChartSeries::SeriesColorBgr() const
{
    return static_cast<unsigned int>(color_.red()) | static_cast<unsigned int>(color_.green()) << 8
        | static_cast<unsigned int>(color_.blue()) << 16;
}

int TChartSeries::AddPoint(double x, double y, const QString &label, const QColor &color)
{
    const int index = xValues_.insertionIndex(x);
    xValues_.insertAt(index, x);
    yValues_.insertAt(index, y);
    if (index != xValues_.Count() - 1)
        ++changes_;
    shiftUp(colors_, index);
    shiftUp(labels_, index);
    if (color.isValid())
        colors_[index] = color;
    if (!label.isEmpty())
        labels_[index] = label;
    repaint();
    return index;
}

void TChartSeries::Clear()
{
    Clear(defaultListCapacity);
}

void TChartSeries::appendPoints(const double *x, const double *y, int count)
{
    for (int i = 0; i < count; ++i)
        AddPoint(x[i], y[i]);
}

void TChartSeries::Clear(int reserve)
{
    ++changes_;
    xValues_.clear(reserve);
    yValues_.clear(reserve);
    colors_.clear();
    labels_.clear();
    if (active_)
        repaint();
}

bool TChartSeries::placedExtremes(bool horizontal, double &lo, double &hi) const
{
    const TChartValueList &own = horizontal ? xValues_ : yValues_;
    const TChartValueList &other = horizontal ? yValues_ : xValues_;
    if (own.NonFiniteCount() == 0 && other.NonFiniteCount() == 0) {
        if (own.Count() == 0)
            return false;
        lo = own.MinValue();
        hi = own.MaxValue();
        return true;
    }
    // Points that cannot be placed are rare: scanned at each request.
    bool found = false;
    for (int i = 0; i < own.Count(); ++i) {
        const double v = own.Value(i);
        if (!std::isfinite(v) || !std::isfinite(other.Value(i)))
            continue;
        if (!found) {
            lo = hi = v;
            found = true;
        }
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    return found;
}

QColor TChartSeries::ValueColor(int index) const
{
    const auto it = colors_.find(index);
    return it != colors_.end() ? it->second : color_;
}

QString TChartSeries::Label(int index) const
{
    const auto it = labels_.find(index);
    return it != labels_.end() ? it->second : QString();
}

void TChartSeries::calcShownRange(const TCustomChartAxis &horizontal, int left, int right)
{
    firstShown_ = lastShown_ = -1;
    const int n = Count();
    if (n == 0)
        return;
    const double a = horizontal.PositionToValue(horizontal.Inverted() ? right : left);
    const double b = horizontal.PositionToValue(horizontal.Inverted() ? left : right);
    const double *xs = xValues_.storedData();
    const double k = xValues_.Multiplier();
    // Index of the first value at least v from index from on.
    auto firstAtLeast = [&](int from, double v) {
        if (xValues_.storedAscending() && k > 0) {
            const double *p = std::partition_point(
                xs + from, xs + n, [&](double stored) { return stored * k < v; });
            return static_cast<int>(p - xs);
        }
        int i = from;
        while (i < n && !(xs[i] * k >= v))
            ++i;
        return i;
    };
    const int first = firstAtLeast(0, a);
    if (first >= n)
        return;
    firstShown_ = first;
    if (!(xs[n - 1] * k > b))
        lastShown_ = n - 1;
    else
        lastShown_ = std::min(firstAtLeast(first, b), n - 1);
}

// ---- TFastLineSeries ----

TFastLineSeries::TFastLineSeries(const QString &name)
    : TChartSeries(name)
{
    linePen_ = QPen(SeriesColor(), 1, Qt::SolidLine);
}

void TFastLineSeries::colorChanged()
{
    linePen_.setColor(SeriesColor());
}

void TFastLineSeries::setLinePen(const QPen &pen)
{
    linePen_ = pen;
    setSeriesColor(pen.color());
    repaint();
}

void TFastLineSeries::setLinePenVisible(bool value)
{
    if (value == linePenVisible_)
        return;
    linePenVisible_ = value;
    repaint();
}

QPen TFastLineSeries::effectivePen(bool printing) const
{
    QPen pen = linePen_;
    if (printing && pen.width() == 1 && pen.style() != Qt::SolidLine)
        pen.setWidth(0);
    return pen;
}

void TFastLineSeries::collectLines(const TCustomChartAxis &horizontal,
    const TCustomChartAxis &vertical, std::vector<QLine> &lines) const
{
    std::vector<QLine> columns;
    collect(horizontal, vertical, lines, columns);
    lines.insert(lines.end(), columns.begin(), columns.end());
}

bool TFastLineSeries::columnar() const
{
    return XValues().NonFiniteCount() == 0 && YValues().NonFiniteCount() == 0;
}

bool TFastLineSeries::writesDirectly(const QPen &pen, const RasterTarget *target) const
{
    return target && target->image && writableDirectly(pen);
}

const std::vector<ColumnPoints> &TFastLineSeries::shownColumns(
    const TCustomChartAxis &horizontal) const
{
    return reduced_.update(*this, horizontal.mapper(), FirstShownIndex(), LastShownIndex());
}

bool TFastLineSeries::enteringLine(const TCustomChartAxis &horizontal,
    const TCustomChartAxis &vertical, const ColumnPoints &firstColumn, QLine &line) const
{
    const int first = FirstShownIndex();
    if (first <= 0)
        return false;
    const PixelMapper xm = horizontal.mapper(), ym = vertical.mapper();
    const double yk = YValues().Multiplier();
    line = QLine(xm(XValues().storedData()[first - 1] * XValues().Multiplier()),
        ym(YValues().storedData()[first - 1] * yk), firstColumn.pixel, ym(firstColumn.firstY * yk));
    return true;
}

std::pair<size_t, size_t> TFastLineSeries::columnsAround(
    const std::vector<ColumnPoints> &columns, int left, int right) const
{
    // The columns' pixels are monotone (X in ascending order), increasing or decreasing.
    const bool increasing = columns.front().pixel <= columns.back().pixel;
    size_t inFirst, inEnd; // the columns within left..right
    if (increasing) {
        inFirst = std::partition_point(columns.begin(), columns.end(), [&](const ColumnPoints &c) {
            return c.pixel < left;
        }) - columns.begin();
        inEnd = std::partition_point(columns.begin(), columns.end(), [&](const ColumnPoints &c) {
            return c.pixel <= right;
        }) - columns.begin();
    } else {
        inFirst = std::partition_point(columns.begin(), columns.end(), [&](const ColumnPoints &c) {
            return c.pixel > right;
        }) - columns.begin();
        inEnd = std::partition_point(columns.begin(), columns.end(), [&](const ColumnPoints &c) {
            return c.pixel >= left;
        }) - columns.begin();
    }
    // One more at each side: the lines into the part start there.
    return { inFirst > 0 ? inFirst - 1 : 0, std::min(inEnd, columns.size() - 1) };
}

void TFastLineSeries::collect(const TCustomChartAxis &horizontal, const TCustomChartAxis &vertical,
    std::vector<QLine> &lines, std::vector<QLine> &columns, QPolygon *path) const
{
    lines.clear();
    columns.clear();
    if (path)
        path->clear();
    auto pass = [path](int x, int y) {
        if (path && (path->isEmpty() || path->constLast() != QPoint(x, y)))
            path->append(QPoint(x, y));
    };
    const int first = FirstShownIndex();
    const int last = LastShownIndex();
    if (first < 0 || last < first || last >= Count())
        return;
    const PixelMapper xm = horizontal.mapper();
    const PixelMapper ym = vertical.mapper();
    if (!columnar()) {
        collectSkippingNonFinite(xm, ym, lines);
        if (path && !lines.empty()) {
            path->append(lines.front().p1()); // the lines form one chain
            for (const QLine &line : lines)
                path->append(line.p2());
        }
        return;
    }
    const std::vector<ColumnPoints> &shown = shownColumns(horizontal);
    const double yk = YValues().Multiplier();
    auto py = [&](double stored) { return ym(stored * yk); };
    int prevX = 0, prevY = 0;
    QLine entering;
    if (enteringLine(horizontal, vertical, shown.front(), entering)) {
        // The segment entering from the point before the shown range is always drawn.
        lines.push_back(entering);
        if (path)
            path->append(entering.p1());
    }
    for (size_t k = 0; k < shown.size(); ++k) {
        const ColumnPoints &column = shown[k];
        const int c = column.pixel;
        const int yFirst = py(column.firstY);
        if (k != 0)
            lines.emplace_back(prevX, prevY, c, yFirst);
        pass(c, yFirst);
        prevX = c;
        prevY = yFirst;
        if (column.end - column.first > 1) {
            const int p1 = py(column.lowY), p2 = py(column.highY);
            if (p1 != p2)
                columns.emplace_back(c, std::min(p1, p2), c, std::max(p1, p2));
            prevY = py(column.lastY);
            // Along the column: to both ends of its span, then to where the next line leaves.
            pass(c, p1);
            pass(c, p2);
            pass(c, prevY);
        }
    }
}

// The plain polyline over the points that can be placed: a point with a NaN or infinite
// value is left out, and the line joins its neighbours. One line per point that leaves the
// pixel of the last point drawn; recordings with such points are rare.
void TFastLineSeries::collectSkippingNonFinite(
    const PixelMapper &xm, const PixelMapper &ym, std::vector<QLine> &lines) const
{
    const double *xs = XValues().storedData();
    const double *ys = YValues().storedData();
    const double xk = XValues().Multiplier();
    const double yk = YValues().Multiplier();
    const int n = Count();
    auto finite = [&](int i) { return std::isfinite(xs[i] * xk) && std::isfinite(ys[i] * yk); };
    auto pixel = [&](int i) { return QPoint(xm(xs[i] * xk), ym(ys[i] * yk)); };
    int last = LastShownIndex();
    // The line continues to the first point beyond the right edge that can be placed.
    while (last + 1 < n && !finite(last))
        ++last;
    QPoint current;
    bool have = false;
    for (int j = FirstShownIndex() - 1; j >= 0 && !have; --j) {
        if (finite(j)) {
            current = pixel(j);
            have = true;
        }
    }
    bool entering = have; // the segment entering from the left is always drawn
    for (int i = FirstShownIndex(); i <= last; ++i) {
        if (!finite(i))
            continue;
        const QPoint p = pixel(i);
        if (!have) {
            current = p;
            have = true;
            continue;
        }
        if (p == current && !entering)
            continue;
        lines.emplace_back(current, p);
        current = p;
        entering = false;
    }
}

void TFastLineSeries::draw(QPainter &painter, const TCustomChartAxis &horizontal,
    const TCustomChartAxis &vertical, bool printing, const RasterTarget *raster)
{
    if (!linePenVisible_ || linePen_.style() == Qt::NoPen)
        return;
    const QPen pen = effectivePen(printing);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // A vector picture or a printer gets the same lines as one polyline, which a vector
    // editor shows as one curve and which keeps the picture small. A patterned pen draws one
    // polyline on any device: its dashes then run on along the line, where each of the short
    // lines of a column would start the pattern anew (and show as a solid line).
    const QPaintEngine *engine = painter.paintEngine();
    const bool rasterEngine = engine && engine->type() == QPaintEngine::Raster;
    if (!rasterEngine || pen.style() != Qt::SolidLine) {
        collect(horizontal, vertical, joins_, spans_, &path_);
        if (path_.size() < 2)
            return;
        if (rasterEngine || !painter.hasClipping()) {
            painter.drawPolyline(path_);
            return;
        }
        // Not every vector device clips (an SVG picture does not): the line is cut at the
        // clipping rectangle here, into one polyline per stretch inside it.
        const QRectF r = painter.clipBoundingRect();
        const QRectF area(r.left(), r.top(), r.width() - 1, r.height() - 1);
        QPolygonF piece;
        for (qsizetype i = 1; i < path_.size(); ++i) {
            QPointF a = path_[i - 1], b = path_[i];
            if (!clipSegment(area, a, b))
                continue;
            if (!piece.isEmpty() && piece.constLast() != a) {
                if (piece.size() > 1)
                    painter.drawPolyline(piece);
                piece.clear();
            }
            if (piece.isEmpty())
                piece.append(a);
            piece.append(b);
        }
        if (piece.size() > 1)
            painter.drawPolyline(piece);
        return;
    }
    if (columnar() && writesDirectly(pen, raster)) {
        drawColumns(painter, horizontal, vertical, *raster, pen.color().rgba());
        return;
    }
    collect(horizontal, vertical, joins_, spans_);
    if (!joins_.empty())
        painter.drawLines(joins_.data(), static_cast<int>(joins_.size()));
    if (spans_.empty())
        return;
    // Any solid opaque line one pixel wide (flat caps too) has its spans written from the
    // top to the bottom end.
    if (!raster || !raster->image || pen.style() != Qt::SolidLine || pen.width() > 1
        || pen.color().alpha() != 255) {
        painter.drawLines(spans_.data(), static_cast<int>(spans_.size()));
        return;
    }
    const QRgb colour = pen.color().rgba();
    for (const QLine &span : spans_)
        writeRun(*raster, colour, span.x1(), span.y1(), span.y2());
}

// Each column's pixels are one vertical run: its span from the lowest to the highest point,
// and the parts of the lines in and out that fall in it (the line in ends at the first
// point, the line out leaves from the last, both within the span). Written directly, a
// dense recording costs a fraction of the stroker's per-pixel work and no line per column.
void TFastLineSeries::drawColumns(QPainter &painter, const TCustomChartAxis &horizontal,
    const TCustomChartAxis &vertical, const RasterTarget &target, QRgb colour)
{
    const int first = FirstShownIndex(), last = LastShownIndex();
    if (first < 0 || last < first || last >= Count())
        return;
    const std::vector<ColumnPoints> &columns = shownColumns(horizontal);
    const int left = target.clip.left(), right = target.clip.right();
    size_t k0 = 0, k1 = columns.size() - 1;
    if (target.clip != target.area && XValues().storedAscending())
        std::tie(k0, k1) = columnsAround(columns, left, right);
    joins_.clear();
    // Only the lines across the part being painted: the chart widened it over each of them.
    auto line = [&](const QLine &l) {
        if (std::max(l.x1(), l.x2()) >= left && std::min(l.x1(), l.x2()) <= right)
            joins_.push_back(l);
    };
    QLine entering;
    if (k0 == 0 && enteringLine(horizontal, vertical, columns.front(), entering))
        line(entering);
    const ColumnWalk walk(vertical.mapper(), YValues().Multiplier(), target.area);
    walk.walk(
        columns, k0, k1,
        [&](int x, int top, int bottom) { writeRun(target, colour, x, top, bottom); }, line);
    if (!joins_.empty())
        painter.drawLines(joins_.data(), static_cast<int>(joins_.size()));
}

bool TFastLineSeries::widenOverLines(const TCustomChartAxis &horizontal,
    const TCustomChartAxis &vertical, const RasterTarget &target, int &left, int &right,
    bool &widened)
{
    widened = false;
    if (!linePenVisible_ || linePen_.style() == Qt::NoPen)
        return true;
    if (!columnar() || !XValues().storedAscending() || !writesDirectly(linePen_, &target))
        return false;
    const int first = FirstShownIndex(), last = LastShownIndex();
    if (first < 0 || last < first || last >= Count())
        return true;
    const std::vector<ColumnPoints> &columns = shownColumns(horizontal);
    const ColumnWalk walk(vertical.mapper(), YValues().Multiplier(), target.area);
    const QRect &area = target.area;
    const int from = left, to = right;
    QLine entering;
    if (enteringLine(horizontal, vertical, columns.front(), entering)) {
        const int a = std::min(entering.x1(), entering.x2());
        const int b = std::max(entering.x1(), entering.x2());
        if (b >= left && a <= right) {
            left = std::min(left, std::max(a, area.left()));
            right = std::max(right, std::min(b, area.right()));
        }
    }
    // The columns from left to right; the lines between neighbours go from the earlier
    // point to the later.
    const size_t n = columns.size();
    const bool increasing = columns.front().pixel <= columns.back().pixel;
    auto at = [&](size_t i) -> const ColumnPoints & { return columns[increasing ? i : n - 1 - i]; };
    auto painted = [&](size_t i) {
        const QLine line = increasing ? walk.join(at(i - 1), at(i)) : walk.join(at(i), at(i - 1));
        return !walk.direct(line) && !walk.beside(line);
    };
    auto firstFrom = [&](int pixel) {
        size_t lo = 0, hi = n;
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (at(mid).pixel < pixel)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    // Out over the right edge while the line across it is the painter's, then the left.
    for (size_t i = firstFrom(right + 1); i > 0 && i < n && painted(i); ++i) {
        right = std::max(right, std::min(at(i).pixel, area.right()));
        if (at(i).pixel >= area.right())
            break;
    }
    for (size_t i = firstFrom(left); i > 0 && i < n && painted(i); --i) {
        left = std::min(left, std::max(at(i - 1).pixel, area.left()));
        if (at(i - 1).pixel <= area.left())
            break;
    }
    widened = left != from || right != to;
    return true;
}

int TFastLineSeries::legendSymbolWidth() const
{
    if (!linePenVisible_ || linePen_.style() == Qt::SolidLine || linePen_.style() == Qt::NoPen)
        return 0;
    // The pattern is given in pen widths; a cosmetic pen of width 0 draws one pixel wide.
    double period = 0;
    for (const qreal length : linePen_.dashPattern())
        period += length;
    return static_cast<int>(std::ceil(2 * period * std::max(1.0, linePen_.widthF())));
}

void TFastLineSeries::drawLegendSymbol(
    QPainter &painter, int left, int top, int right, int bottom, bool printing)
{
    if (!linePenVisible_ || linePen_.style() == Qt::NoPen)
        return;
    painter.setPen(effectivePen(printing));
    const int y = (top + bottom) / 2;
    painter.drawLine(left, y, right, y);
}

} // namespace chart
