#include "acquisition/devicewatcher.h"
#include "acquisition/discovery.h"
#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/sessionserialport.h"
#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/measurementsetup.h"
#include "files/datafile.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// ferrun-cli measure: one measurement (or one "500 байт" short read) on the board or the
// built-in simulator, saved as a data file. The exit statuses are listed in the help.

namespace {

using acquisition::Field;
using acquisition::MeasurementSession;
using acquisition::SessionFailure;
using acquisition::SessionState;
using cli::PanelControls;
using cli::printError;

constexpr int ExitSaved = 0;
constexpr int ExitNotSaved = 1;
constexpr int ExitNoReply = 3;
constexpr int ExitNoInstrument = 4;
constexpr int ExitOutOfStep = 5;
constexpr int ExitDisconnected = 6;
constexpr int ExitInterrupted = 130; // 128 + SIGINT
constexpr int ExitTerminated = 143; // 128 + SIGTERM

// Added to the expected recording time of a launch from the computer before the instrument
// counts as silent; also the longest pause between two blocks of a transfer and the longest
// wait for a short-read reply.
constexpr int ReplyGraceMs = 10000;
// After the last block the line must stay quiet this long: bytes that come now answer no
// request, and the recording is out of step.
constexpr int QuietAfterTransferMs = 100;

struct Options : cli::MeasurementOptions
{
    int samples = acquisition::FullMemorySamples;
    bool average = false;
    std::optional<int> triggerTimeoutS;
    bool shortRead = false;
    bool waitForBoard = false;
    acquisition::DiscoveryRoots roots;
};

void describe(cli::CommandLine &line)
{
    line.addOption({ { "o", "output" }, "The data file to write (required).", "FILE" });
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
    line.addExitCode(ExitSaved, "saved");
    line.addExitCode(ExitNotSaved,
        "the file cannot be written (checked before measuring; after a measurement the "
        "recording is kept in the temporary folder)");
    line.addExitCode(ExitNoReply, "no reply from the instrument (or no trigger in time)");
    line.addExitCode(ExitNoInstrument, "no instrument found, or its port cannot be opened");
    line.addExitCode(ExitOutOfStep,
        "transfer out of step: the file is left as it was, the bytes received are kept in "
        "FILE.faulty");
    line.addExitCode(ExitDisconnected, "board disconnected during the measurement");
    line.addExitCode(ExitInterrupted, "interrupted (Ctrl+C); the file is left as it was");
    line.addExitCode(ExitTerminated, "terminated (SIGTERM); the file is left as it was");
}

// Reads the options; nothing when the command must end with the status already printed.
std::optional<int> readOptions(const QStringList &args, Options &o)
{
    cli::CommandLine line("measure", "-o FILE [options]",
        "Runs one measurement on the board and saves it as a data file.");
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

    // The limits are those of the panel's fields for this many samples, and those within
    // which it takes a typed value without a warning: nothing is pulled into them silently.
    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    panel.assign(Field::seSamples, o.samples);
    const auto limits = [&](Field field, int lowest, int highest) {
        const acquisition::SpinField &f = panel.field(field);
        return std::pair { std::max(f.minimum, lowest), std::min(f.maximum, highest) };
    };
    if (line.isSet("freq")) {
        const auto [lowest, highest]
            = limits(Field::seF, acquisition::LowestFrequencyHz, acquisition::HighestFrequencyHz);
        o.frequency = line.intValue("freq", lowest, highest);
        if (!o.frequency)
            return cli::ExitUsage;
    }
    if (line.isSet("time")) {
        const int blocks = o.samples / acquisition::BlockSamples;
        const auto [lowest, highest] = limits(Field::seTime,
            blocks * acquisition::ShortestTime4allSRAM / acquisition::MaxSRAMblocks,
            int(qint64(blocks) * acquisition::LongestTime4allSRAM / acquisition::MaxSRAMblocks));
        o.time = line.intValue("time", lowest, highest);
        if (!o.time)
            return cli::ExitUsage;
    }

    if (const auto status = cli::readChannelsRangeLaunch(line, o))
        return status;
    if (line.isSet("trigger-timeout")) {
        if (o.launchType != 1)
            return line.error("--trigger-timeout needs --launch photodiode");
        o.triggerTimeoutS = line.intValue("trigger-timeout", 1, 1000000);
        if (!o.triggerTimeoutS)
            return cli::ExitUsage;
    }
    return std::nullopt;
}

// The progress of the recording and then of the transfer on standard error: a bar redrawn
// in place on a terminal, plain lines (every 10 %) otherwise.
class ProgressPrinter
{
public:
    ProgressPrinter()
        : m_terminal(::isatty(STDERR_FILENO))
    {
    }

    void show(const char *phase, double fraction, qint64 remainingMs)
    {
        fraction = std::clamp(fraction, 0.0, 1.0);
        const int percent = int(fraction * 100);
        const int remaining = int(std::max<qint64>(0, (remainingMs + 500) / 1000));
        if (m_terminal) {
            constexpr int width = 30;
            const int filled = int(fraction * width);
            const QByteArray bar = QByteArray(filled, '#') + QByteArray(width - filled, '-');
            std::fprintf(stderr, "\r%-9s [%s] %3d%%  %s left ", phase, bar.constData(), percent,
                qPrintable(acquisition::timeText(remaining)));
            std::fflush(stderr);
            m_open = true;
            return;
        }
        const int step = percent / 10;
        if (m_phase != phase || step != m_lastStep) {
            std::fprintf(stderr, "%s %d%% %s left\n", phase, percent,
                qPrintable(acquisition::timeText(remaining)));
            m_phase = phase;
            m_lastStep = step;
        }
    }

    // A line of its own, below a bar in progress.
    void note(const QString &text)
    {
        finishLine();
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }

    void finishLine()
    {
        if (m_terminal && m_open)
            std::fputc('\n', stderr);
        m_open = false;
    }

private:
    bool m_terminal;
    bool m_open = false;
    const char *m_phase = nullptr;
    int m_lastStep = -1;
};

// True when the target itself may be replaced and a file can be created next to it (a save
// would get as far as the rename).
bool checkWritable(const QString &fileName, QString *reason)
{
    const QFileInfo info(fileName);
    if (info.isDir()) {
        *reason = QStringLiteral("Is a directory");
        return false;
    }
    if (info.exists() && ::access(QFile::encodeName(fileName).constData(), W_OK) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A short unique name: a probe left by a killed run does not block the next one, and a
    // target name that fills a whole folder entry leaves room for it.
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.ferrun-probe-XXXXXX"));
    if (!probe.open()) {
        *reason = probe.errorString();
        return false;
    }
    return true;
}

// A save of this target that was killed leaves its temporary file behind: removed here, so
// that it neither lingers nor is mistaken for a recording.
void removeStaleTemporary(const QString &fileName)
{
    const QString stale = files::temporarySaveName(fileName);
    struct stat st;
    if (::lstat(QFile::encodeName(stale).constData(), &st) == 0 && S_ISREG(st.st_mode)
        && ::unlink(QFile::encodeName(stale).constData()) == 0)
        std::fprintf(stderr, "removed %s, left by an interrupted save\n", qPrintable(stale));
}

// SIGINT and SIGTERM end the measurement through the event loop: the handler only writes
// the signal's number into a pipe.
int signalPipe[2] = { -1, -1 };

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignalHandlers()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0
        && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// The signal received so far, 0 when none.
int pendingSignal()
{
    char byte = 0;
    return ::read(signalPipe[0], &byte, 1) == 1 ? int(byte) : 0;
}

int signalExit(int number, const QString &output)
{
    printError(
        QString("%1: nothing saved, %2 left as it was")
            .arg(number == SIGINT ? "interrupted (Ctrl+C)" : "terminated (SIGTERM)", output));
    return number == SIGINT ? ExitInterrupted : ExitTerminated;
}

// Keeps what was received of a failed transfer beside the target (or, failing that, in the
// temporary folder), in the data file's format but under a name no browser takes for one.
void keepFaulty(const QString &output, const files::DataFileHeader &header,
    const QByteArray &received, const QString &comment)
{
    if (received.isEmpty()) {
        printError(QString("nothing was received; %1 left as it was").arg(output));
        return;
    }
    const QString why = QStringLiteral("FAULTY RECORDING (transfer failed)\r\n") + comment;
    QString side = output + QStringLiteral(".faulty");
    if (!files::saveDataFile(side, header, received, why)) {
        side
            = QDir(QDir::tempPath())
                  .filePath(QString("ferrun-faulty-%1.kdx.faulty")
                                .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz")));
        if (!files::saveDataFile(side, header, received, why)) {
            printError(QString("the %1 bytes received could not be kept").arg(received.size()));
            return;
        }
    }
    printError(QString("%1 left as it was; the %2 bytes received are kept in %3 (not a good "
                       "recording)")
                   .arg(output)
                   .arg(received.size())
                   .arg(side));
}

} // namespace

int cli::runMeasure(const QStringList &args)
{
    Options o;
    if (const auto status = readOptions(args, o))
        return *status;

    // Refuse a target that cannot be written before the board records anything.
    QString reason;
    if (!checkWritable(o.output, &reason)) {
        printError(QString("Cannot create file %1 (%2)").arg(o.output, reason));
        return ExitNotSaved;
    }
    removeStaleTemporary(o.output);
    if (!installSignalHandlers()) {
        printError(QString("cannot watch for Ctrl+C: %1").arg(std::strerror(errno)));
        return ExitNotSaved;
    }

    // The frequency/time panel of a first run, then the options as a user would enter them;
    // the values were checked against the panel's limits already.
    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    panel.assign(Field::seSamples, o.samples);
    cli::checkChannels(panel, o.channels);
    if (o.average)
        panel.setAveraging(true);
    if ((o.frequency && !cli::typeAndLeave(panel, Field::seF, *o.frequency))
        || (o.time && !cli::typeAndLeave(panel, Field::seTime, *o.time)))
        return cli::usageError("measure: " + panel.lErrIn());
    PanelControls controls(panel, o.rangeIndex);

    std::unique_ptr<sim::BoardSimulator> simulator;
    if (o.simulator) {
        simulator = cli::startSimulator(true, &o.device);
        if (!simulator)
            return ExitNoInstrument;
    }

    serial::TSerialPort port;
    acquisition::InstrumentLink link(port);
    acquisition::InstrumentLink::Options linkOptions;
    linkOptions.deviceOverride = o.device;
    linkOptions.sysfsRoot = o.roots.sysfsRoot;
    linkOptions.devRoot = o.roots.devRoot;
    link.setOptions(linkOptions);
    if (o.waitForBoard && !acquisition::findInstrumentPort(o.roots)) {
        std::fprintf(stderr, "waiting for the board to be plugged in (Ctrl+C ends the wait)\n");
        std::fflush(stderr);
        // A signal ends the wait through the event loop; its number stays in the pipe.
        QSocketNotifier signalWait(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&signalWait, &QSocketNotifier::activated, [&] {
            signalWait.setEnabled(false);
            QCoreApplication::exit(0);
        });
        acquisition::waitForInstrument(o.roots);
    }
    if (const int number = pendingSignal())
        return signalExit(number, o.output);
    if (!cli::connectInstrument(link))
        return ExitNoInstrument;
    if (const int number = pendingSignal())
        return signalExit(number, o.output);

    acquisition::SerialSessionPort sessionPort(&port);
    MeasurementSession session(&controls);
    session.setPort(&sessionPort);
    if (o.launchType == 1)
        session.btExtrnClick();

    QEventLoop loop;
    int exitCode = ExitNoReply;
    ProgressPrinter printer;
    QElapsedTimer phaseClock;
    QElapsedTimer sinceBlock;
    QTimer refresh;
    refresh.setInterval(MeasurementSession::TimPrgssBarIntervalMs);
    bool waitingForTrigger = false;
    bool finished = false;

    const auto finish = [&](int code, const QString &message) {
        if (finished)
            return;
        finished = true;
        printer.finishLine();
        if (!message.isEmpty())
            printError(message);
        exitCode = code;
        refresh.stop();
        loop.quit();
    };
    const auto draw = [&] {
        switch (session.state()) {
        case SessionState::Measuring: {
            const double total = std::max(1.0, session.MeasurementMs());
            const qint64 elapsed = phaseClock.elapsed();
            if (o.launchType == 1 && elapsed > qint64(total)) {
                // The board records from the trigger on: it may wait for it much longer.
                if (!waitingForTrigger) {
                    waitingForTrigger = true;
                    printer.note(QString("recording time passed: waiting for the photodiode "
                                         "trigger%1")
                                     .arg(o.triggerTimeoutS
                                             ? QString(" (at most %1 s)").arg(*o.triggerTimeoutS)
                                             : QString(" (Ctrl+C to give up)")));
                }
                if (o.triggerTimeoutS && elapsed > qint64(total) + *o.triggerTimeoutS * 1000LL)
                    finish(ExitNoReply,
                        QString("no photodiode trigger: no recording %1 s after the recording "
                                "time")
                            .arg(*o.triggerTimeoutS));
                break;
            }
            printer.show("recording", std::min(0.99, elapsed / total), qint64(total) - elapsed);
            if (o.launchType == 0 && elapsed > qint64(total) + ReplyGraceMs)
                finish(ExitNoReply, "no reply from the instrument");
            break;
        }
        case SessionState::ShortRead:
            if (o.launchType == 0) {
                if (phaseClock.elapsed() > ReplyGraceMs)
                    finish(ExitNoReply, "no reply from the instrument");
                break;
            }
            // The board reads when the photodiode triggers, however long that takes.
            if (!waitingForTrigger) {
                waitingForTrigger = true;
                printer.note(
                    QString("waiting for the photodiode trigger%1")
                        .arg(o.triggerTimeoutS ? QString(" (at most %1 s)").arg(*o.triggerTimeoutS)
                                               : QString(" (Ctrl+C to give up)")));
            }
            if (o.triggerTimeoutS && phaseClock.elapsed() > *o.triggerTimeoutS * 1000LL)
                finish(ExitNoReply,
                    QString("no photodiode trigger within %1 s").arg(*o.triggerTimeoutS));
            break;
        case SessionState::WaitingToTransfer:
        case SessionState::Transferring: {
            const int expected = std::max(1, session.blocksExpected());
            const int stored = session.blocksStored();
            const qint64 elapsed = phaseClock.elapsed();
            const qint64 remaining = stored > 0 ? elapsed * (expected - stored) / stored
                                                : qint64(session.TransferMs());
            printer.show("transfer", double(stored) / expected, remaining);
            if (sinceBlock.elapsed() > ReplyGraceMs)
                finish(ExitNoReply, "no reply from the instrument");
            break;
        }
        default:
            break;
        }
    };

    QObject::connect(&refresh, &QTimer::timeout, draw);
    QObject::connect(&session, &MeasurementSession::stateChanged, [&](SessionState state) {
        if (finished)
            return;
        if (state == SessionState::WaitingToTransfer) {
            if (!waitingForTrigger)
                printer.show("recording", 1.0, 0);
            printer.finishLine();
            phaseClock.restart();
            sinceBlock.restart();
        }
        draw();
    });
    QObject::connect(&session, &MeasurementSession::blockStored, [&](int stored, int expected) {
        sinceBlock.restart();
        if (!finished && (stored == expected || stored % 8 == 0))
            draw();
    });
    QObject::connect(&session, &MeasurementSession::measurementEndedWithoutData,
        [&] { finish(ExitNoReply, "the instrument ended the measurement without sending data"); });
    QObject::connect(&session, &MeasurementSession::portFailure, [&](const QString &message) {
        printer.finishLine();
        printError(message);
    });

    // The recording, taken once the line has stayed quiet after it.
    std::optional<QByteArray> recording;
    std::optional<SessionFailure> failure;
    int shortReplies = 0;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setInterval(QuietAfterTransferMs);
    QObject::connect(&quiet, &QTimer::timeout, [&] { finish(ExitSaved, {}); });
    QObject::connect(&session, &MeasurementSession::transferComplete, [&] {
        if (finished || o.shortRead)
            return;
        recording = session.AcquisitionBuffer();
        quiet.start();
    });
    QObject::connect(&session, &MeasurementSession::shortReadComplete, [&] {
        if (finished || !o.shortRead)
            return;
        // A second reply to one short read: the board is out of step.
        if (++shortReplies > 1) {
            failure = SessionFailure::OutOfStep;
            finish(ExitOutOfStep, "transfer out of step: the instrument sent more than one reply");
            return;
        }
        recording = session.AcquisitionBuffer();
        quiet.start();
    });
    QObject::connect(&session, &MeasurementSession::transferFailed, [&](SessionFailure why) {
        if (finished)
            return;
        failure = why;
        quiet.stop();
        if (why == SessionFailure::Disconnected)
            finish(ExitDisconnected, "board disconnected");
        else
            finish(ExitOutOfStep,
                "transfer out of step: the instrument sent more bytes than were asked for, so "
                "the recording is not saved");
    });

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    int signalNumber = 0;
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        if (const int number = pendingSignal()) {
            signalNumber = number;
            finish(number == SIGINT ? ExitInterrupted : ExitTerminated, {});
        }
    });

    phaseClock.start();
    sinceBlock.start();
    refresh.start();
    if (o.shortRead)
        session.bt500Click();
    else
        session.btStartClick();
    draw();
    loop.exec();
    const QByteArray received = session.AcquisitionBuffer();
    const double channelIntervalUs = session.ChannelIntervalUs();
    session.setPort(nullptr);
    port.Close();

    // A short read keeps the channel interval a measurement with these options would have:
    // there is no earlier measurement in this run.
    const double interval = o.shortRead
        ? controls.ChannelCount() * acquisition::samplePeriodCycles(controls.d1(), controls.d2())
            / acquisition::ControllerClockMHz
        : channelIntervalUs;
    const files::DataFileHeader header
        = cli::headerFor(controls, panel.averaging() && !o.shortRead, o.rangeIndex, interval);

    if (signalNumber)
        return signalExit(signalNumber, o.output);
    if (failure) {
        if (*failure == SessionFailure::OutOfStep || session.recordingFaulty())
            keepFaulty(o.output, header, received, o.comment);
        else
            printError(QString("%1 left as it was").arg(o.output));
        return exitCode;
    }
    if (!recording)
        return exitCode;
    if (recording->isEmpty()) {
        printError("the instrument's reply held no samples; nothing saved");
        return ExitNoReply;
    }

    QString saveError;
    if (files::saveDataFile(o.output, header, *recording, o.comment, &saveError, &reason)) {
        std::fprintf(stderr, "saved %s: %lld bytes of data\n", qPrintable(o.output),
            static_cast<long long>(recording->size()));
        return ExitSaved;
    }
    printError(reason.isEmpty() ? saveError : QString("%1 (%2)").arg(saveError, reason));
    // Never lose a recording: keep it where a file can still be written.
    const QString rescue = cli::rescueName();
    if (files::saveDataFile(rescue, header, *recording, o.comment))
        printError(QString("the recording was kept in %1").arg(rescue));
    return ExitNotSaved;
}
