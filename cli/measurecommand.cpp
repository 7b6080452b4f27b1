#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/sessionserialport.h"
#include "cli/commands.h"
#include "files/datafile.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <unistd.h>

// ferrun-cli measure: one measurement on the board (or the built-in simulator), saved as a
// data file. Exit codes: 0 saved; 1 the file could not be written (the recording is then
// rescued into the temporary folder when possible); 2 bad arguments; 3 no reply from the
// instrument; 4 no instrument found or the port cannot be opened.

namespace {

using acquisition::Field;
using acquisition::MeasurementSession;
using acquisition::SessionState;

constexpr int ExitSaved = 0;
constexpr int ExitNotSaved = 1;
constexpr int ExitNoReply = 3;
constexpr int ExitNoInstrument = 4;
// Added to the expected recording time before the instrument counts as silent; also the
// longest pause between two blocks of a transfer.
constexpr int ReplyGraceMs = 10000;

struct Options
{
    QString output;
    QString device;
    bool simulator = false;
    std::optional<int> frequency;
    std::optional<int> time;
    std::optional<int> samples;
    quint8 channels = 0x7F;
    int rangeIndex = 0;
    bool average = false;
    int launchType = 0;
    QString comment;
};

std::optional<int> parseInt(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// Parses the arguments; an empty error means success.
QString parseOptions(const QStringList &args, Options &o)
{
    std::set<QString> seen;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString name = args.at(i);
        if (name != "--simulator" && name != "--average" && seen.count(name))
            return QString("%1 given twice").arg(name);
        seen.insert(name);
        if (name == "--simulator") {
            o.simulator = true;
            continue;
        }
        if (name == "--average") {
            o.average = true;
            continue;
        }
        static const QStringList valued = { "-o", "--device", "--freq", "--time", "--samples",
            "--channels", "--range", "--launch", "--comment" };
        if (!valued.contains(name))
            return QString("unknown argument '%1'").arg(name);
        if (i + 1 >= args.size())
            return QString("%1 needs a value").arg(name);
        const QString value = args.at(++i);
        if (name == "-o") {
            o.output = value;
        } else if (name == "--device") {
            o.device = value;
        } else if (name == "--comment") {
            o.comment = value;
        } else if (name == "--freq" || name == "--time" || name == "--samples") {
            const std::optional<int> number = parseInt(value);
            if (!number || *number <= 0)
                return QString("%1 expects a positive whole number, got '%2'").arg(name, value);
            (name == "--freq" ? o.frequency : name == "--time" ? o.time : o.samples) = number;
        } else if (name == "--channels") {
            o.channels = 0;
            for (const QString &part : value.split(',')) {
                const std::optional<int> n = parseInt(part.trimmed());
                if (!n || *n < 1 || *n > 7)
                    return QString("--channels expects numbers 1..7 separated by commas, got '%1'")
                        .arg(value);
                o.channels |= quint8(1 << (*n - 1));
            }
        } else if (name == "--range") {
            if (value == "250")
                o.rangeIndex = 0;
            else if (value == "500")
                o.rangeIndex = 1;
            else
                return QString("--range expects 250 or 500, got '%1'").arg(value);
        } else if (name == "--launch") {
            if (value == "computer")
                o.launchType = 0;
            else if (value == "photodiode")
                o.launchType = 1;
            else
                return QString("--launch expects computer or photodiode, got '%1'").arg(value);
        }
    }
    if (o.output.isEmpty())
        return "-o FILE is required";
    if (o.simulator && !o.device.isEmpty())
        return "give either --device or --simulator, not both";
    if (o.frequency && o.time)
        return "give either --freq or --time, not both";
    if (o.samples) {
        const int n = *o.samples;
        if (n < acquisition::BlockSamples || n > acquisition::FullMemorySamples
            || n % acquisition::BlockSamples != 0)
            return QString("--samples must be 30000..240000 in steps of 30000, got %1").arg(n);
        if (o.average && n != acquisition::BlockSamples)
            return "--average records one block: --samples must then be 30000";
    }
    return {};
}

// The controls a measurement reads: the frequency/time panel and the range selector.
class PanelControls : public acquisition::SessionControls
{
public:
    PanelControls(const acquisition::SamplingParameters &panel, int rangeIndex)
        : m_panel(panel)
        , m_range(rangeIndex)
    {
    }
    bool averaging() const override { return m_panel.averaging(); }
    int rangeIndex() const override { return m_range; }
    int d1() const override { return m_panel.d1(); }
    int d2() const override { return m_panel.d2(); }
    int SRAMblocks() const override { return m_panel.SRAMblocks(); }
    quint8 ChannelMask() const override { return m_panel.ChannelMask(); }
    int ChannelCount() const override { return m_panel.ChannelCount(); }
    quint8 checkedChannels() const override
    {
        quint8 bits = 0;
        for (int n = 1; n <= 7; ++n)
            if (m_panel.channelChecked(n))
                bits |= quint8(1 << (n - 1));
        return bits;
    }
    // The time unit of a first run: "мкс".
    QString timeUnitName() const override { return QStringLiteral("мкс"); }

private:
    const acquisition::SamplingParameters &m_panel;
    int m_range;
};

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

void printError(const QString &message)
{
    std::fprintf(stderr, "ferrun-cli: %s\n", qPrintable(message));
}

// True when a file can be created next to the target (a save would get as far as the rename).
bool checkWritable(const QString &fileName, QString *reason)
{
    if (QFileInfo(fileName).isDir()) {
        *reason = QStringLiteral("Is a directory");
        return false;
    }
    // A short unique name: a probe left by a killed run does not block the next one, and a
    // target name that fills a whole folder entry leaves room for it.
    QTemporaryFile probe(
        QFileInfo(fileName).absolutePath() + QStringLiteral("/.ferrun-probe-XXXXXX"));
    if (!probe.open()) {
        *reason = probe.errorString();
        return false;
    }
    return true;
}

} // namespace

int cli::runMeasure(const QStringList &args)
{
    Options o;
    const QString error = parseOptions(args, o);
    if (!error.isEmpty())
        return usageError("measure: " + error);

    // Refuse a target that cannot be written before the board records anything.
    QString reason;
    if (!checkWritable(o.output, &reason)) {
        printError(QString("Cannot create file %1 (%2)").arg(o.output, reason));
        return ExitNotSaved;
    }

    // The frequency/time panel of a first run, then the options as a user would enter them.
    acquisition::SamplingParameters panel(QLocale::c());
    panel.applyFirstRun();
    if (o.samples)
        panel.assign(Field::seSamples, *o.samples);
    for (int n = 1; n <= 7; ++n)
        panel.setChannelChecked(n, o.channels & (1 << (n - 1)));
    panel.UpdateChannelMask();
    if (o.average)
        panel.setAveraging(true);
    const auto typeAndLeave = [&](Field field, int value) {
        panel.setFocusField(field);
        panel.userTyped(field, QString::number(value));
        if (panel.lErrInVisible())
            printError("warning: " + panel.lErrIn());
        panel.userLeft(field);
    };
    if (o.frequency)
        typeAndLeave(Field::seF, *o.frequency);
    else if (o.time)
        typeAndLeave(Field::seTime, *o.time);
    PanelControls controls(panel, o.rangeIndex);

    std::unique_ptr<sim::BoardSimulator> simulator;
    if (o.simulator) {
        sim::BoardOptions simOptions;
        simOptions.seed = quint64(QDateTime::currentMSecsSinceEpoch());
        simOptions.triggerAfterSeconds = 0.5; // the photodiode fires half a second after arming
        simulator = std::make_unique<sim::BoardSimulator>(simOptions);
        std::string simError;
        if (!simulator->start(&simError)) {
            printError(
                QString("the simulator did not start: %1").arg(QString::fromStdString(simError)));
            return ExitNoInstrument;
        }
        o.device = QString::fromStdString(simulator->devicePath());
    }

    serial::TSerialPort port;
    acquisition::InstrumentLink link(port);
    acquisition::InstrumentLink::Options linkOptions;
    linkOptions.deviceOverride = o.device;
    link.setOptions(linkOptions);
    QString linkMessage;
    QObject::connect(&link, &acquisition::InstrumentLink::informationMessage,
        [&](const QString &text) { linkMessage = text; });
    link.ConnectInstrument();
    if (link.connectedDevice().isEmpty()) {
        printError(QString("%1: %2").arg(
            linkMessage.isEmpty() ? QStringLiteral("АЦП не обнаружено") : linkMessage,
            link.lastError()));
        return ExitNoInstrument;
    }

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

    const auto finish = [&](int code, const QString &message) {
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
            printer.show("recording", std::min(0.99, elapsed / total), qint64(total) - elapsed);
            if (o.launchType == 0 && elapsed > qint64(total) + ReplyGraceMs)
                finish(ExitNoReply, "no reply from the instrument");
            else if (o.launchType == 1 && elapsed > qint64(total) + ReplyGraceMs)
                finish(ExitNoReply, "no reply from the instrument (no photodiode trigger?)");
            break;
        }
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
        if (state == SessionState::WaitingToTransfer) {
            printer.show("recording", 1.0, 0);
            printer.finishLine();
            phaseClock.restart();
            sinceBlock.restart();
        }
        draw();
    });
    QObject::connect(&session, &MeasurementSession::blockStored, [&](int stored, int expected) {
        sinceBlock.restart();
        if (stored == expected || stored % 8 == 0)
            draw();
    });
    QObject::connect(&session, &MeasurementSession::measurementEndedWithoutData,
        [&] { finish(ExitNoReply, "the instrument ended the measurement without sending data"); });
    QObject::connect(&session, &MeasurementSession::portFailure, [&](const QString &message) {
        printer.finishLine();
        printError(message);
    });

    std::optional<QByteArray> recording;
    double channelIntervalUs = 0;
    QObject::connect(&session, &MeasurementSession::transferComplete, [&] {
        recording = session.AcquisitionBuffer();
        channelIntervalUs = session.ChannelIntervalUs();
        finish(ExitSaved, {});
    });

    phaseClock.start();
    refresh.start();
    session.btStartClick();
    draw();
    loop.exec();
    session.setPort(nullptr);
    if (!recording)
        return exitCode;

    // The header a chart build of this recording writes with the display of a first run:
    // axis mode 0 (temperature against time), time in microseconds.
    files::DataFileHeader header;
    header.ChartChannelBits
        = files::chartChannelBits(controls.checkedChannels(), panel.averaging());
    header.ChannelIntervalUs = channelIntervalUs;
    header.ValueScale = files::valueScaleForRange(o.rangeIndex);
    header.ValueOffset = 0;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");

    QString saveError;
    if (files::saveDataFile(o.output, header, *recording, o.comment, &saveError, &reason)) {
        std::fprintf(stderr, "saved %s: %lld bytes of data\n", qPrintable(o.output),
            static_cast<long long>(recording->size()));
        return ExitSaved;
    }
    printError(reason.isEmpty() ? saveError : QString("%1 (%2)").arg(saveError, reason));
    // Never lose a recording: keep it where a file can still be written.
    const QString rescue
        = QDir(QDir::tempPath())
              .filePath(QString("ferrun-unsaved-%1.kdx")
                            .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz")));
    if (files::saveDataFile(rescue, header, *recording, o.comment))
        printError(QString("the recording was kept in %1").arg(rescue));
    return ExitNotSaved;
}
