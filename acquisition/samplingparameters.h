#pragma once

#include "acquisition/samplingplan.h"
#include "files/channels.h"

#include <QLocale>
#include <QObject>
#include <QString>
#include <array>

namespace acquisition {

// A spin edit of the frequency/time panel. A value assigned by program is clamped into
// [minimum, maximum]; a typed value is kept as typed and may lie outside them.
struct SpinField
{
    int value = 0;
    int minimum = 0;
    int maximum = 0;
    int increment = 1;
};

enum class Field { None, seF, seTime, seSamples, seFstep, sePointChart };

// The frequency/time panel: the state behind seF, seTime, seSamples, seFstep, sePointChart,
// cbAvgMC, cbT1..cbT7 and the true-value labels, and the panel's handlers. The window is a
// thin mirror: it reports focus, typing, spinning and leaving, and mirrors fieldChanged,
// labelsChanged, errorChanged and averagingChanged with its own signals blocked, so that an
// assignment by program never runs a change handler.
//
// A change handler acts only for the field that has the focus (seSamplesChange excepted: it
// runs on every change of the samples value, assignments included). Exit handlers act
// whatever the focus.
class SamplingParameters : public QObject
{
    Q_OBJECT

public:
    // The locale gives the decimal separator of the labels; group separators are never used.
    explicit SamplingParameters(
        const QLocale &locale = QLocale::system(), QObject *parent = nullptr);

    // Design state: seF 75..546133 value 2400, seTime 439..3212842 value 100000,
    // seSamples 30000..240000 step 30000 value 240000, seFstep 1..50000 value 1,
    // sePointChart 1..30000 value 1; SRAMblocks 8, Time4allSRAM 100000, all seven
    // thermocouples checked, averaging off, d1 = d2 = 1; no handler has run yet.

    // ---- Fields and focus
    const SpinField &field(Field f) const;
    int value(Field f) const { return field(f).value; }
    Field focusField() const { return m_focus; }
    // Only records the focus; leaving a field is reported with userLeft().
    void setFocusField(Field f);

    // ---- User actions
    // The field's new text after a keystroke. Empty or non-numeric text (or a number outside
    // the int range) reads as the field's lower bound. The value is kept as typed; the
    // field's change handler runs under the focus rule. Typing into seSamples is discarded.
    void userTyped(Field f, const QString &text);
    // Spin buttons (positive up, negative down). If another field has the focus it is left
    // first (its exit handler runs); the focus moves to f, the value changes by the field's
    // increment within its bounds and, when it changed, the change handler runs.
    void userStepped(Field f, int steps);
    // Focus leaves f: the typed value is pulled into the field's bounds, then seFExit,
    // seTimeExit or seFstepExit (for seFstep and sePointChart) runs. The focus becomes None
    // when f had it.
    void userLeft(Field f);
    // cbAvgMC set by the user or by program; checking it runs cbAvgMCClick.
    void setAveraging(bool checked);
    // State of cbTn, n = 1..7 (others are ignored). Only records the state: the check box's
    // click handler runs UpdateChannelMask() afterwards.
    void setChannelChecked(int n, bool checked);
    bool channelChecked(int n) const;

    // ---- Assignments by program (start-up)
    // Clamps into the current bounds and never runs a change handler, except that a new
    // value of seSamples runs seSamplesChange. Always emits fieldChanged.
    void assign(Field f, int value);
    // Stores new bounds without re-checking the value already held.
    void setBounds(Field f, int minimum, int maximum);
    void setIncrement(Field f, int increment);
    void setTime4allSRAM(int ms);
    // The stored block count: outside 1..8 becomes 8. Sets SRAMblocks and assigns seSamples
    // = SRAMblocks * 30000 (which runs seSamplesChange when the value changes).
    void setSRAMblocksFromSettings(int stored);
    // The panel's part of start-up, in order: stored block count, stored Time4allSRAM,
    // seF = stored frequency, seTime = Time4allSRAM * SRAMblocks / 8, the run-time bounds
    // (seTime 992..3213395, seF 75..241731), seSamplesChange, UpdateChannelMask.
    void applyStartup(int storedSRAMblocks, int storedTime4allSRAM, int storedFrequencyHz);
    // applyStartup with the defaults of a first run (8 blocks, 10000 ms, 2400 Hz).
    void applyFirstRun();

    // ---- Handlers
    void FindDividers();
    void ShowTrueValues(bool withChannelMask);
    void UpdateChannelMask();
    void seFChange();
    void seFExit();
    void seTimeChange();
    void seTimeExit();
    void seSamplesChange();
    void cbAvgMCClick();
    // Copies the value of seFstep into the increment of seF. Also the exit handler of
    // sePointChart, seYmax and seYmin.
    void seFstepExit();

    // ---- State
    // The controller's settings as the panel holds them now, with what they give.
    const SamplingPlan &plan() const { return m_plan; }
    int d1() const { return m_plan.d1; }
    int d2() const { return m_plan.d2; }
    int SamplePeriodCycles() const { return m_plan.samplePeriodCycles(); }
    int Time4allSRAM() const { return m_plan.time4allSRAM; }
    int SRAMblocks() const { return m_plan.sramBlocks; }
    quint8 ChannelMask() const { return m_channelMask; }
    int ChannelCount() const { return m_channelCount; }
    bool averaging() const { return m_plan.averaging; }
    // 14745600 / SamplePeriodCycles.
    double trueFrequency() const { return m_plan.trueFrequencyHz(); }
    // As last computed by ShowTrueValues.
    double TrueTimeMs() const { return m_trueTimeMs; }
    int trueMinutes() const { return m_minutes; }
    int trueSeconds() const { return m_seconds; }
    double trueRemainingMs() const { return m_remainingMs; }

    QString lbF() const { return m_lbF; }
    QString lbT() const { return m_lbT; }
    QString lbMinutes() const { return m_lbMinutes; }
    QString lbDly() const { return m_lbDly; }
    QString lbFchnl() const { return m_lbFchnl; }
    bool lbFchnlVisible() const { return m_lbFchnlVisible; }
    // The text keeps the last warning; it is shown only while lErrInVisible().
    QString lErrIn() const { return m_lErrIn; }
    bool lErrInVisible() const { return m_lErrInVisible; }

    const QLocale &locale() const { return m_locale; }

signals:
    // Value or bounds changed by program (or the typed value pulled into the bounds).
    void fieldChanged(acquisition::Field field);
    void labelsChanged();
    void errorChanged();
    void averagingChanged(bool checked);

private:
    SpinField &ref(Field f);
    void assignQuietly(Field f, int value);
    void showError(const QString &text);
    void hideError();
    QString decimal(double value) const;

    QLocale m_locale;
    SpinField m_seF;
    SpinField m_seTime;
    SpinField m_seSamples;
    SpinField m_seFstep;
    SpinField m_sePointChart;
    Field m_focus = Field::None;

    // Time4allSRAM, SRAMblocks, the dividers and the averaging; its channels follow
    // UpdateChannelMask.
    SamplingPlan m_plan = firstPlan();
    static SamplingPlan firstPlan()
    {
        SamplingPlan plan;
        plan.time4allSRAM = 100000;
        return plan;
    }
    std::array<bool, files::ThermocoupleCount> m_channels {};
    quint8 m_channelMask = 0;
    int m_channelCount = 0;

    double m_trueTimeMs = 0;
    int m_minutes = 0;
    int m_seconds = 0;
    double m_remainingMs = 0;

    QString m_lbF;
    QString m_lbT;
    QString m_lbMinutes;
    QString m_lbDly;
    QString m_lbFchnl;
    bool m_lbFchnlVisible = false;
    QString m_lErrIn;
    bool m_lErrInVisible = false;
};

} // namespace acquisition
