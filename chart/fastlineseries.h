#pragma once

#include "chart/seriescolumns.h"

#include <QColor>
#include <QImage>
#include <QLine>
#include <QPen>
#include <QPolygon>
#include <QString>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

class QPainter;

namespace chart {

class TCustomChartAxis;

// Entries reserved in every value list when a series is cleared; one setting for the whole
// component (the window sets it at start-up).
int DefaultListCapacity();
void setDefaultListCapacity(int entries);

enum TChartListOrder { loNone, loAscending, loDescending };

// One list of point values (X or Y). Values are stored as given; every read value is the
// stored value times Multiplier.
class TChartValueList
{
public:
    TChartValueList(const QString &name, TChartListOrder order)
        : name_(name)
        , order_(order)
    {
    }

    QString Name() const { return name_; }
    TChartListOrder Order() const { return order_; }
    void setOrder(TChartListOrder order) { order_ = order; }
    double Multiplier() const { return multiplier_; }
    void setMultiplier(double multiplier);

    int Count() const { return static_cast<int>(values_.size()); }
    double Value(int index) const { return values_[static_cast<size_t>(index)] * multiplier_; }
    double operator[](int index) const { return Value(index); }
    const double *storedData() const { return values_.data(); }
    size_t capacity() const { return values_.capacity(); }
    // True while the stored values are known to be in ascending order.
    bool storedAscending() const { return ascending_; }

    // Statistics of the read values; 0 with no values. NaN and infinite values are left out
    // of them (a point that cannot be placed). They are ready whenever asked, so that a chart
    // laid out after a fill costs no pass over its values: the extremes of values in
    // ascending order are at the ends, and once a value breaks the order the extremes and
    // the count of NaN and infinite values follow every added value. The totals, which no
    // paint needs, are summed on request when values were added. A new Multiplier recomputes
    // them all at the next request.
    double MinValue() const
    {
        refreshStatistics();
        return nonFinite_ < values_.size() ? minimum_ : 0;
    }
    double MaxValue() const
    {
        refreshStatistics();
        return nonFinite_ < values_.size() ? maximum_ : 0;
    }
    double Total() const;
    double TotalABS() const;
    // Number of NaN and infinite values.
    int NonFiniteCount() const
    {
        refreshStatistics();
        return static_cast<int>(nonFinite_);
    }

    // Index at which Order places the stored value.
    int insertionIndex(double value) const;
    void insertAt(int index, double value);
    // True when Order puts the value at the end: one comparison with the last value.
    bool appends(double value) const
    {
        if (order_ == loNone || values_.empty())
            return true;
        return order_ == loAscending ? !(value < values_.back()) : !(value > values_.back());
    }
    void append(double value)
    {
        // Both branches are predicted: X values keep their order, and Y values, which arrive
        // in any order, leave it within the first few points.
        if (ascending_ && !values_.empty() && !(values_.back() <= value))
            leaveAscending();
        values_.push_back(value);
        if (!ascending_)
            account(value * multiplier_);
    }
    void clear(int reserve);

private:
    // Takes one added read value into the extremes and the count of NaN and infinite values.
    // A finite value within the extremes costs two comparisons; all else (a new extreme,
    // NaN, infinity, the first value) is rare and goes out of line.
    void account(double v) const
    {
        if (!(v >= minimum_ && v <= maximum_)) [[unlikely]]
            widen(v);
    }
    void widen(double v) const;
    // Makes the extremes and the count hold for the values so far before the order breaks.
    void leaveAscending();
    void resetStatistics() const;
    void refreshStatistics() const
    {
        if (ascending_ ? endsCount_ != values_.size() || stale_ : stale_)
            recomputeStatistics();
    }
    void recomputeStatistics() const;
    void refreshTotals() const;

    QString name_;
    TChartListOrder order_;
    double multiplier_ = 1.0;
    std::vector<double> values_;
    bool ascending_ = true;
    // Extremes of the finite read values: +inf and -inf while there is none.
    mutable double minimum_ = std::numeric_limits<double>::infinity();
    mutable double maximum_ = -std::numeric_limits<double>::infinity();
    mutable size_t nonFinite_ = 0;
    mutable bool stale_ = false; // the extremes and the count no longer hold (new Multiplier)
    // While the values ascend: the number of values the extremes were taken at the ends of.
    mutable size_t endsCount_ = 0;
    // Number of values the totals were summed over; any other count means they are stale.
    mutable size_t totalsCount_ = 0;
    mutable double total_ = 0, totalAbs_ = 0;
};

class TChartSeries
{
public:
    explicit TChartSeries(const QString &name);
    virtual ~TChartSeries() = default;
    TChartSeries(const TChartSeries &) = delete;
    TChartSeries &operator=(const TChartSeries &) = delete;

    QString Name() const { return name_; }
    QString Title() const { return title_; }
    void setTitle(const QString &title);
    bool ShowInLegend() const { return showInLegend_; }
    void setShowInLegend(bool value);

    bool Active() const { return active_; }
    void setActive(bool value);

    QColor SeriesColor() const { return color_; }
    void setSeriesColor(const QColor &color);
    // Colour given as a 0x00BBGGRR value.
    void setSeriesColor(unsigned int bgr);
    unsigned int SeriesColorBgr() const;

    TChartValueList &XValues() { return xValues_; }
    const TChartValueList &XValues() const { return xValues_; }
    TChartValueList &YValues() { return yValues_; }
    const TChartValueList &YValues() const { return yValues_; }

    // Adds a point where the X list's order places it; the Y value, colour and label go to
    // the same index. Returns that index.
    int AddPoint(double x, double y, const QString &label, const QColor &color = {});
    int AddPoint(double x, double y)
    {
        if (!xValues_.appends(x))
            return AddPoint(x, y, QString());
        xValues_.append(x);
        yValues_.append(y);
        if (notify_)
            notify_->appended();
        return xValues_.Count() - 1;
    }
    // Adds count points in turn (as AddPoint): a block of a recording as it arrives. Points
    // in X order behind the last one are appended, and the chart then repaints only the
    // pixel columns they fall in, as long as its axes keep their ranges (the X range of the
    // whole recording set beforehand, see TCustomChartAxis::setReservedRange).
    void appendPoints(const double *x, const double *y, int count);
    // Counts the changes of the points other than appends behind the last one (inserts,
    // clearing): a kept reduction of the points holds while it stays.
    quint64 changeCount() const { return changes_; }
    // Removes every point; each value list keeps room for DefaultListCapacity() entries.
    void Clear();
    // The same with room for `reserve` entries per list.
    void Clear(int reserve);
    int Count() const { return xValues_.Count(); }
    double XValue(int index) const { return xValues_.Value(index); }
    double YValue(int index) const { return yValues_.Value(index); }
    // Point colour (the series colour unless one was given) and label of point index.
    QColor ValueColor(int index) const;
    QString Label(int index) const;
    // Number of points with their own colour or label (kept apart from the values).
    size_t sparseEntries() const { return colors_.size() + labels_.size(); }

    double MinXValue() const { return xValues_.MinValue(); }
    double MaxXValue() const { return xValues_.MaxValue(); }
    double MinYValue() const { return yValues_.MinValue(); }
    double MaxYValue() const { return yValues_.MaxValue(); }

    // Smallest and largest X (horizontal) or Y value of the points that can be placed, those
    // with neither value NaN nor infinite: the series' share of an automatic axis range.
    // False when there is no such point.
    bool placedExtremes(bool horizontal, double &lo, double &hi) const;

    int FirstShownIndex() const { return firstShown_; }
    int LastShownIndex() const { return lastShown_; }
    void setShownIndices(int first, int last)
    {
        firstShown_ = first;
        lastShown_ = last;
    }
    // Computes FirstShownIndex and LastShownIndex for the horizontal axis and the plotting
    // rectangle's left and right edges.
    void calcShownRange(const TCustomChartAxis &horizontal, int left, int right);

    virtual void draw(QPainter &painter, const TCustomChartAxis &horizontal,
        const TCustomChartAxis &vertical, bool printing, const RasterTarget *raster = nullptr)
        = 0;
    virtual void drawLegendSymbol(
        QPainter &painter, int left, int top, int right, int bottom, bool printing)
        = 0;
    // Whether a repaint of the pixel columns left..right of target's area alone can draw
    // this series there as a whole paint does: false when it cannot. Widens left..right over
    // every line the painter draws across them (the engine's clipping of a line at the edges
    // of the part could move its pixels), and sets widened when it did. The shown range is
    // that of the last calcShownRange.
    virtual bool widenOverLines(const TCustomChartAxis &horizontal,
        const TCustomChartAxis &vertical, const RasterTarget &target, int &left, int &right,
        bool &widened)
    {
        Q_UNUSED(horizontal);
        Q_UNUSED(vertical);
        Q_UNUSED(target);
        Q_UNUSED(left);
        Q_UNUSED(right);
        widened = false;
        return false;
    }
    // The least width in pixels of a legend symbol that shows the series as drawn; the
    // legend's symbols are at least as wide as that of any of its rows.
    virtual int legendSymbolWidth() const { return 0; }

    // The chart the series belongs to is told of its changes (nullptr: none).
    void attach(TChartInvalidation *notify) { notify_ = notify; }

protected:
    virtual void colorChanged() { }
    void repaint()
    {
        if (notify_)
            notify_->invalidate();
    }

private:
    TChartInvalidation *notify_ = nullptr;
    QString name_;
    QString title_;
    bool showInLegend_ = true;
    bool active_ = true;
    QColor color_ = Qt::red;
    TChartValueList xValues_ { QStringLiteral("X"), loAscending };
    TChartValueList yValues_ { QStringLiteral("Y"), loNone };
    std::map<int, QColor> colors_;
    std::map<int, QString> labels_;
    quint64 changes_ = 0;
    int firstShown_ = -1;
    int lastShown_ = -1;
};

class TFastLineSeries : public TChartSeries
{
public:
    explicit TFastLineSeries(const QString &name);

    QPen LinePen() const { return linePen_; }
    // Copies the pen, then takes its colour as the series colour.
    void setLinePen(const QPen &pen);
    bool LinePenVisible() const { return linePenVisible_; }
    void setLinePenVisible(bool value);

    // Lines that draw the shown range with at most one line per distinct pixel: the line
    // into each new pixel column from the last pixel drawn, plus one vertical line over the
    // span of the points that share the column. Same pixels as the plain polyline that skips
    // every point on the pixel of the last point drawn.
    void collectLines(const TCustomChartAxis &horizontal, const TCustomChartAxis &vertical,
        std::vector<QLine> &lines) const;

    void draw(QPainter &painter, const TCustomChartAxis &horizontal,
        const TCustomChartAxis &vertical, bool printing,
        const RasterTarget *raster = nullptr) override;
    bool widenOverLines(const TCustomChartAxis &horizontal, const TCustomChartAxis &vertical,
        const RasterTarget &target, int &left, int &right, bool &widened) override;
    // Points reduced into pixel columns so far (SeriesColumns::reducedPoints).
    long long reducedPoints() const { return reduced_.reducedPoints(); }
    // Forgets the columns kept between paints: the next paint reduces every shown point.
    void forgetColumns() { reduced_.clear(); }
    void drawLegendSymbol(
        QPainter &painter, int left, int top, int right, int bottom, bool printing) override;
    // Two periods of a patterned pen's dashes (a solid line needs no width of its own).
    int legendSymbolWidth() const override;

protected:
    void colorChanged() override;

private:
    QPen effectivePen(bool printing) const;
    // Whether the shown points are reduced to pixel columns: no NaN or infinite value (with
    // X out of order each run of points on one column is a column of its own).
    bool columnar() const;
    // Whether the pen's pixels can be written directly into target.
    bool writesDirectly(const QPen &pen, const RasterTarget *target) const;
    const std::vector<ColumnPoints> &shownColumns(const TCustomChartAxis &horizontal) const;
    // The index range of the columns on pixels left..right, and one more at each side.
    std::pair<size_t, size_t> columnsAround(
        const std::vector<ColumnPoints> &columns, int left, int right) const;
    void drawColumns(QPainter &painter, const TCustomChartAxis &horizontal,
        const TCustomChartAxis &vertical, const RasterTarget &target, QRgb colour);
    // The entering segment from the point before the shown range, if there is one.
    bool enteringLine(const TCustomChartAxis &horizontal, const TCustomChartAxis &vertical,
        const ColumnPoints &firstColumn, QLine &line) const;
    // The lines into each new column, and the vertical lines within the columns.
    // With path, also the same pixels as one polyline.
    void collect(const TCustomChartAxis &horizontal, const TCustomChartAxis &vertical,
        std::vector<QLine> &joins, std::vector<QLine> &columns, QPolygon *path = nullptr) const;

    void collectSkippingNonFinite(
        const PixelMapper &xm, const PixelMapper &ym, std::vector<QLine> &lines) const;

    QPen linePen_;
    bool linePenVisible_ = true;
    std::vector<QLine> joins_; // reused between paints
    std::vector<QLine> spans_;
    QPolygon path_;
    mutable SeriesColumns reduced_; // kept from paint to paint
};

} // namespace chart
