#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "files/channels.h"

#include <QString>
#include <optional>

namespace acquisition {
class Instrument;
}

// What the commands that record on the board (measure, cycle) share: the controls a session
// reads, the options read the same way by both, the connection to the instrument and the
// care of a target's leftover save.
namespace cli {

class CommandLine;

// "ferrun-cli: <message>" on standard error, control characters escaped.
void printError(const QString &message);

// The controls a measurement reads: the frequency/time panel and the range selector.
class PanelControls : public acquisition::SessionControls
{
public:
    PanelControls(const acquisition::SamplingParameters &panel, int rangeIndex)
        : m_panel(panel)
        , m_range(rangeIndex)
    {
    }
    bool averaging() const override { return m_panel.averaging(); }
    int rangeIndex() const override { return m_range; }
    int d1() const override { return m_panel.d1(); }
    int d2() const override { return m_panel.d2(); }
    int SRAMblocks() const override { return m_panel.SRAMblocks(); }
    quint8 ChannelMask() const override { return m_panel.ChannelMask(); }
    int ChannelCount() const override { return m_panel.ChannelCount(); }
    quint8 checkedChannels() const override;
    // The time unit of a first run: "мкс".
    QString timeUnitName() const override { return QStringLiteral("мкс"); }

private:
    const acquisition::SamplingParameters &m_panel;
    int m_range;
};

// The options both commands define (each with its own help texts and limits).
struct MeasurementOptions
{
    QString output;
    QString device;
    bool simulator = false;
    std::optional<int> frequency;
    std::optional<int> time;
    quint8 channels = files::ThermocoupleBits;
    int rangeIndex = 0;
    int launchType = 0; // 0 from the computer, 1 on the photodiode signal
    QString comment;
};

// -o, --device, --simulator and --comment, and that --freq and --time do not come together.
// Nothing when the command goes on; else the status, the message printed.
std::optional<int> readTarget(const CommandLine &line, MeasurementOptions &o);
// --channels, --range and --launch.
std::optional<int> readChannelsRangeLaunch(const CommandLine &line, MeasurementOptions &o);

// Checks the channels of `mask` (bit 0 is T1) on the panel and updates its channel mask.
void checkChannels(acquisition::SamplingParameters &panel, quint8 mask);
// Types `value` into a field of the panel and leaves it, as a user would; false when the
// panel refused the value (its message is in lErrIn()).
bool typeAndLeave(acquisition::SamplingParameters &panel, acquisition::Field field, int value);

// Connects the instrument; false, with the reason printed, when no instrument was found or
// its port cannot be opened.
bool connectInstrument(acquisition::Instrument &instrument);

// Clears away what an interrupted save of `target` left (files::clearLeftoverSave) and says
// what was done on standard error. False when a whole recording was left that could not be
// kept under a name of its own: the target cannot be written then.
bool clearLeftoverSave(const QString &target);

// A new name in the temporary folder for a recording that could not be saved where asked.
QString rescueName();

} // namespace cli
