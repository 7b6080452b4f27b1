#include "chart/fastlineseries.h"

#include "chart/chart.h"
#include "chart/chartaxis.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPolygonF>
#include <QRectF>
#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Smallest and largest of n > 0 stored values.
void minMax(const double *p, int n, double &lo, double &hi)
{
    int i = 0;
#if defined(__SSE2__)
    if (n >= 4) {
        __m128d mn = _mm_loadu_pd(p), mx = mn;
        for (i = 2; i + 2 <= n; i += 2) {
            const __m128d v = _mm_loadu_pd(p + i);
            mn = _mm_min_pd(mn, v);
            mx = _mm_max_pd(mx, v);
        }
        const __m128d mnHigh = _mm_unpackhi_pd(mn, mn), mxHigh = _mm_unpackhi_pd(mx, mx);
        lo = _mm_cvtsd_f64(_mm_min_sd(mn, mnHigh));
        hi = _mm_cvtsd_f64(_mm_max_sd(mx, mxHigh));
    } else
#endif
    {
        lo = hi = p[0];
        i = 1;
    }
    for (; i < n; ++i) {
        lo = p[i] < lo ? p[i] : lo;
        hi = p[i] > hi ? p[i] : hi;
    }
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

void TChartSeries::Clear(int reserve)
{
    xValues_.clear(reserve);
    yValues_.clear(reserve);
    colors_.clear();
    labels_.clear();
    if (active_ && chart_ && !chart_->destroying())
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
    const double *xs = XValues().storedData();
    const double *ys = YValues().storedData();
    const double xk = XValues().Multiplier();
    const double yk = YValues().Multiplier();
    auto px = [&](int i) { return xm(xs[i] * xk); };
    auto py = [&](int i) { return ym(ys[i] * yk); };
    if (XValues().NonFiniteCount() > 0 || YValues().NonFiniteCount() > 0) {
        collectSkippingNonFinite(xm, ym, lines);
        if (path && !lines.empty()) {
            path->append(lines.front().p1()); // the lines form one chain
            for (const QLine &line : lines)
                path->append(line.p2());
        }
        return;
    }
    // Stored X values in ascending order give monotone pixel columns, so the points of one
    // column are consecutive and the end of a column can be searched for.
    const bool monotone = XValues().storedAscending();

    // First index after a whose column differs from c (last + 1 when none does); the search
    // starts from the length of the previous column.
    auto columnEnd = [&](int a, int c, int hint) {
        if (!monotone) {
            int b = a + 1;
            while (b <= last && px(b) == c)
                ++b;
            return b;
        }
        int lo = a; // known to be in column c
        int hi; // known to be past it
        const int guess = a + std::max(hint, 1);
        if (guess > last || px(guess) != c) {
            hi = std::min(guess, last + 1);
            if (hi - 1 > lo && px(hi - 1) == c)
                return hi;
        } else {
            lo = guess;
            int step = std::max(hint, 1);
            while (lo + step <= last && px(lo + step) == c) {
                lo += step;
                step *= 2;
            }
            hi = std::min(lo + step, last + 1);
        }
        while (hi - lo > 1) {
            const int mid = lo + (hi - lo) / 2;
            if (px(mid) == c)
                lo = mid;
            else
                hi = mid;
        }
        return hi;
    };

    int prevX = 0, prevY = 0;
    if (first > 0) {
        // The segment entering from the point before the shown range is always drawn.
        prevX = px(first);
        prevY = py(first);
        lines.emplace_back(px(first - 1), py(first - 1), prevX, prevY);
        if (path)
            path->append(lines.back().p1());
    }
    int hint = 1;
    for (int a = first; a <= last;) {
        const int c = px(a);
        const int b = columnEnd(a, c, hint);
        const int yFirst = py(a);
        if (a != first)
            lines.emplace_back(prevX, prevY, c, yFirst);
        pass(c, yFirst);
        prevX = c;
        prevY = yFirst;
        if (b - a > 1) {
            double lo, hi;
            minMax(ys + a, b - a, lo, hi);
            const int p1 = ym(lo * yk), p2 = ym(hi * yk);
            if (p1 != p2)
                columns.emplace_back(c, std::min(p1, p2), c, std::max(p1, p2));
            prevY = py(b - 1);
            // Along the column: to both ends of its span, then to where the next line leaves.
            pass(c, p1);
            pass(c, p2);
            pass(c, prevY);
        }
        hint = b - a;
        a = b;
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
        collect(horizontal, vertical, joins_, columns_, &path_);
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
    collect(horizontal, vertical, joins_, columns_);
    if (!joins_.empty())
        painter.drawLines(joins_.data(), static_cast<int>(joins_.size()));
    if (columns_.empty())
        return;
    // A solid opaque line one pixel wide covers exactly the pixels from the top to the
    // bottom end of a vertical line: written directly, a dense recording's columns cost a
    // fraction of the stroker's per-pixel work.
    const bool direct = raster && raster->image && pen.style() == Qt::SolidLine && pen.width() <= 1
        && pen.color().alpha() == 255;
    if (!direct) {
        painter.drawLines(columns_.data(), static_cast<int>(columns_.size()));
        return;
    }
    QImage &image = *raster->image;
    const QRgb colour = pen.color().rgba();
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const QRect clip = raster->clip;
    for (const QLine &line : columns_) {
        const int x = line.x1();
        if (x < clip.left() || x > clip.right())
            continue;
        const int top = std::max(line.y1(), clip.top()) + raster->offset.y();
        const int bottom = std::min(line.y2(), clip.bottom()) + raster->offset.y();
        uchar *p = bits + static_cast<qsizetype>(top) * stride
            + static_cast<qsizetype>(x + raster->offset.x()) * 4;
        for (int y = top; y <= bottom; ++y, p += stride)
            *reinterpret_cast<QRgb *>(p) = colour;
    }
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
