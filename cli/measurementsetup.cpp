#include "cli/measurementsetup.h"

#include "acquisition/instrument.h"
#include "cli/commandline.h"
#include "cli/output.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/leftoversave.h"
#include "files/windows1251.h"

#include <cstdio>

namespace cli {

void printError(const QString &message)
{
    // Names in messages come from the user and the file system: no control character of
    // theirs reaches the terminal.
    std::fprintf(stderr, "ferrun-cli: %s\n", qPrintable(escaped(message)));
}

std::optional<int> readTarget(const CommandLine &line, MeasurementOptions &o)
{
    o.output = line.value("output");
    if (o.output.isEmpty())
        return line.error("-o FILE is required");
    o.device = line.value("device");
    o.simulator = line.isSet("simulator");
    if (o.simulator && line.isSet("device"))
        return line.error("give either --device or --simulator, not both");
    if (line.isSet("freq") && line.isSet("time"))
        return line.error("give either --freq or --time, not both");
    o.comment = line.value("comment");
    // A data file holds its comment in Windows-1251: what it cannot hold is said before the
    // measurement, not found out on reading the file back.
    if (const QString missing = files::notInWindows1251(o.comment); !missing.isEmpty())
        line.note(QString("the comment's characters %1 cannot be stored in a data file "
                          "(Windows-1251); they are saved as '?'")
                      .arg(missing));
    return std::nullopt;
}

std::optional<int> readChannelsRangeLaunch(const CommandLine &line, MeasurementOptions &o)
{
    o.channels = 0;
    for (const QString &part : line.value("channels").split(',')) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok, 10);
        if (!ok || n < 1 || n > files::ThermocoupleCount)
            return line.error(QString("--channels expects numbers 1..%1 separated by commas, "
                                      "got '%2'")
                                  .arg(files::ThermocoupleCount)
                                  .arg(line.value("channels")));
        // A channel named twice is a typing slip that would otherwise pass unnoticed.
        if (o.channels & files::thermocoupleBit(n))
            return line.error(QString("--channels names channel %1 twice").arg(n));
        o.channels |= files::thermocoupleBit(n);
    }
    const auto range = line.choiceValue("range", { "250", "500" });
    if (!range)
        return ExitUsage;
    o.rangeIndex = *range;
    const auto launch = line.choiceValue("launch", { "computer", "photodiode" });
    if (!launch)
        return ExitUsage;
    o.launchType = *launch;
    return std::nullopt;
}

std::optional<acquisition::SamplingPlan> planOf(
    const CommandLine &line, const MeasurementOptions &o, int samples, bool averaging)
{
    using acquisition::SamplingLimit;
    using acquisition::SamplingRequest;
    SamplingRequest request;
    request.samples = samples;
    request.channels = o.channels;
    request.averaging = averaging;
    if (o.time) {
        request.given = SamplingRequest::Given::Time;
        request.value = *o.time;
    } else if (o.frequency) {
        request.value = *o.frequency;
    }
    const acquisition::SamplingPlan plan = acquisition::planSampling(request);
    if (!plan.outside)
        return plan;
    const SamplingLimit &limit = *plan.outside;
    switch (limit.kind) {
    case SamplingLimit::Kind::FrequencyTooLow:
        line.error(QString("--freq %1 is below the board's lowest frequency, %2 Hz")
                       .arg(request.value)
                       .arg(limit.value));
        break;
    case SamplingLimit::Kind::FrequencyTooHigh:
        line.error(QString("--freq %1 is above the board's highest frequency, %2 Hz")
                       .arg(request.value)
                       .arg(limit.value));
        break;
    case SamplingLimit::Kind::TimeTooShort:
        line.error(QString("--time %1 is below the shortest time for %2 samples, %3 ms")
                       .arg(request.value)
                       .arg(samples)
                       .arg(limit.value));
        break;
    case SamplingLimit::Kind::TimeTooLong:
        line.error(QString("--time %1 is above the longest time for %2 samples, %3 ms")
                       .arg(request.value)
                       .arg(samples)
                       .arg(limit.value));
        break;
    }
    return std::nullopt;
}

acquisition::MeasurementRequest requestOf(
    const MeasurementOptions &o, const acquisition::SamplingPlan &plan)
{
    acquisition::MeasurementRequest request;
    request.plan = plan;
    request.rangeIndex = o.rangeIndex;
    request.launchType = o.launchType;
    return request;
}

QString failureText(acquisition::SessionFailure failure, std::optional<int> triggerTimeoutS)
{
    using acquisition::SessionFailure;
    switch (failure) {
    case SessionFailure::OutOfStep:
        return QStringLiteral("transfer out of step: the instrument sent more bytes than were "
                              "asked for");
    case SessionFailure::Disconnected:
        return QStringLiteral("board disconnected");
    case SessionFailure::NoReply:
        return QStringLiteral("no reply from the instrument");
    case SessionFailure::NoTrigger:
        return triggerTimeoutS
            ? QString("no photodiode trigger within %1 s").arg(*triggerTimeoutS)
            : QStringLiteral("no photodiode trigger");
    case SessionFailure::Incomplete:
        return QStringLiteral("the instrument's reply was incomplete");
    case SessionFailure::NoData:
        return QStringLiteral("the instrument ended the measurement without sending data");
    case SessionFailure::None:
        break;
    }
    return {};
}

bool connectInstrument(acquisition::Instrument &instrument)
{
    if (instrument.connectInstrument())
        return true;
    printError(QString("no instrument: %1").arg(instrument.lastError()));
    return false;
}

bool clearLeftoverSave(const QString &target)
{
    const files::LeftoverSave left = files::clearLeftoverSave(target);
    switch (left.outcome) {
    case files::LeftoverSave::Outcome::None:
        return true;
    case files::LeftoverSave::Outcome::Removed:
        std::fprintf(stderr, "removed %s, left by an interrupted save\n",
            qPrintable(escaped(files::temporarySaveName(target))));
        return true;
    case files::LeftoverSave::Outcome::Recovered:
        std::fprintf(stderr, "kept %s: a whole recording left by an interrupted save of %s\n",
            qPrintable(escaped(left.path)), qPrintable(escaped(target)));
        return true;
    case files::LeftoverSave::Outcome::NotRecovered:
        printError(QString("%1 holds a whole recording left by an interrupted save and cannot be "
                           "renamed (%2); move it away first")
                       .arg(left.path, left.reason));
        return false;
    }
    return true;
}

files::RecoveryStore recoveryStore()
{
    return files::RecoveryStore(files::RecoveryStore::defaultFolder());
}

void reportInterruptedRuns(const files::RecoveryStore &store)
{
    for (const files::RecoveryEntry &entry : store.repairInterruptedRuns())
        std::fprintf(stderr,
            "kept %s: the cycles of a run that ended without saving them (%lld bytes of "
            "data)\n",
            qPrintable(escaped(entry.path)), static_cast<long long>(entry.dataLength));
}

} // namespace cli
