#include "acquisition/samplingparameters.h"

#include <QList>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>

using acquisition::Field;
using acquisition::SamplingParameters;

namespace {

// A panel after a first run, labels with a decimal point.
struct Panel
{
    explicit Panel(const QLocale &locale = QLocale::c())
        : p(locale)
    {
        p.applyFirstRun();
    }
    void type(Field f, const QString &text)
    {
        p.setFocusField(f);
        p.userTyped(f, text);
    }
    void typeAndLeave(Field f, const QString &text)
    {
        type(f, text);
        p.userLeft(f);
    }
    SamplingParameters p;
};

struct TableRow
{
    int frequency;
    int time4allSRAM;
    int d1;
    int d2;
    int period;
    const char *lbF;
    const char *trueTime8;
    const char *trueTime1;
};

const TableRow table[] = {
    { 75, 3200000, 256, 255, 196660, "74.980", "3200846.354", "400105.794" },
    { 240, 1000000, 219, 93, 61435, "240.020", "999918.620", "124989.827" },
    { 2400, 100000, 202, 10, 6145, "2399.609", "100016.276", "12502.035" },
    { 24000, 10000, 185, 1, 613, "24054.812", "9977.214", "1247.152" },
    { 100000, 2400, 30, 1, 148, "99632.432", "2408.854", "301.107" },
    { 241731, 993, 1, 1, 61, "241731.148", "992.839", "124.105" },
};

} // namespace

TEST(SamplingParameters, RequestedFrequenciesGiveTheTabulatedPairsAndTrueValues)
{
    for (const TableRow &row : table) {
        SCOPED_TRACE(row.frequency);
        Panel panel;
        panel.type(Field::seF, QString::number(row.frequency));
        EXPECT_EQ(panel.p.Time4allSRAM(), row.time4allSRAM);
        EXPECT_EQ(panel.p.d1(), row.d1);
        EXPECT_EQ(panel.p.d2(), row.d2);
        EXPECT_FALSE(panel.p.lErrInVisible());

        panel.p.userLeft(Field::seF);
        EXPECT_EQ(panel.p.Time4allSRAM(), row.time4allSRAM);
        EXPECT_EQ(panel.p.SamplePeriodCycles(), row.period);
        EXPECT_EQ(panel.p.lbF(), QString("Fвыборки,Гц=") + row.lbF);
        EXPECT_EQ(panel.p.lbT(), QString("Tизмерения,мc=") + row.trueTime8);
        EXPECT_EQ(
            panel.p.lbDly(), QString("Параметры для МК: d1=%1,d2=%2").arg(row.d1).arg(row.d2));

        // One block: the same pair over an eighth of the memory.
        panel.p.userStepped(Field::seSamples, -7);
        EXPECT_EQ(panel.p.SRAMblocks(), 1);
        EXPECT_EQ(panel.p.d1(), row.d1);
        EXPECT_EQ(panel.p.d2(), row.d2);
        EXPECT_EQ(panel.p.lbT(), QString("Tизмерения,мc=") + row.trueTime1);
    }
}

TEST(SamplingParameters, FirstRunStateAndLabelsInBothSeparators)
{
    Panel point;
    const SamplingParameters &p = point.p;
    EXPECT_EQ(p.value(Field::seF), 2400);
    EXPECT_EQ(p.value(Field::seTime), 100000);
    EXPECT_EQ(p.value(Field::seSamples), 240000);
    EXPECT_EQ(p.field(Field::seF).maximum, 241731);
    EXPECT_EQ(p.field(Field::seTime).minimum, 992);
    EXPECT_EQ(p.SRAMblocks(), 8);
    EXPECT_FALSE(p.averaging());
    EXPECT_EQ(p.lbMinutes(), "или  1 мин 40 c 16.276 мс");
    EXPECT_EQ(p.ChannelCount(), 7);
    EXPECT_EQ(p.ChannelMask(), 0x7F);
    EXPECT_TRUE(p.lbFchnlVisible());
    EXPECT_EQ(p.lbFchnl(), "Fвыборки канала,Гц=342.801");

    Panel comma(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(comma.p.lbF(), "Fвыборки,Гц=2399,609");
    EXPECT_EQ(comma.p.lbT(), "Tизмерения,мc=100016,276");
    EXPECT_EQ(comma.p.lbMinutes(), "или  1 мин 40 c 16,276 мс");
    EXPECT_EQ(comma.p.lbFchnl(), "Fвыборки канала,Гц=342,801");

    // No group separators, even where the locale groups with a point.
    Panel german(QLocale(QLocale::German, QLocale::Germany));
    german.typeAndLeave(Field::seF, "75");
    EXPECT_EQ(german.p.lbT(), "Tизмерения,мc=3200846,354");
    EXPECT_EQ(german.p.lbMinutes(), "или 53 мин 20 c 846,354 мс");
}

TEST(SamplingParameters, FrequencyOutsideTheLimitsWarnsAndTakesTheLimitPair)
{
    Panel high;
    int errors = 0;
    QObject::connect(&high.p, &SamplingParameters::errorChanged, [&] { ++errors; });
    high.type(Field::seF, "300000");
    EXPECT_TRUE(high.p.lErrInVisible());
    EXPECT_EQ(high.p.lErrIn(), "Fвыборки, Гц>241731");
    EXPECT_EQ(high.p.d1(), 1);
    EXPECT_EQ(high.p.d2(), 1);
    // The time handler did not run on the program's assignment of seTime (it would have
    // derived Time4allSRAM from the clamped 992).
    EXPECT_EQ(high.p.Time4allSRAM(), 800);
    EXPECT_EQ(high.p.value(Field::seF), 300000); // kept as typed
    high.p.userLeft(Field::seF);
    EXPECT_EQ(high.p.value(Field::seF), 241731);
    EXPECT_EQ(high.p.d1(), 1);
    EXPECT_EQ(high.p.d2(), 1);
    EXPECT_FALSE(high.p.lErrInVisible());
    EXPECT_EQ(high.p.Time4allSRAM(), 800);
    EXPECT_GE(errors, 2);

    Panel low;
    low.type(Field::seF, "50");
    EXPECT_EQ(low.p.lErrIn(), "Fвыборки, Гц<75");
    EXPECT_TRUE(low.p.lErrInVisible());
    EXPECT_EQ(low.p.d1(), 256);
    EXPECT_EQ(low.p.d2(), 256);
    // The next edit hides the warning.
    low.p.userTyped(Field::seF, "500");
    EXPECT_FALSE(low.p.lErrInVisible());
    low.p.userTyped(Field::seF, "50");
    low.p.userLeft(Field::seF);
    EXPECT_EQ(low.p.value(Field::seF), 75);
    EXPECT_FALSE(low.p.lErrInVisible());

    // A frequency so high that Time4allSRAM rounds to 0 must not divide by zero on leaving.
    Panel huge;
    huge.typeAndLeave(Field::seF, "999999999");
    EXPECT_EQ(huge.p.value(Field::seF), 241731);
    EXPECT_EQ(huge.p.d1(), 1);
    EXPECT_EQ(huge.p.d2(), 1);
}

TEST(SamplingParameters, TimeOutsideTheLimitsWarnsInTheFieldsUnits)
{
    Panel shortTime;
    shortTime.type(Field::seTime, "500");
    EXPECT_EQ(shortTime.p.lErrIn(), "Tизмерения, мс<992");
    EXPECT_EQ(shortTime.p.d1(), 1);
    EXPECT_EQ(shortTime.p.d2(), 1);
    EXPECT_EQ(shortTime.p.value(Field::seF), 241731);
    shortTime.p.userLeft(Field::seTime);
    EXPECT_EQ(shortTime.p.Time4allSRAM(), 993);
    EXPECT_EQ(shortTime.p.value(Field::seTime), 993);
    EXPECT_FALSE(shortTime.p.lErrInVisible());

    Panel oneBlock;
    oneBlock.p.assign(Field::seSamples, 30000);
    oneBlock.type(Field::seTime, "100");
    EXPECT_EQ(oneBlock.p.lErrIn(), "Tизмерения, мс<124");

    Panel longTime;
    longTime.p.assign(Field::seSamples, 60000);
    longTime.type(Field::seTime, "900000"); // 3600000 ms for the whole memory
    EXPECT_EQ(longTime.p.lErrIn(), "Tизмерения, мс>803348");
    EXPECT_EQ(longTime.p.d1(), 256);
    EXPECT_EQ(longTime.p.d2(), 256);
    EXPECT_EQ(longTime.p.value(Field::seF), 75); // 67 Hz, held by the field's bounds
    longTime.p.userLeft(Field::seTime);
    EXPECT_EQ(longTime.p.value(Field::seF), 75);
    EXPECT_EQ(longTime.p.value(Field::seTime), 800000);

    // A time beyond the int range once scaled to the whole memory saturates.
    Panel overflow;
    overflow.type(Field::seTime, QString::number(INT_MAX));
    EXPECT_EQ(overflow.p.Time4allSRAM(), INT_MAX);
    EXPECT_EQ(overflow.p.d1(), 256);
}

TEST(SamplingParameters, TimeAndFrequencyAgreeAfterLeaving)
{
    Panel eight;
    eight.type(Field::seTime, "10000");
    EXPECT_EQ(eight.p.value(Field::seF), 24000);
    eight.p.userLeft(Field::seTime);
    EXPECT_EQ(eight.p.value(Field::seTime), 10000);

    Panel two;
    two.p.assign(Field::seSamples, 60000);
    two.typeAndLeave(Field::seTime, "10000");
    EXPECT_EQ(two.p.Time4allSRAM(), 40000);
    EXPECT_EQ(two.p.value(Field::seF), 6000);
    EXPECT_EQ(two.p.value(Field::seTime), 10000);

    // A typed frequency moves to the one of a whole Time4allSRAM.
    Panel f;
    f.typeAndLeave(Field::seF, "241000");
    EXPECT_EQ(f.p.Time4allSRAM(), 996);
    EXPECT_EQ(f.p.value(Field::seF), 240964);
}

TEST(SamplingParameters, TypedTextAndFocusRule)
{
    // Empty, non-numeric and out-of-range text read as the lower bound (75 Hz).
    for (const char *text : { "", "abc", "12x", "99999999999" }) {
        SCOPED_TRACE(text);
        Panel panel;
        panel.type(Field::seF, text);
        EXPECT_EQ(panel.p.value(Field::seF), 75);
        EXPECT_EQ(panel.p.Time4allSRAM(), 3200000);
    }
    // Zero or below leaves the handlers inactive.
    for (const char *text : { "0", "-5" }) {
        SCOPED_TRACE(text);
        Panel panel;
        panel.type(Field::seF, text);
        EXPECT_EQ(panel.p.Time4allSRAM(), 100000);
        EXPECT_EQ(panel.p.d1(), 202);
        panel.type(Field::seTime, text);
        EXPECT_EQ(panel.p.Time4allSRAM(), 100000);
    }
    // Without the focus a typed value does not run the change handler.
    Panel unfocused;
    unfocused.p.setFocusField(Field::seTime);
    unfocused.p.userTyped(Field::seF, "24000");
    EXPECT_EQ(unfocused.p.Time4allSRAM(), 100000);
    EXPECT_EQ(unfocused.p.d1(), 202);
    // The time handler run directly (as the panel's toggle button does) acts only with the
    // focus in the time field.
    Panel toggle;
    toggle.type(Field::seF, "300000");
    toggle.p.seTimeChange();
    EXPECT_EQ(toggle.p.Time4allSRAM(), 800);
    toggle.p.userLeft(Field::seF);
    toggle.p.setFocusField(Field::seTime);
    toggle.p.seTimeChange();
    EXPECT_EQ(toggle.p.Time4allSRAM(), 992);
    EXPECT_EQ(toggle.p.value(Field::seF), 241731);
    EXPECT_FALSE(toggle.p.lErrInVisible());
    // Typing into the samples field is discarded.
    unfocused.type(Field::seSamples, "30000");
    EXPECT_EQ(unfocused.p.value(Field::seSamples), 240000);

    // Program assignments are mirrored, the typed text is not rewritten.
    Panel mirrored;
    QList<Field> changed;
    QObject::connect(
        &mirrored.p, &SamplingParameters::fieldChanged, [&](Field f) { changed.append(f); });
    mirrored.type(Field::seF, "24000");
    EXPECT_TRUE(changed.contains(Field::seTime));
    EXPECT_FALSE(changed.contains(Field::seF));
}

TEST(SamplingParameters, FrequencyStepRewritesTheField)
{
    Panel panel;
    panel.typeAndLeave(Field::seFstep, "100");
    EXPECT_EQ(panel.p.field(Field::seF).increment, 100);

    panel.type(Field::seF, "");
    EXPECT_EQ(panel.p.value(Field::seF), 75);
    panel.p.userTyped(Field::seF, "2");
    EXPECT_EQ(panel.p.value(Field::seF), 75);
    EXPECT_FALSE(panel.p.lErrInVisible());
    panel.p.userTyped(Field::seF, "2450");
    EXPECT_EQ(panel.p.value(Field::seF), 2400);
    panel.p.userTyped(Field::seF, "300000");
    EXPECT_EQ(panel.p.value(Field::seF), 241731);
    panel.p.userLeft(Field::seF);

    // Spin buttons move by the step and run the change handler.
    panel.p.assign(Field::seF, 2400);
    panel.p.userStepped(Field::seF, 1);
    EXPECT_EQ(panel.p.focusField(), Field::seF);
    EXPECT_EQ(panel.p.value(Field::seF), 2500);
    EXPECT_EQ(panel.p.Time4allSRAM(), 96000);

    // A step typed as 0 is pulled into the bounds when the field is left.
    Panel zero;
    zero.typeAndLeave(Field::seFstep, "0");
    EXPECT_EQ(zero.p.value(Field::seFstep), 1);
    EXPECT_EQ(zero.p.field(Field::seF).increment, 1);
    // Leaving sePointChart (and seYmax, seYmin in the window) copies the step too.
    zero.type(Field::seFstep, "20");
    zero.p.setFocusField(Field::sePointChart);
    zero.p.userLeft(Field::sePointChart);
    EXPECT_EQ(zero.p.field(Field::seF).increment, 20);
}

TEST(SamplingParameters, SamplesAndAveragingFollowEachOther)
{
    Panel panel;
    QList<bool> averaging;
    QObject::connect(
        &panel.p, &SamplingParameters::averagingChanged, [&](bool on) { averaging.append(on); });
    panel.p.setAveraging(true);
    EXPECT_EQ(panel.p.value(Field::seSamples), 30000);
    EXPECT_EQ(panel.p.SRAMblocks(), 1);
    EXPECT_EQ(panel.p.value(Field::seTime), 12500);
    EXPECT_EQ(panel.p.field(Field::seTime).minimum, 124);
    EXPECT_TRUE(panel.p.averaging());

    panel.p.userStepped(Field::seSamples, 1);
    EXPECT_EQ(panel.p.value(Field::seSamples), 60000);
    EXPECT_EQ(panel.p.SRAMblocks(), 2);
    EXPECT_EQ(panel.p.value(Field::seTime), 25000);
    EXPECT_EQ(panel.p.field(Field::seTime).minimum, 248);
    EXPECT_FALSE(panel.p.averaging());
    EXPECT_EQ(averaging, (QList<bool> { true, false }));

    // Stepping the samples while the frequency is being typed leaves that field first.
    Panel typing;
    typing.type(Field::seF, "300000");
    EXPECT_TRUE(typing.p.lErrInVisible());
    typing.p.userStepped(Field::seSamples, -1);
    EXPECT_EQ(typing.p.value(Field::seF), 241731);
    EXPECT_FALSE(typing.p.lErrInVisible());
    EXPECT_EQ(typing.p.Time4allSRAM(), 993);
    EXPECT_EQ(typing.p.SRAMblocks(), 7);
}

TEST(SamplingParameters, ChannelMaskCountAndPointChartBound)
{
    Panel panel;
    for (int n = 2; n <= 7; ++n)
        panel.p.setChannelChecked(n, false);
    panel.p.UpdateChannelMask();
    EXPECT_EQ(panel.p.field(Field::sePointChart).maximum, 1875);
    panel.p.assign(Field::sePointChart, 1000);
    EXPECT_EQ(panel.p.value(Field::sePointChart), 1000);
    for (int n = 2; n <= 7; ++n)
        panel.p.setChannelChecked(n, true);
    panel.p.UpdateChannelMask();
    EXPECT_EQ(panel.p.field(Field::sePointChart).maximum, 267);
    EXPECT_EQ(panel.p.value(Field::sePointChart), 267);

    for (int n = 1; n <= 7; ++n)
        panel.p.setChannelChecked(n, n == 1 || n == 3 || n == 7);
    panel.p.UpdateChannelMask();
    EXPECT_EQ(panel.p.ChannelMask(), 0x45);
    EXPECT_EQ(panel.p.ChannelCount(), 3);
    EXPECT_EQ(panel.p.field(Field::sePointChart).maximum, 625);
    EXPECT_EQ(panel.p.lbFchnl(), "Fвыборки канала,Гц=799.870");

    panel.p.setChannelChecked(3, false);
    panel.p.setChannelChecked(7, false);
    panel.p.UpdateChannelMask();
    EXPECT_EQ(panel.p.field(Field::sePointChart).maximum, 1875);

    panel.p.setChannelChecked(1, false);
    panel.p.setChannelChecked(8, true); // the photodiode is not a sampled channel
    panel.p.UpdateChannelMask();
    EXPECT_EQ(panel.p.ChannelCount(), 0);
    EXPECT_EQ(panel.p.ChannelMask(), 0);
    EXPECT_FALSE(panel.p.lbFchnlVisible());
    EXPECT_EQ(panel.p.field(Field::sePointChart).maximum, 1875);
}

TEST(SamplingParameters, StartupFromStoredSettings)
{
    // First run: seTime is 10000 after the stored values are applied, 100000 at the end.
    SamplingParameters first(QLocale::c());
    first.setSRAMblocksFromSettings(8);
    first.setTime4allSRAM(10000);
    first.assign(Field::seF, 2400);
    first.assign(Field::seTime, first.Time4allSRAM() * first.SRAMblocks() / 8);
    EXPECT_EQ(first.value(Field::seTime), 10000);
    first.setBounds(Field::seTime, 992, 3213395);
    first.setBounds(Field::seF, 75, 241731);
    first.seSamplesChange();
    EXPECT_EQ(first.value(Field::seTime), 100000);

    SamplingParameters two(QLocale::c());
    two.applyStartup(2, 20000, 2400);
    EXPECT_EQ(two.value(Field::seSamples), 60000);
    EXPECT_EQ(two.Time4allSRAM(), 100000);
    EXPECT_EQ(two.value(Field::seTime), 25000);
    EXPECT_EQ(two.field(Field::seTime).minimum, 248);

    for (int stored : { 0, 9, -3 }) {
        SamplingParameters p(QLocale::c());
        p.applyStartup(stored, 10000, 2400);
        EXPECT_EQ(p.SRAMblocks(), 8);
        EXPECT_EQ(p.value(Field::seSamples), 240000);
    }

    // Averaging restored before the sampling values survives only with one block.
    SamplingParameters single(QLocale::c());
    single.setAveraging(true);
    single.applyStartup(1, 10000, 2400);
    EXPECT_TRUE(single.averaging());
    SamplingParameters many(QLocale::c());
    many.setAveraging(true);
    many.applyStartup(8, 10000, 2400);
    EXPECT_FALSE(many.averaging());
}

TEST(SamplingParameters, RoundingRules)
{
    EXPECT_EQ(acquisition::roundHalfEven(0.5), 0);
    EXPECT_EQ(acquisition::roundHalfEven(1.5), 2);
    EXPECT_EQ(acquisition::roundHalfEven(2.5), 2);
    EXPECT_EQ(acquisition::roundHalfEven(-1.5), -2);
    EXPECT_EQ(acquisition::roundHalfEven(2.5000001), 3);
    EXPECT_EQ(acquisition::roundHalfEven(INFINITY), INT_MAX);
    EXPECT_EQ(acquisition::roundHalfEven(NAN), INT_MAX);

    // Requests no pair can meet take the limit pairs.
    EXPECT_EQ(acquisition::searchDividers(0).d1, 1);
    EXPECT_EQ(acquisition::searchDividers(INT_MAX).d1, 256);
}

// The plan the commands ask for is the panel's: for every request within the board's limits,
// the dividers, the time for the whole memory and every true figure are those the panel holds
// once the value is typed and the field left; beyond the limits the plan names the limit.
TEST(SamplingParameters, PlanIsWhatThePanelArrivesAt)
{
    using acquisition::SamplingLimit;
    using acquisition::SamplingRequest;
    for (const int samples : { 30000, 90000, 240000 }) {
        for (const bool byTime : { false, true }) {
            const int blocks = samples / 30000;
            const int lowest = byTime ? acquisition::shortestTimeMs(blocks) : 75;
            const int highest = byTime ? acquisition::longestTimeMs(blocks) : 241731;
            // Logarithmic steps over the range, both ends included.
            QList<int> values { lowest, lowest + 1, highest - 1, highest };
            for (double v = lowest; v < highest; v *= 1.37)
                values << int(v);
            for (const int value : values) {
                SCOPED_TRACE(testing::Message() << samples << (byTime ? " ms " : " Hz ") << value);
                Panel panel;
                panel.p.assign(Field::seSamples, samples);
                panel.p.setChannelChecked(2, false);
                panel.p.UpdateChannelMask();
                panel.typeAndLeave(byTime ? Field::seTime : Field::seF, QString::number(value));
                SamplingRequest request;
                request.given = byTime ? SamplingRequest::Given::Time
                                       : SamplingRequest::Given::Frequency;
                request.value = value;
                request.samples = samples;
                request.channels = 0x7D;
                const acquisition::SamplingPlan plan = acquisition::planSampling(request);
                ASSERT_FALSE(plan.outside);
                EXPECT_EQ(plan, panel.p.plan());
                EXPECT_EQ(plan.trueTimeMs(), panel.p.TrueTimeMs());
                EXPECT_EQ(plan.channelIntervalUs(), 6 * (plan.samplePeriodCycles() / 14.7456));
            }
        }
    }
    SamplingRequest slow;
    slow.value = 74;
    EXPECT_EQ(acquisition::planSampling(slow).outside,
        (SamplingLimit { SamplingLimit::Kind::FrequencyTooLow, 75 }));
    SamplingRequest longTime;
    longTime.given = SamplingRequest::Given::Time;
    longTime.samples = 30000;
    longTime.value = acquisition::longestTimeMs(1) + 1;
    EXPECT_EQ(acquisition::planSampling(longTime).outside,
        (SamplingLimit { SamplingLimit::Kind::TimeTooLong, 401674 }));
}
