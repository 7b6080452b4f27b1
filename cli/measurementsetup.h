#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "files/datafile.h"

#include <QString>
#include <memory>
#include <optional>

namespace acquisition {
class InstrumentLink;
}
namespace sim {
class BoardSimulator;
}

// What the commands that record on the board (measure, cycle) share: the controls a session
// reads, the options read the same way by both, the built-in simulator, the connection to
// the instrument and the header of what they save.
namespace cli {

class CommandLine;

// "ferrun-cli: <message>" on standard error.
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
    quint8 channels = 0x7F;
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

// Starts the built-in board simulator and sets `device` to its terminal; nothing (the reason
// printed) when it does not start. The photodiode fires half a second after arming.
std::unique_ptr<sim::BoardSimulator> startSimulator(bool keepHistory, QString *device);

// Connects the link with its options set; false, with the reason printed, when no instrument
// was found or its port cannot be opened.
bool connectInstrument(acquisition::InstrumentLink &link);

// The header a chart build of a recording writes with the display of a first run: axis mode
// 0 (temperature against time), time in microseconds.
files::DataFileHeader headerFor(
    const PanelControls &controls, bool averaging, int rangeIndex, double channelIntervalUs);

// A new name in the temporary folder for a recording that could not be saved where asked.
QString rescueName();

} // namespace cli
