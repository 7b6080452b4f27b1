#include "cli/measurementsetup.h"

#include "acquisition/instrument.h"
#include "acquisition/terminationsignals.h"
#include "cli/commandline.h"
#include "cli/displayoptions.h"
#include "cli/output.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/leftoversave.h"
#include "files/windows1251.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <csignal>
#include <sys/eventfd.h>
#include <unistd.h>

namespace cli {

std::optional<int> readTarget(const CommandLine &line, MeasurementOptions &o)
{
    if (!line.isSet("output"))
        return line.error("-o FILE is required");
    o.output = line.value("output");
    o.quiet = line.isSet("quiet");
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
                      .arg(escaped(missing)));
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

QString limitText(const acquisition::SamplingLimit &limit, int samples)
{
    using Kind = acquisition::SamplingLimit::Kind;
    switch (limit.kind) {
    case Kind::FrequencyTooLow:
        return QString("below the board's lowest frequency, %1 Hz").arg(limit.value);
    case Kind::FrequencyTooHigh:
        return QString("above the board's highest frequency, %1 Hz").arg(limit.value);
    case Kind::TimeTooShort:
        return QString("below the shortest time for %1 samples, %2 ms")
            .arg(samples)
            .arg(limit.value);
    case Kind::TimeTooLong:
        return QString("above the longest time for %1 samples, %2 ms")
            .arg(samples)
            .arg(limit.value);
    }
    return {};
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
    line.error(QString("%1 %2 is %3")
                   .arg(o.time ? "--time" : "--freq")
                   .arg(request.value)
                   .arg(limitText(*plan.outside, samples)));
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
        return triggerTimeoutS ? QString("no photodiode trigger within %1 s").arg(*triggerTimeoutS)
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
    message(QString("no instrument: %1").arg(instrument.lastError()));
    return false;
}

void clearLeftoverSaves(const QString &target)
{
    for (const files::LeftoverSave &left : files::clearLeftoverSaves(target)) {
        switch (left.outcome) {
        case files::LeftoverSave::Outcome::Removed:
            message(QString("removed %1, left by a save of %2 that was killed")
                        .arg(escaped(left.path), escaped(target)));
            break;
        case files::LeftoverSave::Outcome::Recovered:
            message(QString("kept %1: a whole recording left by a save of %2 that was killed")
                        .arg(escaped(left.path), escaped(target)));
            break;
        case files::LeftoverSave::Outcome::NotRecovered:
            message(QString("%1 holds a whole recording left by a save of %2 that was killed, and "
                            "cannot be renamed (%3): it stays as it is")
                        .arg(escaped(left.path), escaped(target), left.reason));
            break;
        }
    }
}

std::optional<int> checkTarget(const QString &target)
{
    if (target == QLatin1String("-")) {
        if (standardStreamClosed(STDOUT_FILENO)) {
            message("cannot write to standard output: it is closed");
            return ExitOutputFailed;
        }
        if (::isatty(STDOUT_FILENO)) {
            message("standard output is a terminal: a data file is not written there (redirect "
                    "it, or give -o FILE)");
            return ExitUsage;
        }
        return std::nullopt;
    }
    QString reason;
    int error = 0;
    if (!files::OutputFile::probe(target, {}, &reason, &error)) {
        message(shownError(reason, target));
        return outputStatus(error);
    }
    clearLeftoverSaves(target);
    return std::nullopt;
}

files::OutputOptions recordingOutput(
    const acquisition::TerminationSignals &termination, bool waitsEnded)
{
    files::OutputOptions options;
    options.allowStandardOutput = true;
    // Readable from its making: every wait ends at once.
    static const int ended = ::eventfd(1, EFD_CLOEXEC);
    options.interruptFd = waitsEnded ? ended : termination.wakeDescriptor();
    return options;
}

int signalThatInterrupted(const acquisition::TerminationSignals &termination)
{
    // The signal's byte waits in the watcher's pipe (no event loop ran since the wait).
    while (!termination.received())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return termination.received();
}

files::RecoveryStore recoveryStore()
{
    return files::RecoveryStore(files::RecoveryStore::defaultFolder());
}

void reportInterruptedRuns(const files::RecoveryStore &store)
{
    for (const files::RecoveryEntry &entry : store.repairInterruptedRuns())
        message(QString("kept %1: the cycles of a run that ended without saving them (%2 of "
                        "data)")
                    .arg(escaped(entry.path), count(entry.dataLength, "byte", "bytes")));
}

} // namespace cli
