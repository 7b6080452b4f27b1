#include "chart/seriescolumns.h"

#include "chart/fastlineseries.h"

#include <algorithm>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace chart {

namespace {

// Smallest and largest of n > 0 stored values (none NaN). Four pairs of running extremes
// keep the processor's min and max units busy instead of waiting on one chain.
void minMax(const double *p, int n, double &lo, double &hi)
{
    int i = 0;
#if defined(__SSE2__)
    if (n >= 8) {
        __m128d mn0 = _mm_loadu_pd(p), mn1 = _mm_loadu_pd(p + 2), mn2 = _mm_loadu_pd(p + 4),
                mn3 = _mm_loadu_pd(p + 6);
        __m128d mx0 = mn0, mx1 = mn1, mx2 = mn2, mx3 = mn3;
        for (i = 8; i + 8 <= n; i += 8) {
            const __m128d v0 = _mm_loadu_pd(p + i), v1 = _mm_loadu_pd(p + i + 2),
                          v2 = _mm_loadu_pd(p + i + 4), v3 = _mm_loadu_pd(p + i + 6);
            mn0 = _mm_min_pd(mn0, v0);
            mx0 = _mm_max_pd(mx0, v0);
            mn1 = _mm_min_pd(mn1, v1);
            mx1 = _mm_max_pd(mx1, v1);
            mn2 = _mm_min_pd(mn2, v2);
            mx2 = _mm_max_pd(mx2, v2);
            mn3 = _mm_min_pd(mn3, v3);
            mx3 = _mm_max_pd(mx3, v3);
        }
        for (; i + 2 <= n; i += 2) {
            const __m128d v = _mm_loadu_pd(p + i);
            mn0 = _mm_min_pd(mn0, v);
            mx0 = _mm_max_pd(mx0, v);
        }
        const __m128d mn = _mm_min_pd(_mm_min_pd(mn0, mn1), _mm_min_pd(mn2, mn3));
        const __m128d mx = _mm_max_pd(_mm_max_pd(mx0, mx1), _mm_max_pd(mx2, mx3));
        lo = _mm_cvtsd_f64(_mm_min_sd(mn, _mm_unpackhi_pd(mn, mn)));
        hi = _mm_cvtsd_f64(_mm_max_sd(mx, _mm_unpackhi_pd(mx, mx)));
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

} // namespace

const std::vector<ColumnPoints> &SeriesColumns::update(
    const TChartSeries &series, const PixelMapper &horizontal, int first, int last)
{
    const double xk = series.XValues().Multiplier();
    const bool kept = valid_ && !columns_.empty() && first == first_ && last >= last_
        && series.changeCount() == changes_ && xk == xMultiplier_ && horizontal == mapper_;
    mapper_ = horizontal;
    xMultiplier_ = xk;
    changes_ = series.changeCount();
    first_ = first;
    valid_ = true;
    if (!kept) {
        columns_.clear();
        reduce(series, first, last);
    } else if (last > last_) {
        // The last column may go on with the new points.
        const int from = columns_.back().first;
        columns_.pop_back();
        reduce(series, from, last);
    }
    last_ = last;
    return columns_;
}

void SeriesColumns::reduce(const TChartSeries &series, int from, int last)
{
    const double *xs = series.XValues().storedData();
    const double *ys = series.YValues().storedData();
    const double xk = xMultiplier_;
    const PixelMapper xm = mapper_;
    auto px = [&](int i) { return xm(xs[i] * xk); };
    reducedPoints_ += last + 1 - from;

    // First index after a whose column differs from c (last + 1 when none does). The pixel
    // columns of X values in ascending order are monotone. The end is looked for by plain
    // comparisons with the column's far edge (half a pixel past its offset) from the length
    // of the previous column on, and the mapping of the points either side confirms it; near
    // an edge, where the rounding decides, the search gallops from that length and then
    // halves. Others are scanned.
    const bool monotone = series.XValues().storedAscending();
    // The comparisons need a mapping that moves with X; one of a zero range puts every
    // point on the centre.
    const bool increasing = xk * xm.scale > 0;
    const bool predictable = xm.range != 0 && xk * xm.scale != 0;
    auto offsetOf = [&](int c) {
        if (xm.horizontal)
            return xm.inverted ? xm.end - c : c - xm.start;
        return xm.inverted ? c - xm.start : xm.end - c;
    };
    auto gallop = [&](int a, int c, int hint) {
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

    auto columnEnd = [&](int a, int c, int hint) {
        if (!monotone) {
            int b = a + 1;
            while (b <= last && px(b) == c)
                ++b;
            return b;
        }
        if (!predictable)
            return gallop(a, c, hint);
        const double edge = static_cast<double>(offsetOf(c)) + (increasing ? 0.5 : -0.5);
        auto beyond = [&](int i) {
            const double q = (xs[i] * xk - xm.minimum) * xm.scale;
            return increasing ? q >= edge : q <= edge;
        };
        int end = std::min(a + std::max(hint, 1), last + 1);
        while (end - 1 > a && beyond(end - 1))
            --end;
        while (end <= last && !beyond(end))
            ++end;
        // Clear of the edge, the mapping rounds as the comparison says: it takes the same
        // product whenever that is farther than 1e-6 from a half pixel (PixelMapper).
        auto clear = [&](int i) {
            const double q = (xs[i] * xk - xm.minimum) * xm.scale;
            return std::abs(q - edge) > 1e-6 && std::abs(q) < 1073741824.0;
        };
        if ((end - 1 == a || clear(end - 1) || px(end - 1) == c)
            && (end > last || clear(end) || px(end) != c))
            return end;
        return gallop(a, c, hint);
    };

    int hint = columns_.empty() ? 1 : columns_.back().end - columns_.back().first;
    for (int a = from; a <= last;) {
        ColumnPoints column;
        column.pixel = px(a);
        column.first = a;
        column.end = columnEnd(a, column.pixel, hint);
        const int n = column.end - a;
        column.firstY = ys[a];
        column.lastY = ys[column.end - 1];
        if (n > 1)
            minMax(ys + a, n, column.lowY, column.highY);
        else
            column.lowY = column.highY = ys[a];
        columns_.push_back(column);
        hint = n;
        a = column.end;
    }
}

} // namespace chart
