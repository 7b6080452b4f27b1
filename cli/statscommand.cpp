#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/datafileinput.h"
#include "cli/displayoptions.h"
#include "cli/output.h"
#include "signal/csvexport.h"
#include "signal/regionstats.h"

#include <cmath>
#include <limits>

namespace {

// --from or --to as a finite number; the bound itself when not given.
std::optional<double> boundValue(const cli::CommandLine &line, const QString &name, double bound)
{
    if (!line.isSet(name))
        return bound;
    bool ok = false;
    const double value = line.value(name).toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        line.error(QString("--%1 must be a finite number, not '%2'")
                       .arg(name, cli::escaped(line.value(name))));
        return std::nullopt;
    }
    return value;
}

} // namespace

// ferrun-cli stats FILE: per thermocouple, the count, minimum, maximum, mean, first and last
// value and the least-squares slope of the points the chart draws between two X values. The
// array is read and decoded in pieces, like export, so memory does not grow with the file.
int cli::runStats(const QStringList &args)
{
    CommandLine line("stats", "FILE [--from X] [--to Y] [options]",
        "Writes, for each thermocouple of a data file, statistics of the points the chart draws\n"
        "with X from X to Y inclusive, as CSV: channel,n,min,max,mean,first,last,slope_per_s.\n"
        "Values are in the units of the axis mode (degrees or ADC units); slope_per_s is per\n"
        "second in the time modes and per sample in the sample modes. Each column has the\n"
        "decimals the recording resolves, as the window's cursor table shows them: values to\n"
        "one ADC code, the mean one decimal more, the slope to one code over the region.");
    line.addPositional("FILE", "The data file (*.kdx); \"-\" for standard input.");
    line.addOption({ "from",
        "First X of the region, in the x unit of the mode (as export "
        "writes x); default the recording's start.",
        "X" });
    line.addOption({ "to", "Last X of the region; default the recording's end.", "Y" });
    addDisplayOptions(line, PhotodiodeOption::NotOffered);
    line.addExitCode(ExitDone, "written");
    line.addExitCode(ExitOutputFailed, "standard output could not be written");
    line.addExitCode(ExitUsage, "bad arguments, or no drawn point lies between X and Y");
    line.addExitCode(ExitBadInput, BadDataFileExit);
    if (const std::optional<int> status = line.parse(args, 1, 1))
        return *status;

    const std::optional<sig::DisplaySettings> settings = displayOptions(line);
    if (!settings)
        return ExitUsage;
    constexpr double infinity = std::numeric_limits<double>::infinity();
    const std::optional<double> from = boundValue(line, "from", -infinity);
    if (!from)
        return ExitUsage;
    const std::optional<double> to = boundValue(line, "to", infinity);
    if (!to)
        return ExitUsage;

    DataFileInput input;
    if (!input.open(line.positional().first()))
        return ExitBadInput;
    input.setDisplay(*settings);
    sig::RegionStatistics statistics(*from, *to);
    // The X of the recording's first and last drawn point, for the message on an empty range.
    double firstX = 0, lastX = 0;
    bool anyPoint = false;
    const bool decoded = input.decode([&] {
        const sig::DecodedRecording &piece = input.recording();
        statistics.add(piece);
        if (piece.pointCount() > 0) {
            if (!anyPoint)
                firstX = piece.x(0);
            anyPoint = true;
            lastX = piece.x(piece.pointCount() - 1);
        }
        return true;
    });
    if (!decoded)
        return ExitBadInput;
    if (statistics.count() == 0) {
        const QString unit = sig::isTimeMode(settings->axisMode)
            ? QString(" %1").arg(QStringList { "us", "ms", "s" }.at(settings->timeUnitIndex))
            : QString();
        if (!anyPoint)
            return line.error(QString("%1 holds no drawn point").arg(input.source().shown));
        return line.error(QString("no drawn point lies between %1 and %2%3 (the recording's "
                                  "points lie from %4 to %5%3)")
                              .arg(QString::fromLatin1(sig::formatNumber(*from)),
                                  QString::fromLatin1(sig::formatNumber(*to)), unit,
                                  QString::fromLatin1(sig::formatNumber(firstX)),
                                  QString::fromLatin1(sig::formatNumber(lastX))));
    }

    const double perSecond = sig::slopePerSecondFactor(input.recording());
    const sig::RegionDecimals decimals = sig::regionDecimals(input.recording(), statistics.span());
    QByteArray text = "channel,n,min,max,mean,first,last,slope_per_s\n";
    for (const sig::ChannelStatistics &c : statistics.result()) {
        text += 'T' + QByteArray::number(c.channel) + ',' + QByteArray::number(c.count);
        for (const auto &[value, digits] :
            { std::pair { c.minimum, decimals.value }, { c.maximum, decimals.value },
                { c.mean, decimals.mean }, { c.first, decimals.value }, { c.last, decimals.value },
                { c.slope * perSecond, decimals.slope } })
            text += ',' + sig::formatDecimals(value, digits);
        text += '\n';
    }
    StandardOutput out;
    if (!out.write(text) || !out.finish())
        return ExitOutputFailed;
    return ExitDone;
}
