#include "acquisition/cyclerun.h"
#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/replywatch.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/terminationsignals.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/measurementsetup.h"
#include "cli/output.h"
#include "files/cyclesave.h"
#include "files/cyclestore.h"
#include "files/datafile.h"
#include "files/outputfile.h"
#include "files/unsavedwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <optional>

// ferrun-cli cycle: a cycle run on the board (or the built-in simulator), headless, with the
// window's bookkeeping, saved as the window saves a cycle run after "Стоп".

namespace {

using acquisition::CycleRun;
using acquisition::MeasurementSession;
using acquisition::TerminationSignals;
using cli::printError;

constexpr int ExitSaved = 0;
constexpr int ExitNotSaved = 1;
constexpr int ExitEndedEarly = 3;
constexpr int ExitNoInstrument = 4;
constexpr int ExitNothingStored = 5;

// One memory block: the time bounds of seTime for 30000 samples, and the frequency bounds.
const int ShortestCycleMs = acquisition::shortestTimeMs(1);
const int LongestCycleMs = acquisition::longestTimeMs(1);

// The saves of an earlier run into these targets that were interrupted: each is cleared away
// (a whole recording kept under a name of its own). False when one cannot be.
bool clearLeftoverSaves(const QString &output, bool oneFile)
{
    if (oneFile)
        return cli::clearLeftoverSave(output);
    // The per-cycle files are named after the output with a number of at least four digits.
    const QFileInfo first(files::cycleFileName(output, 0));
    const QString stem = first.fileName().chopped(int(QStringLiteral("0000.kdx").size()));
    const QRegularExpression numbered(
        QStringLiteral("^%1(\\d{4,})\\.kdx\\.saving$").arg(QRegularExpression::escape(stem)));
    bool ok = true;
    for (const QString &name : QDir(first.absolutePath()).entryList(QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = numbered.match(name);
        if (match.hasMatch())
            ok = cli::clearLeftoverSave(files::cycleFileName(output, match.captured(1).toInt()))
                && ok;
    }
    return ok;
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
            "itself is not written), or with --one-file every cycle in order in FILE. One line\n"
            "per stored cycle on standard error. A cycle is stored once its last block is in\n"
            "and the line has stayed quiet for %1 ms, and is then on disk in the recovery\n"
            "store (ferrun-cli recovered) until the run is saved: a kill or a crash loses at\n"
            "most the cycle under way. A cycle whose transfer fails is never stored, and the\n"
            "run ends there; a byte that comes after a cycle's quiet time, before or during the\n"
            "next recording, proves that cycle out of step: it is taken back out and the run\n"
            "ends. An instrument silent for %2 s beyond the recording time (or between two\n"
            "blocks) ends the run. Ctrl+C (SIGINT) stops after the cycle under way (a second\n"
            "one at once); SIGTERM and SIGHUP stop at once. Every way the run ends, the cycles\n"
            "stored are saved; what cannot be saved stays in the recovery store.")
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
    line.addExitCode(ExitSaved, "the cycles were stored and saved (also after a signal)");
    line.addExitCode(ExitNotSaved,
        "a file could not be written (the cycles stay in the recovery store, named on "
        "standard error)");
    line.addExitCode(ExitEndedEarly,
        "the run ended before --count cycles (no reply from the instrument, a failed "
        "transfer, a cycle proven out of step, the board disconnected, a cycle that could "
        "not be written to disk, or too little memory); the cycles stored before were saved");
    line.addExitCode(ExitNoInstrument, "no instrument found or the port cannot be opened");
    line.addExitCode(ExitNothingStored, "no cycle was stored; nothing was written");
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

    // Refuse a target that cannot be written before the board records anything.
    QString reason;
    if (!files::OutputFile::probe(
            oneFile ? output : files::cycleFileName(output, 0), {}, &reason)) {
        printError(reason);
        return ExitNotSaved;
    }
    if (!clearLeftoverSaves(output, oneFile))
        return ExitNotSaved;
    TerminationSignals termination;
    files::UnsavedWork work(recoveryStore(), files::RecoveryKeeper::Cycle);
    reportInterruptedRuns(work.recovery());
    files::CycleStore &cycles = work.cycles();

    acquisition::Instrument::Options where;
    where.device = o.device;
    where.simulator = o.simulator;
    acquisition::Instrument instrument(where);
    if (!cli::connectInstrument(instrument))
        return ExitNoInstrument;
    MeasurementSession &session = instrument.session();
    CycleRun cycle(&session, nullptr, &cycles);
    cycle.setRequestSource([&] { return requestOf(o, *plan); });

    QEventLoop loop;
    int exitCode = ExitSaved;
    bool finished = false;
    QElapsedTimer runClock;
    acquisition::ReplyWatch watch(&session);
    // A photodiode launch waits for its trigger as long as a launch from the computer waits
    // for its reply.
    watch.setTriggerTimeoutMs(acquisition::ReplyGraceMs);

    // Stops the run at once (the measurement under way is dropped) and leaves the loop.
    const auto finish = [&](int code, const QString &message) {
        if (finished)
            return;
        finished = true;
        if (!message.isEmpty())
            printError(message);
        exitCode = code;
        cycle.stop();
        watch.stop();
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
    };

    QObject::connect(&session, &MeasurementSession::portFailure,
        [&](const QString &message) { printError(message); });
    // A stored cycle that later bytes proved wrong is kept with the failed transfers.
    QObject::connect(&cycle, &CycleRun::cycleRetracted, [&](const files::Recording &taken) {
        files::Recording kept = taken;
        kept.comment = comment;
        QString error;
        const QString path = work.keepFailed(
            kept, QStringLiteral("a cycle proven out of step after its quiet time"), {}, &error);
        printError(path.isEmpty()
                ? QString("cycle %1 was out of step and is not kept as good; its bytes could not "
                          "be kept: %2")
                      .arg(cycles.count() + 1)
                      .arg(error)
                : QString("cycle %1 was out of step and is not kept as good; its bytes up to the "
                          "last good block are kept in %2")
                      .arg(cycles.count() + 1)
                      .arg(path));
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
                                       : QString("it is kept in %1").arg(kept)));
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
    QObject::connect(&instrument, &acquisition::Instrument::disconnected, [&] {
        finish(ExitEndedEarly, failureText(acquisition::SessionFailure::Disconnected));
    });
    QObject::connect(&cycle, &CycleRun::cycleStored, [&](int stored, qsizetype bytes) {
        const QString of = count ? QString("/%1").arg(*count) : QString();
        std::fprintf(stderr, "cycle %d%s: %lld bytes stored, %.1f s\n", stored, qPrintable(of),
            static_cast<long long>(bytes), runClock.elapsed() / 1000.0);
        std::fflush(stderr);
        // "Стоп" now: the restart already scheduled by this cycle then does nothing.
        if ((count && stored >= *count) || termination.received() == SIGINT)
            finish(ExitSaved, {});
    });
    // Ctrl+C stops after the cycle under way, a second one at once; SIGTERM and SIGHUP (a
    // service manager, a closed terminal) at once. The cycles stored are saved either way.
    int interrupts = 0;
    QObject::connect(&termination, &TerminationSignals::signalReceived, [&](int number) {
        if (number == SIGINT && ++interrupts == 1) {
            std::fprintf(stderr,
                "%s: stopping after the cycle under way (Ctrl+C again to stop at "
                "once)\n",
                qPrintable(TerminationSignals::describe(number)));
            std::fflush(stderr);
            return;
        }
        finish(ExitSaved,
            QString("%1: the cycle under way was dropped")
                .arg(TerminationSignals::describe(number)));
    });

    runClock.start();
    watch.start();
    cycle.start();
    loop.exec();
    session.setPort(nullptr);

    if (cycles.count() == 0) {
        cycles.discard();
        printError("no cycle was stored; nothing was written");
        return ExitNothingStored;
    }

    const auto keptInStore = [&] {
        printError(QString("the %1 cycles stay in the recovery store: %2")
                       .arg(cycles.count())
                       .arg(cycles.journals().join(QStringLiteral(", "))));
    };
    if (oneFile) {
        QString error;
        if (cycles.saveOneFile(output, comment, &error, &reason)) {
            std::fprintf(stderr, "saved %s: %d cycles, %lld bytes of data\n",
                qPrintable(cli::escaped(output)), cycles.count(),
                static_cast<long long>(cycles.dataBytes()));
            return exitCode;
        }
        printError(reason.isEmpty() ? error : QString("%1 (%2)").arg(error, reason));
        cycles.setComment(comment);
        keptInStore();
        return ExitNotSaved;
    }

    const files::CycleSaveResult result = cycles.savePerCycle(output, comment);
    for (const QString &name : result.written)
        std::fprintf(stderr, "saved %s\n", qPrintable(cli::escaped(name)));
    if (result.ok())
        return exitCode;
    printError(result.reason.isEmpty() ? result.error
                                       : QString("%1 (%2)").arg(result.error, result.reason));
    cycles.setComment(comment);
    keptInStore();
    return ExitNotSaved;
}
