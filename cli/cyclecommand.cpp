#include "acquisition/cyclerun.h"
#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/replywatch.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/terminationsignals.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/displayoptions.h"
#include "cli/measurementsetup.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "files/cyclesave.h"
#include "files/cyclestore.h"
#include "files/datafile.h"
#include "files/leftoversave.h"
#include "files/outputfile.h"
#include "files/unsavedwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

// ferrun-cli cycle: a cycle run on the board (or the built-in simulator), headless, with the
// window's bookkeeping, saved as the window saves a cycle run after "Стоп".

namespace {

using acquisition::CycleRun;
using acquisition::MeasurementSession;
using acquisition::TerminationSignals;
using cli::message;
using cli::Progress;

// Its own statuses; 0, 1, 2 and 4 are those of cli/exitstatus.h.
constexpr int ExitEndedEarly = 3;
constexpr int ExitNothingStored = 5;

// One memory block: the time bounds of seTime for 30000 samples, and the frequency bounds.
const int ShortestCycleMs = acquisition::shortestTimeMs(1);
const int LongestCycleMs = acquisition::longestTimeMs(1);

// Clears what killed saves of these targets left: the one file, or the numbered files of the
// cycles (FILE without its extension followed by a number of at least four digits).
void clearCycleLeftovers(const QString &output, bool oneFile)
{
    if (oneFile) {
        cli::clearLeftoverSaves(output);
        return;
    }
    const QString first = files::cycleFileName(output, 0);
    const qsizetype slash = first.lastIndexOf(u'/');
    const QString folder = first.left(slash + 1);
    const QString stem = first.mid(slash + 1).chopped(int(QStringLiteral("0000.kdx").size()));
    const QRegularExpression numbered(
        QStringLiteral("^%1\\d{4,}\\.kdx$").arg(QRegularExpression::escape(stem)));
    for (const QByteArray &target : files::leftoverTargets(QFile::encodeName(folder)))
        if (numbered.match(QFile::decodeName(target)).hasMatch())
            cli::clearLeftoverSaves(folder + QFile::decodeName(target));
}

// Whether a save failed on a wait that a signal (or the run's end by one) ended: the reason is
// the system's text of EINTR.
bool interrupted(const QString &reason)
{
    return reason == QString::fromLocal8Bit(std::strerror(EINTR));
}

} // namespace

int cli::runCycle(const QStringList &args)
{
    CommandLine line("cycle", "-o FILE [options]",
        QString(
            "Runs cycles on the board: short measurements of 30000 samples averaged over 16 in\n"
            "the controller (3500 bytes each), one after the other, and saves them as the\n"
            "window does after \"Стоп\": one file per cycle (FILE without its extension\n"
            "followed by the cycle number, run.kdx gives run0000.kdx, run0001.kdx, ...; FILE\n"
            "itself is not written), or with --one-file every cycle in order in FILE (\"-\",\n"
            "standard output, is refused: the cycles are files). The count of cycles stored\n"
            "shows on standard error when it is a terminal. A cycle is stored once its last\n"
            "block is in and the line has stayed quiet for %1 ms, and is then on disk in the\n"
            "recovery store (ferrun-cli recovered) until the run is saved: a kill or a crash\n"
            "loses at most the cycle under way. A cycle whose transfer fails is never stored,\n"
            "and the run ends there; a byte that comes after a cycle's quiet time, before or\n"
            "during the next recording, proves that cycle out of step: it is taken back out\n"
            "and the run ends. An instrument silent for %2 s beyond the recording time (or\n"
            "between two blocks) ends the run. Ctrl+C (SIGINT) stops after the cycle under way\n"
            "(a second one at once); SIGTERM and SIGHUP stop at once. Every way the run ends,\n"
            "the cycles stored are saved; what cannot be saved stays in the recovery store.\n"
            "After SIGTERM or SIGHUP the save waits for nothing (a FIFO's reader, say);\n"
            "otherwise a signal ends such a wait, and the cycles stay in the store.")
            .arg(MeasurementSession::SettleMs)
            .arg(acquisition::ReplyGraceMs / 1000));
    line.addOption({ { "o", "output" }, "Where the cycles go (see above).", "FILE" });
    line.addOption(
        { "device", "Serial device of the board (default: found by its USB identity).", "DEV" });
    line.addFlag({ "simulator" }, "Use the built-in board simulator instead of a board.");
    line.addOption({ "count", "Cycles to store (default: until Ctrl+C).", "N" });
    line.addFlag({ "one-file" }, "Keep every cycle in one file (\"В один файл\").");
    line.addOption({ "freq",
        QString("Sampling frequency in Hz, %1..%2.")
            .arg(acquisition::LowestFrequencyHz)
            .arg(acquisition::HighestFrequencyHz),
        "HZ" });
    line.addOption({ "time",
        QString("Recording time of each cycle in ms, %1..%2 (default: that of a first run).")
            .arg(ShortestCycleMs)
            .arg(LongestCycleMs),
        "MS" });
    line.addOption({ "channels", "Thermocouples recorded, numbers 1..7 separated by commas.",
        "LIST", "1,2,3,4,5,6,7" });
    line.addOption({ "range", "Input range in degrees: 250 or 500.", "DEG", "250" });
    line.addOption(
        { "launch", "Start of each recording: computer or photodiode.", "HOW", "computer" });
    line.addOption({ "comment", "Comment stored in every file.", "TEXT" });
    line.addFlag(
        { "quiet" }, "No progress and no notes: only what went wrong, and where cycles were kept.");
    line.addExitCode(cli::ExitDone, "the cycles were stored and saved (also after a signal)");
    line.addExitCode(cli::ExitOutputFailed,
        "a file could not be written (the cycles stay in the recovery store, named on "
        "standard error)");
    line.addExitCode(ExitEndedEarly,
        "the run ended before --count cycles (no reply from the instrument, a failed "
        "transfer, a cycle proven out of step, the board disconnected, a cycle that could "
        "not be written to disk, or too little memory); the cycles stored before were saved");
    line.addExitCode(cli::ExitNoInstrument, cli::NoInstrumentExit);
    line.addExitCode(ExitNothingStored, "no cycle was stored; nothing was written");
    line.addExitCode(
        ExitUsage, "bad arguments, or FILE is never written (standard output, a block device)");
    line.addExitCode(128 + SIGINT,
        "the save was waiting (for a FIFO's reader, say) when a signal came: the cycles stay "
        "in the recovery store (128 + the signal's number: 130, 143, 129)");
    if (const auto status = line.parse(args))
        return *status;

    cli::MeasurementOptions o;
    if (const auto status = readTarget(line, o))
        return *status;
    std::optional<int> count;
    if (line.isSet("count")) {
        count = line.intValue("count", 1, 1000000);
        if (!count)
            return ExitUsage;
    }
    if (line.isSet("freq")) {
        o.frequency = line.intValue(
            "freq", acquisition::LowestFrequencyHz, acquisition::HighestFrequencyHz);
        if (!o.frequency)
            return ExitUsage;
    }
    if (line.isSet("time")) {
        o.time = line.intValue("time", ShortestCycleMs, LongestCycleMs);
        if (!o.time)
            return ExitUsage;
    }
    if (const auto status = readChannelsRangeLaunch(line, o))
        return *status;
    // One memory block averaged over 16 samples in the controller: 3500 bytes a cycle.
    const std::optional<acquisition::SamplingPlan> plan
        = planOf(line, o, acquisition::BlockSamples, true);
    if (!plan)
        return ExitUsage;
    const QString &output = o.output;
    const QString &comment = o.comment;
    const bool oneFile = line.isSet("one-file");

    if (output == QLatin1String("-"))
        return line.error("-o - (standard output) is refused: a cycle run is saved as files");
    // Refuse a target that cannot be written before the board records anything.
    const QString first = oneFile ? output : files::cycleFileName(output, 0);
    QString reason;
    int error = 0;
    if (!files::OutputFile::probe(first, {}, &reason, &error)) {
        message(shownError(reason, first));
        return outputStatus(error);
    }
    clearCycleLeftovers(output, oneFile);
    // A reader that goes away makes a write fail (EPIPE), and the cycles stay in the store,
    // instead of ending the program with them unsaved.
    std::signal(SIGPIPE, SIG_IGN);
    TerminationSignals termination;
    files::UnsavedWork work(recoveryStore(), files::RecoveryKeeper::Cycle);
    reportInterruptedRuns(work.recovery());
    files::CycleStore &cycles = work.cycles();

    acquisition::Instrument::Options where;
    where.device = o.device;
    where.simulator = o.simulator;
    acquisition::Instrument instrument(where);
    if (!cli::connectInstrument(instrument))
        return cli::ExitNoInstrument;
    MeasurementSession &session = instrument.session();
    CycleRun cycle(&session, nullptr, &cycles);
    cycle.setRequestSource([&] { return requestOf(o, *plan); });

    QEventLoop loop;
    Progress progress(o.quiet);
    int exitCode = cli::ExitDone;
    bool finished = false;
    QElapsedTimer runClock;
    acquisition::ReplyWatch watch(&session);
    // A photodiode launch waits for its trigger as long as a launch from the computer waits
    // for its reply.
    watch.setTriggerTimeoutMs(acquisition::ReplyGraceMs);

    // Stops the run at once (the measurement under way is dropped) and leaves the loop.
    const auto finish = [&](int code, const QString &why) {
        if (finished)
            return;
        finished = true;
        if (!why.isEmpty())
            message(why);
        exitCode = code;
        cycle.stop();
        watch.stop();
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
    };

    QObject::connect(
        &session, &MeasurementSession::portFailure, [&](const QString &text) { message(text); });
    // A stored cycle that later bytes proved wrong is kept with the failed transfers.
    QObject::connect(&cycle, &CycleRun::cycleRetracted, [&](const files::Recording &taken) {
        files::Recording kept = taken;
        kept.comment = comment;
        QString error;
        const QString path = work.keepFailed(
            kept, QStringLiteral("a cycle proven out of step after its quiet time"), {}, &error);
        message(path.isEmpty()
                ? QString("cycle %1 was out of step and is not kept as good; its bytes could not "
                          "be kept: %2")
                      .arg(cycles.count() + 1)
                      .arg(error)
                : QString("cycle %1 was out of step and is not kept as good; its bytes up to the "
                          "last good block are kept in %2")
                      .arg(cycles.count() + 1)
                      .arg(escaped(path)));
    });
    QObject::connect(&cycle, &CycleRun::ended, [&](CycleRun::Ending ending) {
        switch (ending) {
        case CycleRun::Ending::Failed:
            finish(ExitEndedEarly,
                failureText(cycle.failure(), acquisition::ReplyGraceMs / 1000)
                    + ": the cycle under way is not stored");
            return;
        case CycleRun::Ending::OutOfStep:
            finish(ExitEndedEarly,
                "bytes came after a cycle's quiet time: the run is out of step and ends; the "
                "cycles before are kept");
            return;
        case CycleRun::Ending::NotWritten: {
            QString error;
            files::Recording unwritten = cycle.unwritten();
            const QString kept = work.keepUndelivered(unwritten, comment,
                QStringLiteral("a cycle the run could not write to disk"), &error);
            finish(ExitEndedEarly,
                QString("a cycle could not be written to disk, the run ends: %1; %2")
                    .arg(cycle.writeError(),
                        kept.isEmpty() ? QString("it could not be kept either: %1").arg(error)
                                       : QString("it is kept in %1").arg(escaped(kept))));
            return;
        }
        case CycleRun::Ending::LowMemory:
            finish(ExitEndedEarly,
                QString("stopped: at most %1 KB of memory available")
                    .arg(CycleRun::LowMemoryBytes / 1024));
            return;
        case CycleRun::Ending::Cancelled:
            finish(ExitEndedEarly, "the measurement was cancelled");
            return;
        }
    });
    QObject::connect(&instrument, &acquisition::Instrument::disconnected,
        [&] { finish(ExitEndedEarly, failureText(acquisition::SessionFailure::Disconnected)); });
    QObject::connect(&cycle, &CycleRun::cycleStored, [&](int stored, qsizetype bytes) {
        const QString of = count ? QString("/%1").arg(*count) : QString();
        progress.line(QString("cycles stored: %1%2 (%3 each), %4 since the start")
                          .arg(stored)
                          .arg(of)
                          .arg(cli::count(bytes, "byte", "bytes"))
                          .arg(minutesAndSeconds(runClock.elapsed())));
        // "Стоп" now: the restart already scheduled by this cycle then does nothing.
        if ((count && stored >= *count) || termination.received() == SIGINT)
            finish(cli::ExitDone, {});
    });
    // Ctrl+C stops after the cycle under way, a second one at once; SIGTERM and SIGHUP (a
    // service manager, a closed terminal) at once. The cycles stored are saved either way.
    int interrupts = 0;
    QObject::connect(&termination, &TerminationSignals::signalReceived, [&](int number) {
        if (number == SIGINT && ++interrupts == 1) {
            message(QString("%1: stopping after the cycle under way (Ctrl+C again to stop at "
                            "once)")
                        .arg(TerminationSignals::describe(number)));
            return;
        }
        finish(cli::ExitDone,
            QString("%1: the cycle under way was dropped")
                .arg(TerminationSignals::describe(number)));
    });

    runClock.start();
    watch.start();
    cycle.start();
    loop.exec();
    session.setPort(nullptr);
    // The run is over: a signal from here on only ends a wait of the save.
    termination.disconnect();

    progress.finish();
    if (cycles.count() == 0) {
        cycles.discard();
        message("no cycle was stored; nothing was written");
        return ExitNothingStored;
    }

    // After SIGTERM or SIGHUP (stop at once) the save waits for nothing; after the stop that
    // Ctrl+C asked for, a signal ends a wait.
    const int stoppedBy = termination.received();
    const files::OutputOptions options
        = recordingOutput(termination, stoppedBy == SIGTERM || stoppedBy == SIGHUP);
    // Why `file` was not written: what ended a wait in the save, or the refusal as the output
    // words it (asked again: a refusal by rule or of the folder names its cause), or the
    // system's reason.
    const auto cannotWrite = [&](const QString &file, const QString &error) {
        if (interrupted(reason))
            return QString("cannot write %1: interrupted by a signal while waiting for it")
                .arg(escaped(file));
        QString refusal;
        if (!files::OutputFile::probe(file, options, &refusal))
            return shownError(refusal, file);
        return QString("cannot write %1: %2").arg(escaped(file), reason.isEmpty() ? error : reason);
    };
    const auto notSaved = [&](const QString &why) {
        cycles.setComment(comment);
        message(QString("%1; the %2 stay in the recovery store: %3")
                    .arg(why, cli::count(cycles.count(), "cycle", "cycles"),
                        escaped(cycles.journals().join(QStringLiteral(", ")))));
        if (!interrupted(reason))
            return cli::ExitOutputFailed;
        const int number = stoppedBy ? stoppedBy : signalThatInterrupted(termination);
        return TerminationSignals::exitStatus(number);
    };
    QString saveError;
    if (oneFile) {
        if (cycles.saveOneFile(output, comment, &saveError, &reason, options)) {
            if (!o.quiet)
                message(QString("saved %1: %2, %3 of data")
                            .arg(escaped(output), cli::count(cycles.count(), "cycle", "cycles"),
                                cli::count(cycles.dataBytes(), "byte", "bytes")));
            return exitCode;
        }
        return notSaved(cannotWrite(output, saveError));
    }

    const files::CycleSaveResult result = cycles.savePerCycle(output, comment, options);
    if (!o.quiet && !result.written.isEmpty())
        message(result.written.size() == 1
                ? QString("saved %1: 1 cycle").arg(escaped(result.written.first()))
                : QString("saved %1, one file per cycle: %2 to %3")
                      .arg(cli::count(result.written.size(), "cycle", "cycles"),
                          escaped(result.written.last()), escaped(result.written.first())));
    if (result.ok())
        return exitCode;
    reason = result.reason;
    return notSaved(cannotWrite(result.failedFile, result.error));
}
