#include "acquisition/samplingparameters.h"

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <cmath>

namespace acquisition {

namespace {

// Texts of the panel. "F" and "T" at the start, the "c" after the seconds and the "c" of
// "мc" in the time label are Latin letters.
QString FrequencyTooLowText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Fвыборки, Гц<");
}

QString FrequencyTooHighText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Fвыборки, Гц>");
}

QString TimeTooLongText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Tизмерения, мс>%1");
}

QString TimeTooShortText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Tизмерения, мс<%1");
}

QString MinutesText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "или %1 мин %2 c %3 мс");
}

QString FrequencyText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Fвыборки,Гц=%1");
}

QString TimeText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Tизмерения,мc=%1");
}

QString DividersText()
{
    return QCoreApplication::translate(
        "acquisition::SamplingParameters", "Параметры для МК: d1=%1,d2=%2");
}

QString ChannelFrequencyText()
{
    return QCoreApplication::translate("acquisition::SamplingParameters", "Fвыборки канала,Гц=%1");
}

constexpr int PointChartDivisor = 16;

} // namespace

SamplingParameters::SamplingParameters(const QLocale &locale, QObject *parent)
    : QObject(parent)
    , m_locale(locale)
    , m_seF { DefaultFrequencyHz, 75, 546133, 1 }
    , m_seTime { 100000, 439, 3212842, 1 }
    , m_seSamples { FullMemorySamples, BlockSamples, FullMemorySamples, BlockSamples }
    , m_seFstep { 1, 1, 50000, 1 }
    , m_sePointChart { 1, 1, 30000, 1 }
{
    m_channels.fill(true);
}

const SpinField &SamplingParameters::field(Field f) const
{
    return const_cast<SamplingParameters *>(this)->ref(f);
}

SpinField &SamplingParameters::ref(Field f)
{
    switch (f) {
    case Field::seF:
        return m_seF;
    case Field::seTime:
        return m_seTime;
    case Field::seSamples:
        return m_seSamples;
    case Field::seFstep:
        return m_seFstep;
    case Field::sePointChart:
        return m_sePointChart;
    case Field::None:
        break;
    }
    static SpinField none;
    none = SpinField {};
    return none;
}

void SamplingParameters::setFocusField(Field f)
{
    m_focus = f;
}

void SamplingParameters::userTyped(Field f, const QString &text)
{
    if (f == Field::None || f == Field::seSamples)
        return; // the samples field discards every key
    SpinField &s = ref(f);
    bool ok = false;
    const int typed = text.trimmed().toInt(&ok, 10);
    s.value = ok ? typed : s.minimum;
    if (f == Field::seF)
        seFChange();
    else if (f == Field::seTime)
        seTimeChange();
}

void SamplingParameters::userStepped(Field f, int steps)
{
    if (f == Field::None || steps == 0)
        return;
    if (m_focus != f) {
        if (m_focus != Field::None)
            userLeft(m_focus);
        m_focus = f;
    }
    const SpinField &s = ref(f);
    const qint64 target = qint64(s.value) + qint64(steps) * s.increment;
    const int stepped = int(std::clamp<qint64>(target, s.minimum, s.maximum));
    if (stepped == s.value)
        return;
    assign(f, stepped); // runs seSamplesChange for the samples field
    if (f == Field::seF)
        seFChange();
    else if (f == Field::seTime)
        seTimeChange();
}

void SamplingParameters::userLeft(Field f)
{
    if (f == Field::None)
        return;
    // The focus has moved on by the time the exit handler runs.
    if (m_focus == f)
        m_focus = Field::None;
    SpinField &s = ref(f);
    if (s.value < s.minimum || s.value > s.maximum)
        assign(f, s.value);
    switch (f) {
    case Field::seF:
        seFExit();
        break;
    case Field::seTime:
        seTimeExit();
        break;
    case Field::seFstep:
    case Field::sePointChart:
        seFstepExit();
        break;
    default:
        break;
    }
}

void SamplingParameters::setAveraging(bool checked)
{
    if (checked == m_plan.averaging)
        return;
    m_plan.averaging = checked;
    emit averagingChanged(m_plan.averaging);
    cbAvgMCClick();
}

void SamplingParameters::setChannelChecked(int n, bool checked)
{
    if (n >= 1 && n <= int(m_channels.size()))
        m_channels[size_t(n - 1)] = checked;
}

bool SamplingParameters::channelChecked(int n) const
{
    return n >= 1 && n <= int(m_channels.size()) && m_channels[size_t(n - 1)];
}

void SamplingParameters::assignQuietly(Field f, int value)
{
    SpinField &s = ref(f);
    s.value = std::clamp(value, s.minimum, std::max(s.minimum, s.maximum));
}

void SamplingParameters::assign(Field f, int value)
{
    if (f == Field::None)
        return;
    const int old = ref(f).value;
    assignQuietly(f, value);
    emit fieldChanged(f);
    if (f == Field::seSamples && m_seSamples.value != old)
        seSamplesChange();
}

void SamplingParameters::setBounds(Field f, int minimum, int maximum)
{
    if (f == Field::None)
        return;
    SpinField &s = ref(f);
    s.minimum = minimum;
    s.maximum = maximum;
    emit fieldChanged(f);
}

void SamplingParameters::setIncrement(Field f, int increment)
{
    if (f == Field::None)
        return;
    ref(f).increment = increment;
    emit fieldChanged(f);
}

void SamplingParameters::setTime4allSRAM(int ms)
{
    m_plan.time4allSRAM = ms;
}

void SamplingParameters::setSRAMblocksFromSettings(int stored)
{
    m_plan.sramBlocks = (stored < 1 || stored > MaxSRAMblocks) ? MaxSRAMblocks : stored;
    assign(Field::seSamples, m_plan.sramBlocks * BlockSamples);
}

void SamplingParameters::applyStartup(
    int storedSRAMblocks, int storedTime4allSRAM, int storedFrequencyHz)
{
    setSRAMblocksFromSettings(storedSRAMblocks);
    setTime4allSRAM(storedTime4allSRAM);
    assign(Field::seF, storedFrequencyHz);
    assign(Field::seTime, clampToInt(qint64(m_plan.time4allSRAM) * m_plan.sramBlocks / MaxSRAMblocks));
    setBounds(Field::seTime, ShortestTime4allSRAM, LongestTime4allSRAM);
    setBounds(Field::seF, LowestFrequencyHz, HighestFrequencyHz);
    seSamplesChange();
    UpdateChannelMask();
}

void SamplingParameters::applyFirstRun()
{
    applyStartup(DefaultSRAMblocks, DefaultTime4allSRAM, DefaultFrequencyHz);
}

void SamplingParameters::FindDividers()
{
    // A value typed beyond a limit takes the limit's pair while its field has the focus.
    using Kind = SamplingLimit::Kind;
    m_plan.outside.reset();
    if (m_focus == Field::seF) {
        if (m_seF.value < LowestFrequencyHz)
            m_plan.outside = SamplingLimit { Kind::FrequencyTooLow, LowestFrequencyHz };
        if (m_seF.value > HighestFrequencyHz)
            m_plan.outside = SamplingLimit { Kind::FrequencyTooHigh, HighestFrequencyHz };
    }
    if (m_focus == Field::seTime) {
        if (m_plan.time4allSRAM < ShortestTime4allSRAM)
            m_plan.outside
                = SamplingLimit { Kind::TimeTooShort, shortestTimeMs(m_plan.sramBlocks) };
        if (m_plan.time4allSRAM > LongestTime4allSRAM)
            m_plan.outside
                = SamplingLimit { Kind::TimeTooLong, longestTimeMs(m_plan.sramBlocks) };
    }
    const DividerPair pair = m_plan.outside ? limitDividers(m_plan.outside->kind)
                                            : searchDividers(m_plan.time4allSRAM);
    m_plan.d1 = pair.d1;
    m_plan.d2 = pair.d2;
}

QString SamplingParameters::decimal(double value) const
{
    // Digits as always, only the separator from the locale.
    QString text = QString::number(value, 'f', 3);
    const qsizetype point = text.indexOf(u'.');
    if (point >= 0)
        text.replace(point, 1, m_locale.decimalPoint());
    return text;
}

void SamplingParameters::ShowTrueValues(bool withChannelMask)
{
    m_trueTimeMs = m_plan.trueTimeMs();
    m_minutes = int(m_trueTimeMs / 60000.0);
    m_seconds = int((m_trueTimeMs - m_minutes * 60000.0) / 1000.0);
    m_remainingMs = m_trueTimeMs - m_minutes * 60000.0 - m_seconds * 1000.0;

    m_lbMinutes = MinutesText().arg(m_minutes, 2).arg(m_seconds, 2).arg(decimal(m_remainingMs));
    m_lbF = FrequencyText().arg(decimal(trueFrequency()));
    if (withChannelMask)
        UpdateChannelMask();
    m_lbT = TimeText().arg(decimal(m_trueTimeMs));
    m_lbDly = DividersText().arg(m_plan.d1).arg(m_plan.d2);
    emit labelsChanged();
}

void SamplingParameters::UpdateChannelMask()
{
    m_channelMask = 0;
    m_channelCount = 0;
    for (int n = 1; n <= int(m_channels.size()); ++n) {
        if (m_channels[size_t(n - 1)]) {
            m_channelMask |= files::thermocoupleBit(n);
            ++m_channelCount;
        }
    }
    m_plan.channels = m_channelMask;
    if (m_channelCount > 0) {
        const int bound = (BlockSamples / m_channelCount) / PointChartDivisor;
        m_sePointChart.maximum = bound;
        if (m_sePointChart.value > bound)
            m_sePointChart.value = bound;
        emit fieldChanged(Field::sePointChart);
        m_lbFchnl = ChannelFrequencyText().arg(decimal(m_plan.channelFrequencyHz()));
        m_lbFchnlVisible = true;
    } else {
        // The bound of sePointChart keeps its previous value.
        m_lbFchnlVisible = false;
    }
    emit labelsChanged();
}

void SamplingParameters::showError(const QString &text)
{
    m_lErrIn = text;
    m_lErrInVisible = true;
    emit errorChanged();
}

void SamplingParameters::hideError()
{
    if (!m_lErrInVisible)
        return;
    m_lErrInVisible = false;
    emit errorChanged();
}

void SamplingParameters::seFChange()
{
    if (m_focus != Field::seF || m_seF.value <= 0)
        return;
    hideError();
    const int step = m_seFstep.value;
    if (step > 1) {
        // Rewrites the field at every keystroke: a multiple of the step within the limits.
        const int rounded = (m_seF.value / step) * step;
        assign(Field::seF, std::clamp(rounded, LowestFrequencyHz, HighestFrequencyHz));
    }
    if (m_seF.value < LowestFrequencyHz)
        showError(FrequencyTooLowText() + QString::number(LowestFrequencyHz));
    if (m_seF.value > HighestFrequencyHz)
        showError(FrequencyTooHighText() + QString::number(HighestFrequencyHz));
    m_plan.time4allSRAM = roundedQuotient(TimeFactor, m_seF.value);
    assign(Field::seTime, clampToInt(qint64(m_plan.time4allSRAM) * m_plan.sramBlocks / MaxSRAMblocks));
    FindDividers();
    ShowTrueValues(true);
}

void SamplingParameters::seFExit()
{
    assign(Field::seF, roundedQuotient(TimeFactor, m_plan.time4allSRAM));
    FindDividers();
    ShowTrueValues(false);
    hideError();
}

void SamplingParameters::seTimeChange()
{
    if (m_focus != Field::seTime || m_seTime.value <= 0)
        return;
    hideError();
    m_plan.time4allSRAM = clampToInt(qint64(m_seTime.value) * MaxSRAMblocks / m_plan.sramBlocks);
    if (m_plan.time4allSRAM > LongestTime4allSRAM)
        showError(TimeTooLongText().arg(longestTimeMs(m_plan.sramBlocks)));
    if (m_plan.time4allSRAM < ShortestTime4allSRAM)
        showError(TimeTooShortText().arg(shortestTimeMs(m_plan.sramBlocks)));
    assign(Field::seF, roundedQuotient(TimeFactor, m_plan.time4allSRAM));
    FindDividers();
    ShowTrueValues(true);
}

void SamplingParameters::seTimeExit()
{
    m_plan.time4allSRAM = roundedQuotient(TimeFactor, m_seF.value);
    assign(Field::seTime, clampToInt(qint64(m_plan.time4allSRAM) * m_plan.sramBlocks / MaxSRAMblocks));
    FindDividers();
    ShowTrueValues(false);
    hideError();
}

void SamplingParameters::seSamplesChange()
{
    // The samples field holds whole blocks within its bounds; 1..8 guards the divisions.
    m_plan.sramBlocks = sramBlocksForSamples(m_seSamples.value);
    assign(Field::seTime, clampToInt(qint64(m_plan.time4allSRAM) * m_plan.sramBlocks / MaxSRAMblocks));
    m_seTime.minimum = shortestTimeMs(m_plan.sramBlocks);
    emit fieldChanged(Field::seTime);
    seTimeExit();
    if (m_seSamples.value > BlockSamples && m_plan.averaging) {
        m_plan.averaging = false;
        emit averagingChanged(false);
    }
}

void SamplingParameters::cbAvgMCClick()
{
    if (m_plan.averaging)
        assign(Field::seSamples, BlockSamples);
}

void SamplingParameters::seFstepExit()
{
    // A step below 1 would stall the spin buttons of seF.
    m_seF.increment = std::max(1, m_seFstep.value);
    emit fieldChanged(Field::seF);
}

} // namespace acquisition
