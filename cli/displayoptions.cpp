#include "cli/displayoptions.h"

#include "cli/commandline.h"
#include "files/channels.h"
#include "files/datafile.h"

#include <climits>

namespace cli {

void addDisplayOptions(CommandLine &line, PhotodiodeOption photodiode)
{
    line.addOption({ "mode",
        "Axis mode: 0 degrees/time, 1 ADC/samples, 2 degrees/samples, 3 ADC/time.", "0..3", "0" });
    line.addOption({ "unit", "Time unit of x in the time modes: us, ms or s.", "UNIT", "ms" });
    line.addOption({ "range",
        "Temperature range in degrees, 250 or 500 (default: the scale the file was recorded "
        "with; 250 when it holds none).",
        "DEG" });
    line.addOption(
        { "integrate", "Running mean over K points (2..2048); off when not given.", "K" });
    line.addOption({ "skip", "Draw every N-th frame (1 draws every frame).", "N", "1" });
    if (photodiode == PhotodiodeOption::Offered)
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
    std::optional<int> range = 0;
    if (line.isSet("range")) {
        range = line.choiceValue("range", { "250", "500" });
        if (!range)
            return std::nullopt;
    }
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
    // A range given on the command line wins over the file's own scale.
    if (line.isSet("range"))
        settings.valueScale = files::valueScaleForRange(*range);
    settings.integrate = integrate.has_value();
    settings.integrationLength = integrate.value_or(2);
    settings.pointSkip = *skip;
    settings.photodiode = line.offers("photodiode") && line.isSet("photodiode");
    return settings;
}

int outputStatus(int errorNumber)
{
    return errorNumber == 0 ? ExitUsage : ExitOutputFailed;
}

std::optional<int> CommandOutput::open(
    const QString &path, const QString &input, const QStringList &moreInputs)
{
    m_path = path;
    m_standard = path.isEmpty() || path == QLatin1String("-");
    if (m_standard)
        return std::nullopt;
    files::OutputFile::Options options;
    options.input = input;
    options.moreInputs = moreInputs;
    if (!m_file.open(path, options)) {
        report();
        return outputStatus(m_file.errorNumber());
    }
    return std::nullopt;
}

bool CommandOutput::report()
{
    if (!m_reported)
        message(shownError(m_file.errorString(), m_path));
    m_reported = true;
    return false;
}

bool CommandOutput::write(const char *data, qint64 size)
{
    if (m_standard)
        return m_stdout.write(QByteArray::fromRawData(data, qsizetype(size)));
    return m_file.write(data, size) || report();
}

bool CommandOutput::commit()
{
    if (m_standard)
        return m_stdout.finish();
    return m_file.commit() || report();
}

void CommandOutput::cancel()
{
    if (!m_standard)
        m_file.cancel();
}

} // namespace cli
