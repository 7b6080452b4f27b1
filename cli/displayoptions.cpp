#include "cli/displayoptions.h"

#include "cli/commandline.h"
#include "files/channels.h"
#include "files/datafile.h"

#include <climits>

namespace cli {

void addDisplayOptions(CommandLine &line)
{
    line.addOption({ "mode",
        "Axis mode: 0 degrees/time, 1 ADC/samples, 2 degrees/samples, 3 ADC/time.", "0..3", "0" });
    line.addOption({ "unit", "Time unit of x in the time modes: us, ms or s.", "UNIT", "ms" });
    line.addOption({ "range", "Temperature range in degrees: 250 or 500.", "DEG", "250" });
    line.addOption(
        { "integrate", "Running mean over K points (2..2048); off when not given.", "K" });
    line.addOption({ "skip", "Draw every N-th frame (1 draws every frame).", "N", "1" });
    line.addFlag({ "photodiode" }, "Add the photodiode line FD.");
}

std::optional<sig::DisplaySettings> displayOptions(const CommandLine &line)
{
    // Each value is checked, so that the first bad one is the one reported.
    const std::optional<int> mode = line.intValue("mode", 0, 3);
    if (!mode)
        return std::nullopt;
    const std::optional<int> unit = line.choiceValue("unit", { "us", "ms", "s" });
    if (!unit)
        return std::nullopt;
    const std::optional<int> range = line.choiceValue("range", { "250", "500" });
    if (!range)
        return std::nullopt;
    const std::optional<int> skip = line.intValue("skip", 1, INT_MAX);
    if (!skip)
        return std::nullopt;
    std::optional<int> integrate;
    if (line.isSet("integrate")) {
        integrate = line.intValue("integrate", 2, 2048);
        if (!integrate)
            return std::nullopt;
    }
    sig::DisplaySettings settings;
    settings.axisMode = sig::AxisMode(*mode);
    settings.timeUnitIndex = *unit;
    settings.rangeIndex = *range;
    settings.integrate = integrate.has_value();
    settings.integrationLength = integrate.value_or(2);
    settings.pointSkip = *skip;
    settings.photodiode = line.isSet("photodiode");
    return settings;
}

void applyHeader(sig::DisplaySettings &settings, const files::DataFileHeader &header)
{
    settings.checkedChannels = header.ChartChannelBits & files::ThermocoupleBits;
    settings.averaging = (header.ChartChannelBits & 0x80) != 0;
    settings.channelIntervalUs = header.ChannelIntervalUs;
}

} // namespace cli
