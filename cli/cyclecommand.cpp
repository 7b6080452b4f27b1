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
#include "files/datafile.h"
#include "files/outputfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <optional>

// ferrun-cli cycle: a cycle run on the board (or the built-in simulator), headless, with the
// window's bookkeeping, saved as the window saves a cycle run after "Стоп".

namespace {

using acquisition::CycleRun;
using acquisition::Field;
using acquisition::MeasurementSession;
using acquisition::TerminationSignals;
using cli::PanelControls;
using cli::printError;
using cli::rescueName;

constexpr int ExitSaved = 0;
constexpr int ExitNotSaved = 1;
constexpr int ExitEndedEarly = 3;
constexpr int ExitNoInstrument = 4;
constexpr int ExitNothingStored = 5;

// One memory block: the time bounds of seTime for 30000 samples, and the frequency bounds.
constexpr int ShortestCycleMs = acquisition::ShortestTime4allSRAM / acquisition::MaxSRAMblocks;
constexpr int LongestCycleMs = acquisition::LongestTime4allSRAM / acquisition::MaxSRAMblocks;

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
            "and the line has stayed quiet for %1 ms; a cycle whose transfer fails is never\n"
            "stored, and the run ends there. An instrument silent for %2 s beyond the\n"
            "recording time (or between two blocks) ends the run. Ctrl+C (SIGINT) stops after\n"
            "the cycle under way (a second one at once); SIGTERM and SIGHUP stop at once. Every\n"
            "way the run ends, the cycles stored are saved.")
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
        "a file could not be written (cycles not written are kept in the temporary folder "
        "when possible)");
    line.addExitCode(ExitEndedEarly,
        "the run ended before --count cycles (no reply from the instrument, a failed "
        "transfer, the board disconnected, or too little memory); the cycles stored before "
        "were saved");
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

    // The frequency/time panel of a first run with one averaged block, then the options as a
    // user would enter them; the cycle start selects the same block and averaging again.
    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    panel.assign(Field::seSamples, acquisition::BlockSamples);
    panel.setAveraging(true);
    cli::checkChannels(panel, o.channels);
    if (o.frequency)
        cli::typeAndLeave(panel, Field::seF, *o.frequency);
    else if (o.time)
        cli::typeAndLeave(panel, Field::seTime, *o.time);
    PanelControls controls(panel, o.rangeIndex);

    acquisition::Instrument::Options where;
    where.device = o.device;
    where.simulator = o.simulator;
    acquisition::Instrument instrument(&controls, where);
    if (!cli::connectInstrument(instrument))
        return ExitNoInstrument;
    MeasurementSession &session = instrument.session();
    if (o.launchType == 1)
        session.btExtrnClick();
    CycleRun cycle(&session, &panel);
    cycle.setOneFile(oneFile);
    cycle.installHeadlessChartBuilder();
    // The header of what is saved: that of the cycles' recordings.
    files::DataFileHeader header;
    QObject::connect(&session, &MeasurementSession::transferComplete,
        [&](const files::Recording &recording) { header = recording.header; });

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
        if (cycle.CycleRunning())
            cycle.btCycleClick();
        watch.stop();
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
    };

    QObject::connect(&session, &MeasurementSession::portFailure,
        [&](const QString &message) { printError(message); });
    QString noReplyReason;
    QObject::connect(&watch, &acquisition::ReplyWatch::noReply,
        [&](const QString &why) { noReplyReason = why; });
    QObject::connect(
        &session, &MeasurementSession::transferFailed, [&](acquisition::SessionFailure why) {
            finish(ExitEndedEarly,
                why == acquisition::SessionFailure::NoReply && !noReplyReason.isEmpty()
                    ? noReplyReason
                    : acquisition::sessionFailureDescription(why)
                        + ": the cycle under way is not stored");
        });
    QObject::connect(&instrument, &acquisition::Instrument::disconnected, [&] {
        finish(ExitEndedEarly,
            acquisition::sessionFailureDescription(acquisition::SessionFailure::Disconnected));
    });
    QObject::connect(&cycle, &CycleRun::lowMemory, [&] {
        finish(ExitEndedEarly,
            QString("stopped: at most %1 KB of memory available")
                .arg(CycleRun::LowMemoryBytes / 1024));
    });
    QObject::connect(&session, &MeasurementSession::measurementEndedWithoutData, [&] {
        finish(ExitEndedEarly, "the instrument ended the measurement without sending data");
    });
    QObject::connect(&cycle, &CycleRun::cycleStored, [&](int stored, qsizetype bytes) {
        const QString of = count ? QString("/%1").arg(*count) : QString();
        std::fprintf(stderr, "cycle %d%s: %lld bytes stored, %.1f s\n", stored, qPrintable(of),
            static_cast<long long>(bytes), runClock.elapsed() / 1000.0);
        std::fflush(stderr);
        // "Стоп" now: the restart already scheduled by this cycle's step then does nothing.
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
    cycle.btCycleClick();
    loop.exec();
    session.setPort(nullptr);

    if (cycle.storedCycles() == 0) {
        printError("no cycle was stored; nothing was written");
        return ExitNothingStored;
    }

    if (oneFile) {
        QString error;
        if (cycle.saveStream(output, header, comment, &error, &reason)) {
            std::fprintf(stderr, "saved %s: %d cycles, %lld bytes of data\n",
                qPrintable(cli::escaped(output)), cycle.storedCycles(),
                static_cast<long long>(cycle.CycleStream().size()));
            return exitCode;
        }
        printError(reason.isEmpty() ? error : QString("%1 (%2)").arg(error, reason));
        const QString rescue = rescueName();
        if (cycle.saveStream(rescue, header, comment))
            printError(QString("the cycles were kept in %1").arg(rescue));
        return ExitNotSaved;
    }

    const files::CycleSaveResult result = cycle.saveRecords(output, header, comment);
    for (const QString &name : result.written)
        std::fprintf(stderr, "saved %s\n", qPrintable(cli::escaped(name)));
    if (result.ok())
        return exitCode;
    printError(result.reason.isEmpty() ? result.error
                                       : QString("%1 (%2)").arg(result.error, result.reason));
    const int left = cycle.filledRecords();
    const files::CycleSaveResult rescued = cycle.saveRecords(rescueName(), header, comment);
    if (!rescued.written.isEmpty())
        printError(QString("%1 of the %2 cycles not written were kept in %3")
                       .arg(rescued.written.size())
                       .arg(left)
                       .arg(QFileInfo(rescued.written.first()).absolutePath()));
    return ExitNotSaved;
}
