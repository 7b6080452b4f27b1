#include "acquisition/samplingparameters.h"
#include "acquisition/samplingplan.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/measurementsetup.h"
#include "cli/output.h"
#include "signal/csvexport.h"

#include <QLocale>
#include <climits>
#include <optional>

// ferrun-cli dividers [--freq HZ | --time MS] [--samples N]
//
// Prints what the frequency/time panel shows after a value is typed into seF or seTime and
// the field is left, starting from the state of a first run: for a value outside the panel's
// range, its warning (the limit the panel names, in English) and the values it pulls the
// fields back to.
// (measure and cycle refuse such values: they would record at another rate than asked.)

using acquisition::Field;

int cli::runDividers(const QStringList &args)
{
    CommandLine line("dividers", "[--freq HZ | --time MS] [--samples N]",
        "Prints the controller's dividers and the frequency and time it really achieves for a\n"
        "sampling frequency or a measurement time, as the frequency/time panel shows them.");
    line.addOption({ "freq",
        QString("Sampling frequency in hertz as typed into the panel; it takes %1..%2 and "
                "answers other values with its warning.")
            .arg(acquisition::LowestFrequencyHz)
            .arg(acquisition::HighestFrequencyHz),
        "HZ" });
    line.addOption({ "time",
        QString("Measurement time in milliseconds as typed into the panel; it takes %1..%2 "
                "for %3 samples (in proportion for fewer) and answers other values with its "
                "warning.")
            .arg(acquisition::ShortestTime4allSRAM)
            .arg(acquisition::LongestTime4allSRAM)
            .arg(acquisition::FullMemorySamples),
        "MS" });
    line.addOption({ "samples",
        QString("Samples in the series, %1..%2 in steps of %3.")
            .arg(acquisition::BlockSamples)
            .arg(acquisition::FullMemorySamples)
            .arg(acquisition::BlockSamples),
        "N", QString::number(acquisition::FullMemorySamples) });
    line.addExitCode(ExitDone,
        "printed as key=value lines: warning (for a value outside the panel's range, the "
        "limit its warning names, in English: \"below the board's lowest frequency, 75 Hz\"; "
        "empty otherwise), Time4allSRAM, d1, d2, SamplePeriodCycles, F (Hz) and T (ms) as "
        "the board achieves them, in the shortest form that reads back exactly, seF, seTime "
        "(the values the panel shows after the field is left)");
    line.addExitCode(ExitOutputFailed, "standard output could not be written");
    if (const std::optional<int> status = line.parse(args))
        return *status;
    if (line.isSet("freq") && line.isSet("time"))
        return line.error("give either --freq or --time, not both");

    const std::optional<int> samples
        = line.intValue("samples", acquisition::BlockSamples, acquisition::FullMemorySamples);
    if (!samples)
        return ExitUsage;
    if (*samples % acquisition::BlockSamples != 0)
        return line.error(QString("--samples expects %1..%2 in steps of %3, got %4")
                              .arg(acquisition::BlockSamples)
                              .arg(acquisition::FullMemorySamples)
                              .arg(acquisition::BlockSamples)
                              .arg(*samples));

    std::optional<int> frequency;
    std::optional<int> time;
    // Whatever whole number could be typed into the field; the panel answers it.
    if (line.isSet("freq")) {
        frequency = line.intValue("freq", 0, INT_MAX);
        if (!frequency)
            return ExitUsage;
    } else if (line.isSet("time")) {
        time = line.intValue("time", 0, INT_MAX);
        if (!time)
            return ExitUsage;
    }

    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    panel.assign(Field::seSamples, *samples);

    // The panel's warning is its own language's; the limit it names is the sampling plan's.
    QString warning;
    const auto typeAndLeave = [&](Field field, int value) {
        panel.setFocusField(field);
        panel.userTyped(field, QString::number(value));
        if (panel.lErrInVisible()) {
            acquisition::SamplingRequest request;
            request.given = field == Field::seTime ? acquisition::SamplingRequest::Given::Time
                                                   : acquisition::SamplingRequest::Given::Frequency;
            request.value = value;
            request.samples = *samples;
            const acquisition::SamplingPlan plan = acquisition::planSampling(request);
            warning = plan.outside ? limitText(*plan.outside, *samples) : panel.lErrIn();
        }
        panel.userLeft(field);
    };
    if (frequency)
        typeAndLeave(Field::seF, *frequency);
    else if (time)
        typeAndLeave(Field::seTime, *time);

    StandardOutput out;
    const auto print = [&out](const QString &key, const QString &value) {
        out.write(key + u'=' + value + u'\n');
    };
    print("warning", warning);
    print("Time4allSRAM", QString::number(panel.Time4allSRAM()));
    print("d1", QString::number(panel.d1()));
    print("d2", QString::number(panel.d2()));
    print("SamplePeriodCycles", QString::number(panel.SamplePeriodCycles()));
    print("F", QString::fromLatin1(sig::formatNumber(panel.trueFrequency())));
    print("T", QString::fromLatin1(sig::formatNumber(panel.TrueTimeMs())));
    print("seF", QString::number(panel.value(Field::seF)));
    print("seTime", QString::number(panel.value(Field::seTime)));
    return out.finish() ? 0 : ExitOutputFailed;
}
