#include "acquisition/samplingparameters.h"
#include "cli/commands.h"

#include <QLocale>
#include <cstdio>
#include <optional>

namespace {

using acquisition::Field;

struct Options
{
    std::optional<int> frequency;
    std::optional<int> time;
    std::optional<int> samples;
};

// Parses a whole decimal number that fits an int.
std::optional<int> parseInt(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

// Prints what the frequency/time panel shows after a value is typed into seF or seTime and
// the field is left, starting from the state of a first run.
int cli::runDividers(const QStringList &args)
{
    Options options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &name = args.at(i);
        std::optional<int> *target = nullptr;
        if (name == "--freq")
            target = &options.frequency;
        else if (name == "--time")
            target = &options.time;
        else if (name == "--samples")
            target = &options.samples;
        else
            return usageError(QString("dividers: unknown argument '%1'").arg(name));
        if (target->has_value())
            return usageError(QString("dividers: %1 given twice").arg(name));
        if (i + 1 >= args.size())
            return usageError(QString("dividers: %1 needs a value").arg(name));
        const QString text = args.at(++i);
        *target = parseInt(text);
        if (!target->has_value())
            return usageError(
                QString("dividers: %1 expects a whole number, got '%2'").arg(name, text));
    }
    if (options.frequency && options.time)
        return usageError("dividers: give either --freq or --time, not both");
    if (options.samples) {
        const int n = *options.samples;
        if (n < acquisition::BlockSamples || n > acquisition::FullMemorySamples
            || n % acquisition::BlockSamples != 0)
            return usageError(
                QString("dividers: --samples must be 30000..240000 in steps of 30000, got %1")
                    .arg(n));
    }

    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    if (options.samples)
        panel.assign(Field::seSamples, *options.samples);

    QString warning;
    const auto typeAndLeave = [&](Field field, int value) {
        panel.setFocusField(field);
        panel.userTyped(field, QString::number(value));
        if (panel.lErrInVisible())
            warning = panel.lErrIn();
        panel.userLeft(field);
    };
    if (options.frequency)
        typeAndLeave(Field::seF, *options.frequency);
    else if (options.time)
        typeAndLeave(Field::seTime, *options.time);

    const auto line = [](const QString &key, const QString &value) {
        std::printf("%s=%s\n", qPrintable(key), value.toUtf8().constData());
    };
    line("warning", warning);
    line("Time4allSRAM", QString::number(panel.Time4allSRAM()));
    line("d1", QString::number(panel.d1()));
    line("d2", QString::number(panel.d2()));
    line("SamplePeriodCycles", QString::number(panel.SamplePeriodCycles()));
    line("F", QString::number(panel.trueFrequency(), 'f', 3));
    line("T", QString::number(panel.TrueTimeMs(), 'f', 3));
    line("seF", QString::number(panel.value(Field::seF)));
    line("seTime", QString::number(panel.value(Field::seTime)));
    return 0;
}
