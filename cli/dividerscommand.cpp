#include "acquisition/samplingparameters.h"
#include "cli/commandline.h"
#include "cli/commands.h"

#include <QLocale>
#include <cstdio>
#include <optional>

// ferrun-cli dividers [--freq HZ | --time MS] [--samples N]
//
// Prints what the frequency/time panel shows after a value is typed into seF or seTime and
// the field is left, starting from the state of a first run. Values the panel would answer
// with its warning (and pull back on leaving) are refused here, naming the range the panel
// takes, so that a script never goes on with a value it did not ask for.

using acquisition::Field;

int cli::runDividers(const QStringList &args)
{
    CommandLine line("dividers", "[--freq HZ | --time MS] [--samples N]",
        "Prints the controller's dividers and the frequency and time it really achieves for a\n"
        "sampling frequency or a measurement time, as the frequency/time panel shows them.");
    line.addOption({ "freq",
        QString("Sampling frequency in hertz, %1..%2.")
            .arg(acquisition::LowestFrequencyHz)
            .arg(acquisition::HighestFrequencyHz),
        "HZ" });
    line.addOption({ "time",
        QString("Measurement time in milliseconds, %1..%2 for %3 samples, in proportion "
                "for fewer.")
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
    line.addExitCode(0,
        "printed as key=value lines (warning, always empty; Time4allSRAM, d1, "
        "d2, SamplePeriodCycles, F, T, seF, seTime)");
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
    const int blocks = *samples / acquisition::BlockSamples;

    std::optional<int> frequency;
    std::optional<int> time;
    if (line.isSet("freq")) {
        frequency = line.intValue(
            "freq", acquisition::LowestFrequencyHz, acquisition::HighestFrequencyHz);
        if (!frequency)
            return ExitUsage;
    } else if (line.isSet("time")) {
        // The panel's own limits for this many blocks, as its warning names them.
        time = line.intValue("time", blocks * acquisition::ShortestTime4allSRAM / 8,
            blocks * acquisition::LongestTime4allSRAM / 8);
        if (!time)
            return ExitUsage;
    }

    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    panel.assign(Field::seSamples, *samples);

    QString warning;
    const auto typeAndLeave = [&](Field field, int value) {
        panel.setFocusField(field);
        panel.userTyped(field, QString::number(value));
        if (panel.lErrInVisible())
            warning = panel.lErrIn();
        panel.userLeft(field);
    };
    if (frequency)
        typeAndLeave(Field::seF, *frequency);
    else if (time)
        typeAndLeave(Field::seTime, *time);
    // The ranges above are the panel's: a warning here means they have drifted apart.
    if (!warning.isEmpty())
        return line.error(QString("the panel refuses this value (%1)").arg(warning));

    const auto print = [](const QString &key, const QString &value) {
        std::printf("%s=%s\n", qPrintable(key), value.toUtf8().constData());
    };
    print("warning", warning);
    print("Time4allSRAM", QString::number(panel.Time4allSRAM()));
    print("d1", QString::number(panel.d1()));
    print("d2", QString::number(panel.d2()));
    print("SamplePeriodCycles", QString::number(panel.SamplePeriodCycles()));
    print("F", QString::number(panel.trueFrequency(), 'f', 3));
    print("T", QString::number(panel.TrueTimeMs(), 'f', 3));
    print("seF", QString::number(panel.value(Field::seF)));
    print("seTime", QString::number(panel.value(Field::seTime)));
    return 0;
}
