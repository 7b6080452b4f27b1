#pragma once

#include "signal/chartdecoder.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace app {

class TForm1;

// The window's chart build: decodes the session's AcquisitionBuffer with the display
// controls as they are now and puts the points into the series T1..T7 and FD, then sets the
// titles, the status and the value axis. The decoding itself is sig::ChartDecoder, shared
// with the command line.
class ChartBuilder
{
public:
    explicit ChartBuilder(TForm1 &form);

    // Does nothing when the buffer is empty (or released at shutdown).
    void BuildChart();

    // The display controls as the decoder reads them.
    sig::DisplaySettings displaySettings() const;

    // The last build's recording and values; none before the first build.
    const sig::DecodedRecording *lastRecording() const { return m_last ? &*m_last : nullptr; }
    // Values of the last build that other parts read (the file save, the transfer start,
    // the cursor readout).
    double TimeDivisor() const { return m_last ? m_last->TimeDivisor : m_decoder.unitDivisor(); }
    QString TimeUnitName() const { return m_last ? m_last->TimeUnitName : QString(); }
    double PointStep() const { return m_decoder.pointStep(); }
    double ValueScale() const { return m_last ? m_last->ValueScale : 0; }
    qint32 ValueOffset() const { return m_last ? m_last->ValueOffset : 0; }
    quint8 ChartChannelBits() const { return m_last ? m_last->ChartChannelBits : 0; }

    // How an axis range the chart refuses is reported; the message is the chart's own.
    std::function<void(const QString &)> reportError;

private:
    void setValueAxisRange();

    TForm1 &m_form;
    sig::ChartDecoder m_decoder;
    std::optional<sig::DecodedRecording> m_last;
    std::vector<double> m_x; // X of the points of a build
};

} // namespace app
