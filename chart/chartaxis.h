#pragma once

#include <QFont>
#include <QPen>
#include <QString>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

class QFontMetrics;

namespace chart {

// Raised by the Minimum and Maximum setters for a range whose ends would cross.
class AxisException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Nearest integer, halves to the even neighbour (the default floating-point rounding mode).
double roundEven(double value);

// Next label step after x: ... 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50 ...
double nextStep(double x);

// Decimals the labels of a step need: 3 (the pattern "#,##0.###") for steps of 0.001 and
// above, and as many as the step's first significant digit below that, so that no two
// labels of a smaller step read the same.
int labelDecimals(double step);

// Value text with the pattern "#,##0.###" in the user's locale: thousands grouped, at most
// three decimals (or the given number), no trailing zeros.
QString formatAxisValue(double value, int decimals = 3);

// Maps axis values to pixels exactly as TCustomChartAxis::ValueToPosition, with a fast path
// for the series drawing (multiplication by the reciprocal, falling back to the division
// whenever the product is too close to a rounding boundary to decide).
struct PixelMapper
{
    double minimum = 0;
    double range = 0;
    double size = 0;
    double scale = 0; // size / range
    long long start = 0;
    long long end = 0;
    int centre = 0;
    bool horizontal = true;
    bool inverted = false;

    bool operator==(const PixelMapper &) const = default;
    // Inline: the series drawing maps a few values per pixel column.
    int operator()(double value) const
    {
        if (range != 0) {
            // The product differs from the exact quotient by a few units in the last place,
            // far less than 1e-6 pixels below 2^30; only values that close to a half need
            // the division.
            const double q = (value - minimum) * scale;
            if (std::abs(q) < 1073741824.0) [[likely]] {
                const long long n = roundToNearest(q);
                if (std::abs(q - static_cast<double>(n)) < 0.499999) [[likely]]
                    return place(n);
            }
        }
        return exact(value);
    }
    int exact(double value) const;

private:
    // Nearest integer of a value well inside the 64-bit range, halves to even.
    static long long roundToNearest(double x)
    {
#if defined(__SSE2__)
        return _mm_cvtsd_si64(_mm_set_sd(x));
#else
        return static_cast<long long>(std::nearbyint(x));
#endif
    }
    int place(long long offset) const
    {
        long long p;
        if (horizontal)
            p = inverted ? end - offset : start + offset;
        else
            p = inverted ? start + offset : end - offset;
        if (p > std::numeric_limits<int>::max())
            return std::numeric_limits<int>::max();
        if (p < std::numeric_limits<int>::min())
            return std::numeric_limits<int>::min();
        return static_cast<int>(p);
    }
};

// The chart's side of change notification: every change marks the layout stale and asks
// for one repaint, however many changes come before the paint. Points appended behind a
// series' last one ask once for a look at what they change, after the caller's appends:
// the chart then repaints only their pixel columns when its layout stays as it is.
class TChartInvalidation
{
public:
    virtual ~TChartInvalidation() = default;
    void invalidate()
    {
        dirty_ = true;
        pictureStale_ = true;
        if (!updatePending_) {
            updatePending_ = true;
            requestUpdate();
        }
    }
    void appended()
    {
        if (!appendPending_) {
            appendPending_ = true;
            requestAppendCheck();
        }
    }

protected:
    virtual void requestUpdate() = 0;
    virtual void requestAppendCheck() = 0;
    bool dirty_ = true; // layout and axis working values
    bool pictureStale_ = true; // the painted picture of the chart
    bool updatePending_ = false;
    bool appendPending_ = false; // points appended since the last look
};

class TChartAxisTitle
{
public:
    explicit TChartAxisTitle(TChartInvalidation *chart, int angle)
        : chart_(chart)
        , angle_(angle)
    {
    }

    QString Caption() const { return caption_; }
    void setCaption(const QString &caption);
    int Angle() const { return angle_; }
    void setAngle(int angle);

private:
    TChartInvalidation *chart_;
    QString caption_;
    int angle_;
};

class TCustomChartAxis
{
public:
    enum class Side { Bottom, Top, Left, Right };

    TCustomChartAxis(TChartInvalidation *chart, Side side);
    virtual ~TCustomChartAxis() = default;
    TCustomChartAxis(const TCustomChartAxis &) = delete;
    TCustomChartAxis &operator=(const TCustomChartAxis &) = delete;

    Side side() const { return side_; }
    bool Horizontal() const { return side_ == Side::Bottom || side_ == Side::Top; }

    bool Automatic() const { return automatic_; }
    void setAutomatic(bool value);
    bool AutomaticMinimum() const { return automaticMinimum_; }
    void setAutomaticMinimum(bool value);
    bool AutomaticMaximum() const { return automaticMaximum_; }
    void setAutomaticMaximum(bool value);

    double Minimum() const { return minimum_; }
    // Throws AxisException when the value lies above Maximum; the value is then not stored.
    void setMinimum(double value);
    double Maximum() const { return maximum_; }
    // Throws AxisException when the value lies below Minimum; the value is then not stored.
    void setMaximum(double value);
    // Fixed range: clears the automatic flags, orders the pair, keeps a range of at least 1e-10.
    void SetRange(double minimum, double maximum);
    // Moves both ends by delta and clears the automatic flags; the range stays as it is, even
    // when it is 0 (the mouse wheel).
    void shiftRange(double delta);
    // A range the automatic range spans besides the points: the X range of a whole recording
    // while its blocks arrive, so that the axis stays as it will end and appended points
    // repaint only their columns. Cleared, nothing is reserved.
    void setReservedRange(double minimum, double maximum);
    void clearReservedRange();
    bool hasReservedRange() const { return reserved_; }
    double reservedMinimum() const { return reservedMinimum_; }
    double reservedMaximum() const { return reservedMaximum_; }

    bool Visible() const { return visible_; }
    void setVisible(bool value);
    bool Inverted() const { return inverted_; }
    void setInverted(bool value);
    double Increment() const { return increment_; }
    void setIncrement(double value);
    bool Labels() const { return labels_; }
    void setLabels(bool value);
    int LabelsSeparation() const { return labelsSeparation_; }
    void setLabelsSeparation(int value);
    bool LabelsOnAxis() const { return labelsOnAxis_; }
    void setLabelsOnAxis(bool value);
    bool RoundFirstLabel() const { return roundFirstLabel_; }
    void setRoundFirstLabel(bool value);
    int LabelsSize() const { return labelsSize_; }
    void setLabelsSize(int value);
    int TitleSize() const { return titleSize_; }
    void setTitleSize(int value);
    double StartPosition() const { return startPosition_; }
    void setStartPosition(double value);
    double EndPosition() const { return endPosition_; }
    void setEndPosition(double value);

    int TickLength() const { return 4; }
    int MinorTickLength() const { return 2; }
    int MinorTickCount() const { return 3; }
    int TickInnerLength() const { return 0; }
    bool TickOnLabelsOnly() const { return true; }
    int LabelsAngle() const { return 0; }

    QPen AxisPen() const { return axisPen_; }
    QPen Ticks() const { return ticksPen_; }
    QPen Grid() const { return gridPen_; }
    void setGrid(const QPen &pen);
    bool GridVisible() const { return gridVisible_; }
    void setGridVisible(bool value);

    TChartAxisTitle &Title() { return title_; }
    const TChartAxisTitle &Title() const { return title_; }

    // Conversions between axis values and pixels along the axis, from the working values of
    // the last layout.
    int ValueToPosition(double value) const { return mapper().exact(value); }
    double PositionToValue(int position) const;

    // Working values, recomputed at every paint.
    double workingMinimum() const { return wMinimum_; }
    double workingMaximum() const { return wMaximum_; }
    double workingRange() const { return wMaximum_ - wMinimum_; }
    int startPixel() const { return iStart_; }
    int endPixel() const { return iEnd_; }
    int sizePixels() const { return iEnd_ - iStart_; }
    int centrePixel() const { return (iStart_ + iEnd_) / 2; }
    PixelMapper mapper() const;

    // Label step for the current working range and pixel span, with labels measured by fm.
    double calcLabelStep(const QFontMetrics &fm) const;
    // Values of the labels for that step, from the top of the range downwards; none lies
    // outside the working range by more than the rounding of the values.
    std::vector<double> labelValues(double step) const;

    // Layout hooks used by the renderer.
    void setWorkingRange(double minimum, double maximum);
    void setPixelSpan(int start, int end);
    void setStoredRange(double minimum, double maximum);

    struct WorkingState
    {
        double minimum, maximum;
        int start, end;
        bool operator==(const WorkingState &) const = default;
    };
    WorkingState workingState() const { return { wMinimum_, wMaximum_, iStart_, iEnd_ }; }
    void restoreWorkingState(const WorkingState &s);

protected:
    void changed();

private:
    // Step for labels of labelSize pixels along the axis.
    double labelStep(int labelSize) const;

    TChartInvalidation *chart_;
    Side side_;
    bool automatic_ = true;
    bool automaticMinimum_ = true;
    bool automaticMaximum_ = true;
    double minimum_ = 0;
    double maximum_ = 0;
    bool reserved_ = false;
    double reservedMinimum_ = 0;
    double reservedMaximum_ = 0;
    bool visible_ = true;
    bool inverted_ = false;
    double increment_ = 0;
    bool labels_ = true;
    int labelsSeparation_ = 10;
    bool labelsOnAxis_ = true;
    bool roundFirstLabel_ = true;
    int labelsSize_ = 0;
    int titleSize_ = 0;
    double startPosition_ = 0;
    double endPosition_ = 100;
    QPen axisPen_;
    QPen ticksPen_;
    QPen gridPen_;
    bool gridVisible_ = true;
    TChartAxisTitle title_;

    double wMinimum_ = 0;
    double wMaximum_ = 0;
    int iStart_ = 0;
    int iEnd_ = 0;
};

class TChartAxis : public TCustomChartAxis
{
public:
    using TCustomChartAxis::TCustomChartAxis;
};

} // namespace chart
