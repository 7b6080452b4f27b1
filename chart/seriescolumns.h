#pragma once

#include "chart/chartaxis.h"

#include <QImage>
#include <QLine>
#include <QPen>
#include <QRect>
#include <QtGlobal>
#include <algorithm>
#include <limits>
#include <vector>

namespace chart {

class TChartSeries;

// A 32-bit image the chart paints on without scaling, rotation, other clipping or
// blending, so that single-colour vertical runs of pixels can be written directly.
struct RasterTarget
{
    QImage *image = nullptr;
    uchar *bits = nullptr; // the image's pixels
    qsizetype stride = 0; // bytes per line
    QPoint offset; // device pixel of logical (0, 0)
    QRect area; // the painter's clipping of the series: the plotting rectangle in the image
    QRect clip; // logical pixels that may be written: area, or the part of it being repainted
};

// The points of one pixel column of the horizontal axis, a run of consecutive indices, and
// what the fast line draws of them: the line in from the previous column ends at the first
// point, the one out to the next column leaves from the last, and a vertical line spans the
// lowest to the highest.
struct ColumnPoints
{
    int pixel = 0;
    int first = 0; // index of the column's first point
    int end = 0; // one past its last point
    double firstY = 0, lastY = 0, lowY = 0, highY = 0; // stored Y values
};

// The columns of a series' shown points under one horizontal mapping, kept from paint to
// paint: a repaint with the same mapping maps four values per column instead of reducing
// the points again. Points appended behind the last one extend them: the last column, which
// the new points may continue, is reduced again with them, so an append costs in proportion
// to the points added. A change of the points other than an append, of the mapping or of
// the shown range reduces them all anew.
class SeriesColumns
{
public:
    // The columns of points first..last of series, which has no NaN or infinite value. With
    // X values out of order a column holds each run of consecutive points on one pixel
    // column, and a pixel column may have several.
    const std::vector<ColumnPoints> &update(
        const TChartSeries &series, const PixelMapper &horizontal, int first, int last);
    void clear() { valid_ = false; }
    // Points reduced so far, counted once per reduction (a test's and the bench's measure
    // of the work an append costs).
    long long reducedPoints() const { return reducedPoints_; }

private:
    void reduce(const TChartSeries &series, int from, int last);

    std::vector<ColumnPoints> columns_;
    PixelMapper mapper_;
    double xMultiplier_ = 0;
    quint64 changes_ = 0;
    int first_ = -1, last_ = -1;
    bool valid_ = false;
    long long reducedPoints_ = 0;
};

// The rows Qt's raster engine fills for a solid line one pixel wide (square or round caps)
// from (x0, y0) to (x0 + 1, y1) or (x0 - 1, y1): one run in each of the two columns, empty
// when top > bottom. (A test holds them to the engine's for every height up to 2100.)
struct ColumnStep
{
    int fromTop, fromBottom; // in column x0
    int toTop, toBottom; // in the other column
};

// Whether the last row of a line n > 1 rows high whose lower end lies one column right of
// its upper end lands in that column. The engine steps such a line row by row in 16.16
// fixed point, its slope of 1/n column per row truncated to s = 65536 / n and its first row
// half a step in: the last row lies at ceil(s / 2) + n * s, short of the next column for
// some heights (190 is the first).
inline bool lastRowMoves(int n)
{
    const int s = 65536 / n;
    return (s + 1) / 2 + static_cast<long long>(n) * s >= 65536;
}

inline ColumnStep columnStep(int x0, int y0, int x1, int y1)
{
    const int n = std::abs(y1 - y0);
    // Not steeper than 45 degrees: one pixel at each end.
    if (n <= 1)
        return { y0, y0, y1, y1 };
    const bool startsOnTop = y0 < y1;
    const int top = std::min(y0, y1), bottom = std::max(y0, y1);
    const int topX = startsOnTop ? x0 : x1, bottomX = startsOnTop ? x1 : x0;
    // The runs in the column of the upper end and in that of the lower end.
    int topFirst, topLast, bottomFirst, bottomLast;
    if (bottomX > topX) {
        // The column of the upper end takes every row but the last, which moves over unless
        // the truncated slope falls short.
        topFirst = top;
        topLast = bottom - 1;
        bottomFirst = bottom;
        bottomLast = bottom;
        if (!lastRowMoves(n)) {
            topLast = bottom;
            bottomFirst = bottom + 1;
        }
    } else {
        // Stepped from the edge of the upper end's column, every row after the first lies
        // left of it.
        topFirst = top;
        topLast = top;
        bottomFirst = top + 1;
        bottomLast = bottom;
    }
    if (startsOnTop)
        return { topFirst, topLast, bottomFirst, bottomLast };
    return { bottomFirst, bottomLast, topFirst, topLast };
}

// Lines of the series as drawn from its columns: one vertical run of pixels per column, and
// the lines the painter draws.
class ColumnWalk
{
public:
    ColumnWalk(const PixelMapper &vertical, double yMultiplier, const QRect &area)
        : ym_(vertical)
        , yk_(yMultiplier)
        , area_(area)
    {
    }
    // Columns k0..k1 of columns and the lines between them. run(x, top, bottom) is called
    // once per column with pixels; painterLine(QLine) for every line the painter must draw:
    // between columns that are not neighbours, or with an end outside area, where the
    // engine clips. A line wholly beside area draws nothing and is left out.
    template <class Run, class Line>
    void walk(const std::vector<ColumnPoints> &columns, size_t k0, size_t k1, Run run,
        Line painterLine) const;

    int y(double stored) const { return ym_(stored * yk_); }
    // The line from column a's last point to column b's first.
    QLine join(const ColumnPoints &a, const ColumnPoints &b) const
    {
        return QLine(a.pixel, y(a.lastY), b.pixel, y(b.firstY));
    }
    // Whether the line's pixels are written with the columns': between neighbouring
    // columns, both ends inside area.
    bool direct(const QLine &line) const
    {
        return inArea(line.x1(), line.y1()) && inArea(line.x2(), line.y2())
            && (line.x2() - line.x1() == 1 || line.x1() - line.x2() == 1);
    }

    // Whether the line lies wholly above, below, left or right of area: it has no pixel in
    // it (a line's pixels lie between its ends).
    bool beside(const QLine &line) const
    {
        return std::max(line.y1(), line.y2()) < area_.top()
            || std::min(line.y1(), line.y2()) > area_.bottom()
            || std::max(line.x1(), line.x2()) < area_.left()
            || std::min(line.x1(), line.x2()) > area_.right();
    }

private:
    bool inArea(int x, int y) const
    {
        return x >= area_.left() && x <= area_.right() && y >= area_.top() && y <= area_.bottom();
    }

    PixelMapper ym_;
    double yk_;
    QRect area_;
};

template <class Run, class Line>
void ColumnWalk::walk(
    const std::vector<ColumnPoints> &columns, size_t k0, size_t k1, Run run, Line painterLine) const
{
    constexpr int none = std::numeric_limits<int>::max();
    int prevX = 0, prevY = 0, prevTop = none, prevBottom = -none;
    for (size_t k = k0; k <= k1; ++k) {
        const ColumnPoints &column = columns[k];
        const int x = column.pixel;
        const int first = y(column.firstY);
        int top = none, bottom = -none, last = first;
        if (column.end - column.first > 1) {
            last = y(column.lastY);
            const int p1 = y(column.lowY), p2 = y(column.highY);
            if (p1 != p2) {
                top = std::min(p1, p2);
                bottom = std::max(p1, p2);
            }
        }
        if (k != k0) {
            const QLine line(prevX, prevY, x, first);
            if (direct(line)) {
                const ColumnStep step = columnStep(prevX, prevY, x, first);
                if (step.fromTop <= step.fromBottom) {
                    prevTop = std::min(prevTop, step.fromTop);
                    prevBottom = std::max(prevBottom, step.fromBottom);
                }
                if (step.toTop <= step.toBottom) {
                    top = std::min(top, step.toTop);
                    bottom = std::max(bottom, step.toBottom);
                }
            } else if (!beside(line)) {
                painterLine(line);
            }
            if (prevTop <= prevBottom)
                run(prevX, prevTop, prevBottom);
        }
        prevX = x;
        prevY = last;
        prevTop = top;
        prevBottom = bottom;
    }
    if (prevTop <= prevBottom)
        run(prevX, prevTop, prevBottom);
}

// Whether the pixels of the pen's horizontal and vertical lines, and of its lines between
// neighbouring columns (columnStep), can be written directly: a solid opaque pen one pixel
// wide with square or round caps.
inline bool writableDirectly(const QPen &pen)
{
    return pen.style() == Qt::SolidLine && pen.width() <= 1 && pen.capStyle() != Qt::FlatCap
        && pen.brush().style() == Qt::SolidPattern && pen.color().alpha() == 255;
}

// Writes row y from column left to right in colour, within target.clip.
inline void writeRow(const RasterTarget &target, QRgb colour, int y, int left, int right)
{
    const QRect &clip = target.clip;
    if (y < clip.top() || y > clip.bottom())
        return;
    left = std::max(left, clip.left()) + target.offset.x();
    right = std::min(right, clip.right()) + target.offset.x();
    if (left > right)
        return;
    auto *p = reinterpret_cast<QRgb *>(
        target.bits + static_cast<qsizetype>(y + target.offset.y()) * target.stride);
    for (int x = left; x <= right; ++x)
        p[x] = colour;
}

// Writes rows top..bottom of column x in colour, within target.clip.
inline void writeRun(const RasterTarget &target, QRgb colour, int x, int top, int bottom)
{
    const QRect &clip = target.clip;
    if (x < clip.left() || x > clip.right())
        return;
    top = std::max(top, clip.top()) + target.offset.y();
    bottom = std::min(bottom, clip.bottom()) + target.offset.y();
    if (top > bottom)
        return;
    uchar *p = target.bits + static_cast<qsizetype>(top) * target.stride
        + static_cast<qsizetype>(x + target.offset.x()) * 4;
    for (int y = top; y <= bottom; ++y, p += target.stride)
        *reinterpret_cast<QRgb *>(p) = colour;
}

} // namespace chart
