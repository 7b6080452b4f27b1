#include "chart/chartaxis.h"

#include <QFontMetrics>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>

namespace chart {

namespace {

constexpr double maxOffset = 2147483647.0;

} // namespace

double roundEven(double value)
{
    return std::nearbyint(value);
}

double nextStep(double x)
{
    if (!std::isfinite(x) || x <= 0)
        return x > 0 ? x : 1e-12;
    if (x >= 10)
        return nextStep(x / 10) * 10;
    if (x >= 1) {
        if (x < 2)
            return 2;
        if (x < 5)
            return 5;
        return 10;
    }
    return nextStep(x * 10) / 10;
}

int labelDecimals(double step)
{
    if (!(step > 0) || !std::isfinite(step))
        return 3;
    // Steps come out of repeated multiplication and carry rounding: 0.001 may be stored a
    // hair below it and still needs three decimals.
    const int needed = static_cast<int>(std::ceil(-std::log10(step) - 1e-6));
    return std::clamp(needed, 3, 17);
}

QString formatAxisValue(double value, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    if (std::isfinite(value) && roundEven(std::abs(value) * std::pow(10.0, decimals)) == 0)
        value = 0; // no "-0" for tiny negative values
    QString text = locale.toString(value, 'f', decimals);
    const QString decimal = locale.decimalPoint();
    const QString zero = locale.zeroDigit();
    const qsizetype point = text.lastIndexOf(decimal);
    if (point >= 0 && std::isfinite(value)) {
        while (text.endsWith(zero) && text.size() > point + decimal.size())
            text.chop(zero.size());
        if (text.endsWith(decimal))
            text.chop(decimal.size());
    }
    return text;
}

int PixelMapper::exact(double value) const
{
    if (range == 0)
        return centre;
    const double offset = (value - minimum) * size / range;
    if (!(std::abs(offset) < maxOffset))
        return centre;
    return place(static_cast<long long>(roundEven(offset)));
}

void TChartAxisTitle::setCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    chart_->invalidate();
}

void TChartAxisTitle::setAngle(int angle)
{
    if (angle == angle_)
        return;
    angle_ = angle;
    chart_->invalidate();
}

TCustomChartAxis::TCustomChartAxis(TChartInvalidation *chart, Side side)
    : chart_(chart)
    , side_(side)
    , axisPen_(QColor(Qt::black), 1)
    , ticksPen_(QColor(Qt::black), 1)
    , gridPen_(QColor(0x80, 0x80, 0x80), 1, Qt::DotLine)
    , title_(chart, side == Side::Left ? 90 : (side == Side::Right ? 270 : 0))
{
}

void TCustomChartAxis::changed()
{
    chart_->invalidate();
}

void TCustomChartAxis::setAutomatic(bool value)
{
    const bool differs
        = automatic_ != value || automaticMinimum_ != value || automaticMaximum_ != value;
    automatic_ = value;
    automaticMinimum_ = value;
    automaticMaximum_ = value;
    if (differs)
        changed();
}

void TCustomChartAxis::setAutomaticMinimum(bool value)
{
    if (value == automaticMinimum_)
        return;
    automaticMinimum_ = value;
    if (!value || automaticMaximum_)
        automatic_ = value;
    changed();
}

void TCustomChartAxis::setAutomaticMaximum(bool value)
{
    if (value == automaticMaximum_)
        return;
    automaticMaximum_ = value;
    if (!value || automaticMinimum_)
        automatic_ = value;
    changed();
}

void TCustomChartAxis::setMinimum(double value)
{
    if (value > maximum_)
        throw AxisException("Axis Minimum Value must be <= Maximum");
    if (value == minimum_)
        return;
    minimum_ = value;
    changed();
}

void TCustomChartAxis::setMaximum(double value)
{
    if (value < minimum_)
        throw AxisException("Axis Maximum Value must be >= Minimum");
    if (value == maximum_)
        return;
    maximum_ = value;
    changed();
}

void TCustomChartAxis::SetRange(double minimum, double maximum)
{
    automatic_ = false;
    automaticMinimum_ = false;
    automaticMaximum_ = false;
    if (minimum > maximum)
        std::swap(minimum, maximum);
    if (maximum - minimum < 1e-10)
        maximum = minimum + 1e-10;
    minimum_ = minimum;
    maximum_ = maximum;
    changed();
}

void TCustomChartAxis::shiftRange(double delta)
{
    automatic_ = false;
    automaticMinimum_ = false;
    automaticMaximum_ = false;
    minimum_ += delta;
    maximum_ += delta;
    changed();
}

void TCustomChartAxis::setReservedRange(double minimum, double maximum)
{
    if (minimum > maximum)
        std::swap(minimum, maximum);
    if (reserved_ && minimum == reservedMinimum_ && maximum == reservedMaximum_)
        return;
    reserved_ = true;
    reservedMinimum_ = minimum;
    reservedMaximum_ = maximum;
    changed();
}

void TCustomChartAxis::clearReservedRange()
{
    if (!reserved_)
        return;
    reserved_ = false;
    changed();
}

void TCustomChartAxis::setStoredRange(double minimum, double maximum)
{
    minimum_ = minimum;
    maximum_ = maximum;
}

#define FERRUN_AXIS_SETTER(Name, member, Type)                                                     \
    void TCustomChartAxis::set##Name(Type value)                                                   \
    {                                                                                              \
        if (member == value)                                                                       \
            return;                                                                                \
        member = value;                                                                            \
        changed();                                                                                 \
    }

FERRUN_AXIS_SETTER(Visible, visible_, bool)
FERRUN_AXIS_SETTER(Inverted, inverted_, bool)
FERRUN_AXIS_SETTER(Increment, increment_, double)
FERRUN_AXIS_SETTER(Labels, labels_, bool)
FERRUN_AXIS_SETTER(LabelsSeparation, labelsSeparation_, int)
FERRUN_AXIS_SETTER(LabelsOnAxis, labelsOnAxis_, bool)
FERRUN_AXIS_SETTER(RoundFirstLabel, roundFirstLabel_, bool)
FERRUN_AXIS_SETTER(LabelsSize, labelsSize_, int)
FERRUN_AXIS_SETTER(TitleSize, titleSize_, int)
FERRUN_AXIS_SETTER(StartPosition, startPosition_, double)
FERRUN_AXIS_SETTER(EndPosition, endPosition_, double)
FERRUN_AXIS_SETTER(GridVisible, gridVisible_, bool)
#undef FERRUN_AXIS_SETTER

void TCustomChartAxis::setGrid(const QPen &pen)
{
    gridPen_ = pen;
    changed();
}

double TCustomChartAxis::PositionToValue(int position) const
{
    const int size = sizePixels();
    if (size < 1)
        return 0;
    const double range = workingRange();
    const double d = inverted_ ? double(iEnd_ - position) * range / size
                               : double(position - iStart_) * range / size;
    return Horizontal() ? wMinimum_ + d : wMaximum_ - d;
}

PixelMapper TCustomChartAxis::mapper() const
{
    PixelMapper m;
    m.minimum = wMinimum_;
    m.range = workingRange();
    m.size = sizePixels();
    m.scale = m.range != 0 ? m.size / m.range : 0;
    m.start = iStart_;
    m.end = iEnd_;
    m.centre = centrePixel();
    m.horizontal = Horizontal();
    m.inverted = inverted_;
    return m;
}

void TCustomChartAxis::setWorkingRange(double minimum, double maximum)
{
    wMinimum_ = minimum;
    wMaximum_ = maximum;
}

void TCustomChartAxis::setPixelSpan(int start, int end)
{
    iStart_ = start;
    iEnd_ = end;
}

void TCustomChartAxis::restoreWorkingState(const WorkingState &s)
{
    wMinimum_ = s.minimum;
    wMaximum_ = s.maximum;
    iStart_ = s.start;
    iEnd_ = s.end;
}

double TCustomChartAxis::calcLabelStep(const QFontMetrics &fm) const
{
    if (!Horizontal())
        return labelStep(fm.height());
    auto widest = [&](int decimals) {
        return std::max(fm.horizontalAdvance(formatAxisValue(wMinimum_, decimals)),
            fm.horizontalAdvance(formatAxisValue(wMaximum_, decimals)));
    };
    int decimals = 3;
    double step = labelStep(widest(decimals));
    // A step below 0.001 gives its labels more decimals, so they are measured again with
    // those. Wider labels only make the step larger and its decimals fewer, so the labels as
    // drawn are never wider than measured.
    for (int round = 0; round < 3 && labelDecimals(step) > decimals; ++round) {
        decimals = labelDecimals(step);
        step = labelStep(widest(decimals));
    }
    return step;
}

double TCustomChartAxis::labelStep(int labelSize) const
{
    double maxLabels = 1;
    if (labelSize > 0) {
        const int gap = labelsSeparation_ > 0
            ? labelSize + static_cast<int>(roundEven(labelsSeparation_ * 0.01 * labelSize))
            : labelSize;
        maxLabels = roundEven(double(sizePixels()) / gap);
    }
    if (maxLabels < 1)
        return 1e-12;

    const double range = workingRange();
    double step = increment_ > 0 ? increment_ : (std::abs(range) >= 1 ? 1.0 : 1e-12);
    if (labelsSeparation_ > 0) {
        while (std::isfinite(step)) {
            double n = range / step;
            if (std::abs(n) < maxOffset) {
                n = roundEven(n);
                if (n <= maxLabels)
                    break;
            }
            step = nextStep(step);
        }
    }
    return std::max(step, 1e-12);
}

std::vector<double> TCustomChartAxis::labelValues(double step) const
{
    std::vector<double> values;
    const double range = workingRange();
    if (!(std::abs(range / step) < 10000))
        return values;
    if (wMinimum_ == wMaximum_) {
        values.push_back(wMaximum_); // one label for a zero range
        return values;
    }
    // Label values are multiples of the step, computed with rounding; a label counts as on
    // an end of the range when it misses it by no more than a millionth of the step, far
    // below a pixel. (A tolerance in proportion to the values instead would exceed the step
    // of a deep zoom, and would move the lower limit above a negative minimum.)
    const double tolerance = step * 1e-6;
    double first = roundFirstLabel_ ? std::trunc(wMaximum_ / step) * step : wMaximum_;
    // Values so large that the step vanishes against them would never move: stop there.
    for (int guard = 0; first > wMaximum_ + tolerance && guard < 3; ++guard)
        first -= step;
    if (first > wMaximum_ + tolerance)
        return values;
    // The quotient may have been truncated one step short of a maximum on a multiple.
    if (roundFirstLabel_ && first + step <= wMaximum_ + tolerance)
        first += step;
    const double limit = wMinimum_ - tolerance;
    for (int k = 0; k <= 10000; ++k) {
        const double value = first - k * step;
        if (!(value >= limit) || (k > 0 && value == values.back()))
            break;
        values.push_back(value);
    }
    return values;
}

} // namespace chart
