#include "acquisition/devicewatcher.h"
#include "acquisition/discovery.h"
#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/replywatch.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/terminationsignals.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/measurementsetup.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "files/datafile.h"
#include "files/outputfile.h"
#include "files/recording.h"
#include "files/unsavedwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

// ferrun-cli measure: one measurement (or one "500 байт" short read) on the board or the
// built-in simulator, saved as a data file. The exit statuses are listed in the help.

namespace {

using acquisition::ExchangeEnd;
using acquisition::ExchangeOutcome;
using acquisition::MeasurementSession;
using acquisition::SessionFailure;
using acquisition::SessionState;
using cli::message;

// Its own statuses; 0, 1, 2 and 4 are those of cli/exitstatus.h.
constexpr int ExitNoReply = 3;
constexpr int ExitOutOfStep = 5;
constexpr int ExitDisconnected = 6;

// The exit status of a failed exchange.
int failureExit(SessionFailure failure)
{
    switch (failure) {
    case SessionFailure::OutOfStep:
    case SessionFailure::Incomplete:
        return ExitOutOfStep;
    case SessionFailure::Disconnected:
        return ExitDisconnected;
    case SessionFailure::NoReply:
    case SessionFailure::NoTrigger:
    case SessionFailure::NoData:
    case SessionFailure::None:
        break;
    }
    return ExitNoReply;
}

struct Options : cli::MeasurementOptions
{
    int samples = acquisition::FullMemorySamples;
    bool average = false;
    std::optional<int> triggerTimeoutS;
    bool shortRead = false;
    bool waitForBoard = false;
    acquisition::DiscoveryRoots roots;
    acquisition::SamplingPlan plan;
};

void describe(cli::CommandLine &line)
{
    line.addOption({ { "o", "output" },
        "The data file to write (required); \"-\" for standard output. A file is replaced only "
        "once whole; a device, FIFO or socket is written as a stream.",
        "FILE" });
    line.addOption(
        { "device", "The board's serial device (default: found by its USB identity).", "PATH" });
    line.addFlag({ "simulator" }, "Measure on the built-in board simulator.");
    line.addFlag({ "wait-for-board" },
        "When no board is plugged in, wait until one is (Ctrl+C ends the wait) instead of "
        "failing at once.");
    line.addOption(
        { "sysfs-root", "Look the board up in the device tree under DIR.", "DIR", "/sys" });
    line.addOption({ "dev-root", "Device nodes are named under DIR.", "DIR", "/dev" });
    line.addOption({ "freq",
        QString("Sampling frequency, %1..%2 Hz (default: %3, as in a first run of the window).")
            .arg(acquisition::LowestFrequencyHz)
            .arg(acquisition::HighestFrequencyHz)
            .arg(acquisition::DefaultFrequencyHz),
        "HZ" });
    line.addOption({ "time",
        QString("Measurement time, ms: %1..%2 for all %3 samples; for fewer samples the "
                "window's limits for them (an error names them).")
            .arg(acquisition::ShortestTime4allSRAM)
            .arg(acquisition::LongestTime4allSRAM)
            .arg(acquisition::FullMemorySamples),
        "MS" });
    line.addOption({ "samples",
        QString("Samples to record, %1..%2 in steps of %1")
            .arg(acquisition::BlockSamples)
            .arg(acquisition::FullMemorySamples),
        "N", QString::number(acquisition::FullMemorySamples) });
    line.addOption({ "channels", "Thermocouples to record, numbers 1..7 separated by commas",
        "LIST", "1,2,3,4,5,6,7" });
    line.addOption({ "range", "Temperature range: 250 or 500 degrees", "DEG", "250" });
    line.addFlag({ "average" },
        QString("Average 16 samples in the controller (records %1 samples).")
            .arg(acquisition::BlockSamples));
    line.addOption({ "launch", "Start from the computer, or on the photodiode signal",
        "computer|photodiode", "computer" });
    line.addOption({ "trigger-timeout",
        "With --launch photodiode: give up when no recording has come S seconds after the "
        "recording time (with --short: no reply S seconds after the request); default: wait "
        "for the trigger without a time-out.",
        "S" });
    line.addFlag({ "short" },
        "The \"500 байт\" read: one block of 250 fresh samples of the channels, saved as 500 "
        "bytes of data.");
    line.addOption({ "comment", "The comment stored in the file.", "TEXT" });
    line.addFlag({ "quiet" },
        "No progress and no notes: only what went wrong, and where a recording was kept.");
    line.addExitCode(cli::ExitDone, "saved");
    line.addExitCode(cli::ExitOutputFailed,
        "the file cannot be written (checked before measuring; after a measurement the "
        "recording is kept in the recovery store, named on standard error)");
    line.addExitCode(cli::ExitUsage,
        "bad arguments, or FILE is never written (a block device; standard output that is a "
        "terminal)");
    line.addExitCode(ExitNoReply,
        QString("no reply from the instrument: silent %1 s beyond the recording time, or "
                "between two blocks (or no trigger in time), or the measurement ended "
                "without data; the bytes received are kept (see below)")
            .arg(acquisition::ReplyGraceMs / 1000));
    line.addExitCode(cli::ExitNoInstrument, cli::NoInstrumentExit);
    line.addExitCode(ExitOutOfStep,
        "transfer out of step, or a short read's reply incomplete: the file is left as it "
        "was, the bytes received up to the last good block are kept (see below)");
    line.addExitCode(ExitDisconnected,
        "board disconnected (at once, whenever it happens; the bytes of a transfer are kept, "
        "see below)");
    const QString signalEnd = QStringLiteral(
        "; the file is left as it was, and a recording already made is kept in the recovery "
        "store (named on standard error)");
    line.addExitCode(128 + SIGHUP, "hung up (SIGHUP)" + signalEnd);
    line.addExitCode(128 + SIGINT, "interrupted (SIGINT, Ctrl+C)" + signalEnd);
    line.addExitCode(128 + SIGTERM, "terminated (SIGTERM)" + signalEnd);
}

// Reads the options; nothing when the command must end with the status already printed.
std::optional<int> readOptions(const QStringList &args, Options &o)
{
    cli::CommandLine line("measure", "-o FILE [options]",
        QString("Runs one measurement on the board and saves it as a data file. The recording\n"
                "is complete once its last block is in and the line has stayed quiet for %1 ms;\n"
                "a stray byte that the board's USB bridge holds back longer than that behind\n"
                "the last block cannot be seen. An instrument silent for %2 s beyond the\n"
                "recording time (or between two blocks) has not replied. SIGINT (Ctrl+C),\n"
                "SIGTERM and SIGHUP end the command at any moment and leave FILE as it was:\n"
                "a recording already made (while a FIFO waits for its reader, say) is kept in\n"
                "the recovery store. Progress goes to standard error when it is a terminal.\n"
                "The bytes of a failed transfer, up to its last good block, are kept beside a\n"
                "regular FILE as FILE.faulty (FILE.2.faulty, ... when taken; none is replaced),\n"
                "and in the recovery store (ferrun-cli recovered) when FILE is no regular file.")
            .arg(MeasurementSession::SettleMs)
            .arg(acquisition::ReplyGraceMs / 1000));
    describe(line);
    if (const auto status = line.parse(args))
        return status;
    if (const auto status = cli::readTarget(line, o))
        return status;
    o.waitForBoard = line.isSet("wait-for-board");
    if (o.waitForBoard && (o.simulator || !o.device.isEmpty()))
        return line.error("--wait-for-board waits for a board found by its USB identity: "
                          "not with --device or --simulator");
    o.roots.sysfsRoot = line.value("sysfs-root");
    o.roots.devRoot = line.value("dev-root");
    // A tree that is not there would be waited on for ever. (The device root only names the
    // nodes.)
    if (!QFileInfo(o.roots.sysfsRoot).isDir())
        return line.error(QString("--sysfs-root expects a folder; %1 is none")
                              .arg(cli::escaped(o.roots.sysfsRoot)));
    o.average = line.isSet("average");
    o.shortRead = line.isSet("short");

    const auto samples
        = line.intValue("samples", acquisition::BlockSamples, acquisition::FullMemorySamples);
    if (!samples)
        return cli::ExitUsage;
    if (*samples % acquisition::BlockSamples != 0)
        return line.error(QString("--samples must be %1..%2 in steps of %1, got %3")
                              .arg(acquisition::BlockSamples)
                              .arg(acquisition::FullMemorySamples)
                              .arg(*samples));
    if (o.average && line.isSet("samples") && *samples != acquisition::BlockSamples)
        return line.error(QString("--average records one block: --samples must then be %1")
                              .arg(acquisition::BlockSamples));
    o.samples = o.average ? acquisition::BlockSamples : *samples;

    // The board's limits for this many samples: nothing is pulled into them silently.
    if (line.isSet("freq")) {
        o.frequency = line.intValue(
            "freq", acquisition::LowestFrequencyHz, acquisition::HighestFrequencyHz);
        if (!o.frequency)
            return cli::ExitUsage;
    }
    if (line.isSet("time")) {
        const int blocks = acquisition::sramBlocksForSamples(o.samples);
        o.time = line.intValue(
            "time", acquisition::shortestTimeMs(blocks), acquisition::longestTimeMs(blocks));
        if (!o.time)
            return cli::ExitUsage;
    }

    if (const auto status = cli::readChannelsRangeLaunch(line, o))
        return status;
    const std::optional<acquisition::SamplingPlan> plan
        = cli::planOf(line, o, o.samples, o.average);
    if (!plan)
        return cli::ExitUsage;
    o.plan = *plan;
    if (line.isSet("trigger-timeout")) {
        if (o.launchType != 1)
            return line.error("--trigger-timeout needs --launch photodiode");
        o.triggerTimeoutS = line.intValue("trigger-timeout", 1, 1000000);
        if (!o.triggerTimeoutS)
            return cli::ExitUsage;
    }
    return std::nullopt;
}

int signalExit(int number, const QString &output)
{
    message(QString("%1: nothing saved, %2 left as it was")
                .arg(acquisition::TerminationSignals::describe(number), cli::outputShown(output)));
    return acquisition::TerminationSignals::exitStatus(number);
}

// A recording made but not delivered (its save failed, or a signal came first) goes to the
// recovery store, named. `why` begins the message.
int keepUndelivered(files::UnsavedWork &work, const files::Recording &recording,
    const QString &comment, const QString &why, int status)
{
    QString error;
    const QString kept = work.keepUndelivered(recording, comment, why, &error);
    if (kept.isEmpty())
        message(QString("%1; the recording could not be kept either: %2").arg(why, error));
    else
        message(QString("%1; the recording is kept in %2").arg(why, cli::escaped(kept)));
    return status;
}

// What a failed exchange received, kept by the keeper (beside a regular target, or in the
// recovery store), and said.
void keepFailed(files::UnsavedWork &work, const QString &output, const ExchangeOutcome &outcome,
    const QString &reason, const QString &comment)
{
    const files::Recording &received = outcome.recording;
    if (received.data.isEmpty()) {
        message(QString("nothing was received; %1 left as it was").arg(cli::outputShown(output)));
        return;
    }
    QString detail = reason;
    if (outcome.blocksExpected > 0)
        detail += QString(", cut at the last good block (%1 of %2 blocks)")
                      .arg(outcome.blocksReceived)
                      .arg(outcome.blocksExpected);
    files::Recording kept = received;
    kept.comment = comment;
    QString error;
    // Beside a regular file; standard output has no side.
    const QString target = output == QLatin1String("-") ? QString() : output;
    const QString path = work.keepFailed(kept, detail, target, &error);
    if (path.isEmpty()) {
        message(QString("the %1 received could not be kept: %2")
                    .arg(cli::count(received.data.size(), "byte", "bytes"), error));
        return;
    }
    message(QString("%1 left as it was; the %2 received up to the last good block are "
                    "kept in %3 (not a good recording)")
                .arg(cli::outputShown(output), cli::count(received.data.size(), "byte", "bytes"),
                    cli::escaped(path)));
}

} // namespace

int cli::runMeasure(const QStringList &args)
{
    Options o;
    if (const auto status = readOptions(args, o))
        return *status;

    // Refuse a target that cannot be written before the board records anything.
    if (const std::optional<int> status = cli::checkTarget(o.output))
        return *status;
    // A reader that goes away makes a write fail (EPIPE), and the recording is kept, instead
    // of ending the program with it.
    std::signal(SIGPIPE, SIG_IGN);
    acquisition::TerminationSignals termination;
    if (!termination.isActive()) {
        message(QString("cannot watch for signals: %1").arg(std::strerror(errno)));
        return cli::ExitOutputFailed;
    }
    files::UnsavedWork work(cli::recoveryStore(), files::RecoveryKeeper::Measure);

    if (o.waitForBoard && !acquisition::findInstrumentPort(o.roots)) {
        if (!o.quiet)
            message("waiting for the board to be plugged in (Ctrl+C ends the wait)");
        // A signal ends the wait through the event loop.
        const QMetaObject::Connection wait = QObject::connect(&termination,
            &acquisition::TerminationSignals::signalReceived, [] { QCoreApplication::exit(0); });
        acquisition::waitForInstrument(o.roots);
        QObject::disconnect(wait);
    }
    if (termination.received())
        return signalExit(termination.received(), o.output);

    acquisition::Instrument::Options where;
    where.device = o.device;
    where.simulator = o.simulator;
    where.simulatorKeepsHistory = true;
    where.roots = o.roots;
    acquisition::Instrument instrument(where);
    if (!cli::connectInstrument(instrument))
        return cli::ExitNoInstrument;
    if (termination.received())
        return signalExit(termination.received(), o.output);
    MeasurementSession &session = instrument.session();

    QEventLoop loop;
    cli::Progress progress(o.quiet);
    QElapsedTimer phaseClock;
    QTimer refresh;
    refresh.setInterval(250);
    acquisition::ReplyWatch watch(&session);
    if (o.triggerTimeoutS)
        watch.setTriggerTimeoutMs(qint64(*o.triggerTimeoutS) * 1000);
    bool waitingForTrigger = false;
    // How the command ends: the exchange's outcome, a board gone while nothing was awaited,
    // or a signal.
    std::optional<ExchangeOutcome> outcome;
    bool boardGone = false;

    const auto finish = [&] {
        progress.finish();
        refresh.stop();
        watch.stop();
        loop.quit();
    };
    const auto draw = [&] {
        switch (session.state()) {
        case SessionState::Measuring: {
            if (waitingForTrigger)
                break;
            const double total = std::max(1.0, session.MeasurementMs());
            const qint64 elapsed = phaseClock.elapsed();
            progress.bar("recording", std::min(0.99, elapsed / total), qint64(total) - elapsed);
            break;
        }
        case SessionState::WaitingToTransfer:
        case SessionState::Transferring: {
            const int expected = std::max(1, session.blocksExpected());
            const int stored = session.blocksStored();
            const qint64 elapsed = phaseClock.elapsed();
            const qint64 remaining = stored > 0 ? elapsed * (expected - stored) / stored
                                                : qint64(session.TransferMs());
            progress.bar("transfer", double(stored) / expected, remaining,
                QString("%1/%2 blocks").arg(stored).arg(expected));
            break;
        }
        default:
            break;
        }
    };

    QObject::connect(&refresh, &QTimer::timeout, draw);
    QObject::connect(&session, &MeasurementSession::stateChanged, [&](SessionState state) {
        if (state == SessionState::WaitingToTransfer) {
            if (!waitingForTrigger)
                progress.bar("recording", 1.0, 0);
            progress.finish();
            phaseClock.restart();
        }
        draw();
    });
    QObject::connect(&session, &MeasurementSession::blockStored, [&](int stored, int expected) {
        if (stored == expected || stored % 8 == 0)
            draw();
    });
    QObject::connect(&watch, &acquisition::ReplyWatch::waitingForTrigger, [&] {
        waitingForTrigger = true;
        const QString bound = o.triggerTimeoutS ? QString(" (at most %1 s)").arg(*o.triggerTimeoutS)
                                                : QString(" (Ctrl+C to give up)");
        if (!o.quiet)
            message(o.shortRead
                    ? QString("waiting for the photodiode trigger%1").arg(bound)
                    : QString("recording time passed: waiting for the photodiode trigger%1")
                          .arg(bound));
    });
    QObject::connect(
        &session, &MeasurementSession::portFailure, [&](const QString &text) { message(text); });
    QObject::connect(
        &session, &MeasurementSession::exchangeEnded, [&](const ExchangeOutcome &ended) {
            if (outcome || termination.received())
                return;
            outcome = ended;
            finish();
        });
    // A board that goes away while nothing is awaited ends the command as well.
    QObject::connect(&instrument, &acquisition::Instrument::disconnected, [&] {
        if (!outcome) {
            boardGone = true;
            finish();
        }
    });
    QObject::connect(
        &termination, &acquisition::TerminationSignals::signalReceived, [&] { finish(); });

    phaseClock.start();
    refresh.start();
    watch.start();
    if (o.shortRead) {
        // There is no earlier measurement in this run: the short read keeps the channel
        // interval a measurement with these options would have.
        acquisition::ReadRequest read;
        read.channels = o.channels;
        read.rangeIndex = o.rangeIndex;
        read.launchType = o.launchType;
        read.channelIntervalUs = o.plan.channelIntervalUs();
        session.startShortRead(read);
    } else {
        session.startMeasurement(cli::requestOf(o, o.plan));
    }
    draw();
    if (!outcome && !boardGone && !termination.received())
        loop.exec();
    session.setPort(nullptr);
    // The exchange is over: a signal from here on only ends a wait of the save.
    termination.disconnect();

    progress.finish();
    const bool made = outcome && outcome->completed();
    if (termination.received() && !made)
        return signalExit(termination.received(), o.output);
    if (boardGone || !outcome) {
        message(cli::failureText(SessionFailure::Disconnected));
        return ExitDisconnected;
    }
    if (!made) {
        const QString why = cli::failureText(outcome->failure, o.triggerTimeoutS);
        message(outcome->failure == SessionFailure::OutOfStep
                ? why + QStringLiteral(", so the recording is not saved")
                : why);
        keepFailed(work, o.output, *outcome, why, o.comment);
        return failureExit(outcome->failure);
    }

    files::Recording &recording = outcome->recording;
    recording.comment = o.comment;
    const auto signalled = [&](int number) {
        return keepUndelivered(work, recording, o.comment,
            QString("%1 before %2 was written")
                .arg(acquisition::TerminationSignals::describe(number), cli::outputShown(o.output)),
            acquisition::TerminationSignals::exitStatus(number));
    };
    // The recording came in together with a signal: it is kept, not saved.
    if (termination.received())
        return signalled(termination.received());
    // A FIFO's reader, or a pipe that takes no more, is waited for until a signal comes.
    files::OutputFile out;
    if (out.open(o.output, cli::recordingOutput(termination))
        && out.write(files::encodeDataFile(recording.header, recording.data, o.comment))
        && out.commit()) {
        if (!o.quiet)
            message(QString("saved %1: %2 of data")
                        .arg(cli::outputShown(o.output),
                            cli::count(recording.data.size(), "byte", "bytes")));
        return cli::ExitDone;
    }
    if (out.errorNumber() == EINTR)
        return signalled(cli::signalThatInterrupted(termination));
    return keepUndelivered(work, recording, o.comment, cli::shownError(out.errorString(), o.output),
        cli::ExitOutputFailed);
}
