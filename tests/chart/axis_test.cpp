#include "chart/chart.h"
#include "chartfixture.h"

#include <QLocale>
#include <cmath>

using namespace chart;

namespace {

// A left axis with the given working range over pixels 0..size.
struct VerticalAxis
{
    TChart chart;
    TChartAxis &axis = *chart.LeftAxis();
    QFontMetrics fm { charttest::fontOfHeight(13) };

    VerticalAxis(double minimum, double maximum, int size)
    {
        axis.setWorkingRange(minimum, maximum);
        axis.setPixelSpan(0, size);
    }
};

} // namespace

TEST(ChartAxisLabels, StepsForZeroToThousandOnThreeHundredPixels)
{
    VerticalAxis v(0, 1000, 300);
    ASSERT_EQ(v.fm.height(), 13);
    // At most round(300 / (13 + 1)) = 21 labels: 1, 2, 5, 10, 20 give too many, 50 gives 20.
    const double step = v.axis.calcLabelStep(v.fm);
    EXPECT_EQ(step, 50);
    const std::vector<double> labels = v.axis.labelValues(step);
    ASSERT_EQ(labels.size(), 21u);
    for (size_t i = 0; i < labels.size(); ++i)
        EXPECT_EQ(labels[i], 1000 - 50.0 * static_cast<double>(i));
}

TEST(ChartAxisLabels, SmallRangeEndsAtPowerOfTenTimesOneTwoOrFive)
{
    VerticalAxis v(0, 0.004, 300);
    const double step = v.axis.calcLabelStep(v.fm);
    EXPECT_NEAR(step, 0.0002, 1e-15);
    const std::vector<double> labels = v.axis.labelValues(step);
    ASSERT_EQ(labels.size(), 21u);
    EXPECT_NEAR(labels.front(), 0.004, 1e-15);
    EXPECT_NEAR(labels.back(), 0, 1e-15);

    // Steps run 1, 2, 5, 10 ... and 0.5, 0.2, 0.1 ... from any starting value.
    EXPECT_EQ(nextStep(1), 2);
    EXPECT_EQ(nextStep(2), 5);
    EXPECT_EQ(nextStep(5), 10);
    EXPECT_EQ(nextStep(10), 20);
    EXPECT_EQ(nextStep(50), 100);
    EXPECT_EQ(nextStep(3), 5);
    EXPECT_NEAR(nextStep(0.1), 0.2, 1e-17);
    EXPECT_NEAR(nextStep(0.5), 1, 1e-16);
}

TEST(ChartAxisLabels, TooManyStepsInTheRangeDrawNoLabels)
{
    VerticalAxis v(0, 10000, 300);
    v.axis.setLabelsSeparation(0); // no step search: the step stays 1
    EXPECT_EQ(v.axis.calcLabelStep(v.fm), 1);
    EXPECT_TRUE(v.axis.labelValues(1).empty());
    v.axis.setWorkingRange(0, 9999);
    EXPECT_EQ(v.axis.labelValues(1).size(), 10000u);
    // A step that vanishes against huge values ends the labels instead of looping.
    v.axis.setWorkingRange(1e20, 1e20 + 65536);
    EXPECT_LE(v.axis.labelValues(8).size(), 10001u);
}

TEST(ChartAxisLabels, EqualEndsGiveOneLabelAndTheCentrePixel)
{
    VerticalAxis v(42, 42, 300);
    const double step = v.axis.calcLabelStep(v.fm);
    const std::vector<double> labels = v.axis.labelValues(step);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0], 42);
    EXPECT_EQ(v.axis.ValueToPosition(42), 150);
    EXPECT_EQ(v.axis.ValueToPosition(-1e9), 150);
}

TEST(ChartAxisLabels, FirstLabelIsRoundedAndNegativeLabelsRunDown)
{
    VerticalAxis v(-7, 93, 300);
    const std::vector<double> labels = v.axis.labelValues(10);
    ASSERT_FALSE(labels.empty());
    EXPECT_EQ(labels.front(), 90);
    EXPECT_EQ(labels.back(), 0); // -10 lies below the minimum
    v.axis.setRoundFirstLabel(false);
    EXPECT_EQ(v.axis.labelValues(10).front(), 93);
}

TEST(ChartAxisLabels, TextsUseTheLocaleWithThousandsAndThreeDecimals)
{
    EXPECT_EQ(formatAxisValue(1234567.891), QStringLiteral("1,234,567.891"));
    EXPECT_EQ(formatAxisValue(1000), QStringLiteral("1,000"));
    EXPECT_EQ(formatAxisValue(0.5), QStringLiteral("0.5"));
    EXPECT_EQ(formatAxisValue(2.0004), QStringLiteral("2"));
    EXPECT_EQ(formatAxisValue(-12.25), QStringLiteral("-12.25"));
    EXPECT_EQ(formatAxisValue(-0.0001), QStringLiteral("0"));
    EXPECT_EQ(formatAxisValue(0.0002), QStringLiteral("0"));

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QString grouped = formatAxisValue(1234.5);
    QLocale::setDefault(before);
    EXPECT_EQ(grouped, QStringLiteral("1\u00A0234,5"));
}

TEST(ChartAxisPositions, ValuesAndPixelsConvertBothWays)
{
    TChart c;
    TChartAxis &bottom = *c.BottomAxis();
    bottom.setWorkingRange(0, 10);
    bottom.setPixelSpan(100, 105);
    // Offsets round halves to even: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2.
    EXPECT_EQ(bottom.ValueToPosition(1), 100);
    EXPECT_EQ(bottom.ValueToPosition(3), 102);
    EXPECT_EQ(bottom.ValueToPosition(5), 102);
    EXPECT_EQ(bottom.ValueToPosition(10), 105);
    EXPECT_EQ(bottom.PositionToValue(100), 0);
    EXPECT_EQ(bottom.PositionToValue(105), 10);
    bottom.setInverted(true);
    EXPECT_EQ(bottom.ValueToPosition(0), 105);
    EXPECT_EQ(bottom.PositionToValue(105), 0);

    TChartAxis &left = *c.LeftAxis();
    left.setWorkingRange(-50, 50);
    left.setPixelSpan(10, 210);
    EXPECT_EQ(left.ValueToPosition(50), 10); // larger values higher up
    EXPECT_EQ(left.ValueToPosition(-50), 210);
    EXPECT_EQ(left.ValueToPosition(0), 110);
    EXPECT_EQ(left.PositionToValue(10), 50);
    EXPECT_EQ(left.PositionToValue(210), -50);
    // An offset beyond the pixel range lands on the centre; a span below 1 pixel reads 0.
    EXPECT_EQ(left.ValueToPosition(1e12), 110);
    left.setPixelSpan(10, 10);
    EXPECT_EQ(left.PositionToValue(10), 0);
}

TEST(ChartAxisPositions, FastMappingAgreesWithTheExactDivision)
{
    TChart c;
    TChartAxis &bottom = *c.BottomAxis();
    // Ranges whose reciprocal is inexact, and values exactly on the half pixels.
    for (double range : { 3.0, 7.0, 1e-7, 12345.678, 239998.0 }) {
        bottom.setWorkingRange(-range / 3, range);
        bottom.setPixelSpan(17, 1617);
        const PixelMapper m = bottom.mapper();
        const double full = range + range / 3;
        for (int i = -2000; i <= 34000; ++i) {
            const double v = -range / 3 + full * (i / 32000.0);
            ASSERT_EQ(m(v), m.exact(v)) << range << " " << i;
            const double half = -range / 3 + (i + 0.5) * full / 1600;
            ASSERT_EQ(m(half), m.exact(half)) << range << " " << i;
        }
    }
    EXPECT_EQ(bottom.mapper()(std::nan("")), bottom.centrePixel());
}

TEST(ChartAxisRange, SettersRefuseCrossingEndsWithTheirMessages)
{
    TChart c;
    TChartAxis &a = *c.LeftAxis();
    a.SetRange(0, 70);
    try {
        a.setMinimum(80);
        FAIL() << "no exception";
    } catch (const AxisException &e) {
        EXPECT_STREQ(e.what(), "Axis Minimum Value must be <= Maximum");
    }
    EXPECT_EQ(a.Minimum(), 0);
    try {
        a.setMaximum(-1);
        FAIL() << "no exception";
    } catch (const AxisException &e) {
        EXPECT_STREQ(e.what(), "Axis Maximum Value must be >= Minimum");
    }
    EXPECT_EQ(a.Maximum(), 70);
    a.setMaximum(200);
    a.setMinimum(100);
    EXPECT_EQ(a.Minimum(), 100);

    // SetRange takes a pair above the old maximum, orders it and keeps a minimal range.
    a.SetRange(500, 300);
    EXPECT_EQ(a.Minimum(), 300);
    EXPECT_EQ(a.Maximum(), 500);
    a.SetRange(5, 5);
    EXPECT_EQ(a.Maximum(), 5 + 1e-10);
    EXPECT_FALSE(a.Automatic());
    EXPECT_FALSE(a.AutomaticMinimum());
    EXPECT_FALSE(a.AutomaticMaximum());
}

TEST(ChartAxisRange, AutomaticFlagsFollowEachOther)
{
    TChart c;
    TChartAxis &a = *c.LeftAxis();
    a.setAutomaticMinimum(false);
    EXPECT_FALSE(a.Automatic());
    EXPECT_TRUE(a.AutomaticMaximum());
    a.setAutomaticMinimum(true); // the other end is automatic: the axis is again
    EXPECT_TRUE(a.Automatic());
    a.setAutomatic(false);
    EXPECT_FALSE(a.AutomaticMinimum());
    EXPECT_FALSE(a.AutomaticMaximum());
    a.setAutomaticMaximum(true); // the other end is fixed: the axis stays fixed
    EXPECT_FALSE(a.Automatic());
}

TEST(ChartAxisRange, AutomaticRangeFollowsActiveSeriesWithoutExtraRoom)
{
    TChart c;
    charttest::setUpChart(c);
    TChartSeries &t1 = *c.Series(0);
    TChartSeries &t2 = *c.Series(1);
    t1.AddPoint(1, 10);
    t1.AddPoint(5, 20);
    t2.AddPoint(0, 30);
    t2.AddPoint(3, -4);
    c.ensureLayout();
    EXPECT_EQ(c.BottomAxis()->Minimum(), 0);
    EXPECT_EQ(c.BottomAxis()->Maximum(), 5);
    EXPECT_EQ(c.LeftAxis()->Minimum(), -4);
    EXPECT_EQ(c.LeftAxis()->Maximum(), 30);
    // The extremes lie on the plotting rectangle's edges.
    EXPECT_EQ(c.BottomAxis()->ValueToPosition(0), c.ChartRect().left());
    EXPECT_EQ(c.BottomAxis()->ValueToPosition(5), c.ChartRect().right());
    EXPECT_EQ(c.LeftAxis()->ValueToPosition(30), c.ChartRect().top());
    EXPECT_EQ(c.LeftAxis()->ValueToPosition(-4), c.ChartRect().bottom());

    // A hidden series no longer counts, unless every series is hidden.
    t2.setActive(false);
    c.ensureLayout();
    EXPECT_EQ(c.LeftAxis()->Minimum(), 10);
    EXPECT_EQ(c.LeftAxis()->Maximum(), 20);
    for (int i = 0; i < c.SeriesCount(); ++i)
        c.Series(i)->setActive(false);
    c.ensureLayout();
    EXPECT_EQ(c.LeftAxis()->Minimum(), -4);
    EXPECT_EQ(c.LeftAxis()->Maximum(), 30);

    // A fixed range stays until Automatic is set again.
    c.Series(0)->setActive(true);
    c.LeftAxis()->SetRange(0, 70);
    c.ensureLayout();
    EXPECT_EQ(c.LeftAxis()->workingMaximum(), 70);
    c.LeftAxis()->setAutomatic(true);
    c.ensureLayout();
    EXPECT_EQ(c.LeftAxis()->workingMaximum(), 20);

    // A reserved range is spanned as well as the points, until it is cleared.
    c.BottomAxis()->setReservedRange(3, -10);
    c.ensureLayout();
    EXPECT_EQ(c.BottomAxis()->Minimum(), -10);
    EXPECT_EQ(c.BottomAxis()->Maximum(), 5);
    c.BottomAxis()->clearReservedRange();
    c.ensureLayout();
    EXPECT_EQ(c.BottomAxis()->Minimum(), 1);
}

TEST(ChartAxisLabels, BothEndsOfASymmetricRangeAreLabelled)
{
    VerticalAxis v(-100, 100, 300);
    const std::vector<double> labels = v.axis.labelValues(v.axis.calcLabelStep(v.fm));
    ASSERT_FALSE(labels.empty());
    EXPECT_EQ(labels.front(), 100);
    EXPECT_EQ(labels.back(), -100);

    // 0.3 / 0.1 truncates to 2 in binary: the top label is still 0.3, the lowest -0.3.
    v.axis.setWorkingRange(-0.3, 0.3);
    const std::vector<double> tenths = v.axis.labelValues(0.1);
    ASSERT_EQ(tenths.size(), 7u);
    EXPECT_NEAR(tenths.front(), 0.3, 1e-12);
    EXPECT_NEAR(tenths.back(), -0.3, 1e-12);
}

TEST(ChartAxisLabels, DeepZoomOnAFlatChannelKeepsItsLabelsInRangeAndApart)
{
    // A flat 4095 zoomed into: SetRange keeps 1e-10 of range.
    VerticalAxis v(4095, 4095 + 1e-10, 300);
    const double step = v.axis.calcLabelStep(v.fm);
    const std::vector<double> labels = v.axis.labelValues(step);
    ASSERT_GE(labels.size(), 2u);
    EXPECT_LE(labels.size(), 22u);
    const int decimals = labelDecimals(step);
    EXPECT_GE(decimals, 11);
    QStringList texts;
    for (double value : labels) {
        EXPECT_GE(value, 4095 - step * 1e-6);
        EXPECT_LE(value, 4095 + 1e-10 + step * 1e-6);
        EXPECT_GE(v.axis.ValueToPosition(value), 0);
        EXPECT_LE(v.axis.ValueToPosition(value), 300);
        texts << formatAxisValue(value, decimals);
    }
    texts.removeDuplicates();
    EXPECT_EQ(texts.size(), static_cast<qsizetype>(labels.size()));

    // A step of 5e-6 needs six decimals; 0.001 and above keep the pattern's three.
    v.axis.setWorkingRange(5, 5.0001);
    const double small = v.axis.calcLabelStep(v.fm);
    EXPECT_NEAR(small, 5e-6, 1e-18);
    EXPECT_EQ(labelDecimals(small), 6);
    EXPECT_EQ(formatAxisValue(5.000095, 6), QStringLiteral("5.000095"));
    EXPECT_EQ(formatAxisValue(5.0001, 6), QStringLiteral("5.0001"));
    EXPECT_EQ(formatAxisValue(-0.0000001, 6), QStringLiteral("0"));
    double millesimal = 1e-12;
    while (millesimal < 0.00099)
        millesimal = nextStep(millesimal); // carries the rounding of the step search
    EXPECT_EQ(labelDecimals(millesimal), 3);
    EXPECT_EQ(labelDecimals(nextStep(millesimal)), 3);
    EXPECT_EQ(labelDecimals(millesimal / 2), 4);
    EXPECT_EQ(labelDecimals(50), 3);
}

TEST(ChartAxisLabels, LongerLabelsOfADeepZoomAreMeasuredOnAHorizontalAxis)
{
    TChart chart;
    TChartAxis &bottom = *chart.BottomAxis();
    const QFontMetrics fm(charttest::fontOfHeight(13));
    bottom.setWorkingRange(120000, 120000.0004);
    bottom.setPixelSpan(0, 600);
    const double step = bottom.calcLabelStep(fm);
    const int decimals = labelDecimals(step);
    EXPECT_GT(decimals, 3);
    const std::vector<double> labels = bottom.labelValues(step);
    ASSERT_GE(labels.size(), 2u);
    // Neighbouring labels do not overlap: each is at most as wide as the space between them.
    const int spacing = bottom.ValueToPosition(labels[0]) - bottom.ValueToPosition(labels[1]);
    for (double value : labels)
        EXPECT_LT(fm.horizontalAdvance(formatAxisValue(value, decimals)), spacing)
            << qPrintable(formatAxisValue(value, decimals));
}
