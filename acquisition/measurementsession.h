#pragma once

#include "acquisition/protocol.h"
#include "files/recording.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <optional>

namespace acquisition {

class SessionPort;

// The controls a session reads, implemented by the window over its widgets and by the
// command line over its options. Every value is read at the moment the session needs it.
class SessionControls
{
public:
    virtual ~SessionControls() = default;

    // cbAvgMC, read at the transfer start and at every block request.
    virtual bool averaging() const = 0;
    // cbTrng: 0 "250°", 1 "500°".
    virtual int rangeIndex() const = 0;
    // The divider pair and block count in effect (SamplingParameters).
    virtual int d1() const = 0;
    virtual int d2() const = 0;
    virtual int SRAMblocks() const = 0;
    // ChannelMask bits 0..6 and ChannelCount as kept by UpdateChannelMask.
    virtual quint8 ChannelMask() const = 0;
    virtual int ChannelCount() const = 0;
    // cbT1..cbT7 as checked now, bit n-1 for Tn: the mask of a short read.
    virtual quint8 checkedChannels() const = 0;
    // TimeUnitName of the last chart build; the transfer start titles the time axis with it.
    virtual QString timeUnitName() const { return {}; }
};

// Windows colour values (0x00BBGGRR) of captions and labels.
inline constexpr quint32 ColourBlack = 0x00000000;
inline constexpr quint32 ColourRed = 0x000000FF;
inline constexpr quint32 ColourYellow = 0x0000FFFF;

struct ButtonLook
{
    QString caption;
    quint32 colour = ColourBlack;
    bool operator==(const ButtonLook &) const = default;
};

// The progress panel Panel1 with progressBar, lAll, lElapsed, lRest and the percent labels
// lbPercent and lbRestPercent (which sit outside the panel).
struct ProgressView
{
    bool visible = false;
    int maximum = 100;
    int position = 0;
    QString lAll;
    QString lElapsed;
    QString lRest;
    QString lbPercent;
    QString lbRestPercent;
};

// ProgressClock: start tick (ms of a monotonic counter that wraps at 2^32), total, elapsed
// and remaining seconds, elapsed percent.
struct ProgressClock
{
    quint32 startTick = 0;
    int total = 0;
    int elapsed = 0;
    int remaining = 0;
    quint16 percent = 0;
};

enum class SessionState { Idle, Measuring, ShortRead, WaitingToTransfer, Transferring, Drawing };

// Why an exchange ended without a recording that can be trusted.
enum class SessionFailure {
    None,
    // Bytes beyond the one reply the controller sends per request: every block after them
    // would be put together from the wrong bytes.
    OutOfStep,
    // The device went away during the exchange.
    Disconnected,
    // The instrument fell silent and the exchange was given up (giveUp()).
    NoReply,
};

// The window's text of a failure (Russian), shown in the first status panel and as a message.
QString sessionFailureText(SessionFailure failure);
// The same in English, for the command line.
QString sessionFailureDescription(SessionFailure failure);

// "%.2d:%.2d" of seconds / 60 and seconds mod 60: 125 gives 02:05, 6000 gives 100:00.
QString timeText(int seconds);
// "ПЕРЕДАЧА МАССИВА, " + round(transferMs / 1000) + "с", halves to even.
QString transferStatusText(double transferMs);
// round(p * 240000 / 1000000 * 1000 * blocks / 8) with p = cycles / 14.7456 µs.
double measurementMs(int samplePeriodCycles, int sramBlocks);

// One measurement session at a time: the start sequence, the receive handling of every
// reply, the transfer of the recorded array block by block and the progress display, plus
// the short read, the re-read and the photodiode tuning that share the receive handling.
// Lives on one thread (the window thread); the port's arrival notification, the timers and
// every handler run there.
//
// A data block is stored only when all its 501 bytes have arrived: a block read in pieces
// is put together, never padded and never counted twice; bytes of the next block that
// arrive early stay queued. Single-byte replies (end of measurement, status bytes) are
// taken 2 ms after they arrived; a short-read reply shorter than 501 bytes is taken once
// the line has been quiet for SettleMs.
//
// A transfer (a measurement's array, a short read, a re-read) is complete only once its last
// block is in and the line has then stayed quiet for SettleMs. A stray byte inside the last
// block makes it look complete one byte early, and the block's real last byte may come
// several milliseconds later (held back by the USB bridge): only the quiet line tells. So a
// front end hears either transferComplete (or shortReadComplete) with the recording, or
// transferFailed, never the one and then the other. Bytes that come after a completed
// transfer are replies while Idle.
//
// Usage by the window:
//     acquisition::SerialSessionPort sessionPort(&serialPort1);  // takes its OnRxChar
//     acquisition::MeasurementSession session(&controls);        // controls: the widgets
//     session.setPort(&sessionPort);
//     connect(&session, &MeasurementSession::transferComplete, ...);  // takes the recording
//     session.setChartBuilder([&] { BuildChart(); });  // draws it; calls hideProgressPanel(),
//                                                      // clearPercentLabels(), chartBuilt()
//     connect(&session, &MeasurementSession::progressChanged, ...);  // Panel1 and labels
//     connect(&session, &MeasurementSession::statusTextChanged, ...); // status bar panels
//     ... and the button and caption signals; btStart calls session.btStartClick().
// A new command (start, short read, re-read) drops whatever is still queued or half
// assembled from the exchange before it, and a transfer command still waiting for its
// delayed send.
//
// The controller sends exactly one reply per request. Bytes already waiting when a data
// block (or a short-read block) is complete, or bytes that arrive after the last block of a
// transfer, mean that the blocks are no longer put together from the right bytes: the
// session stops at once and reports transferFailed(OutOfStep). The check uses the count of
// waiting bytes the port hands over with each arrival; it costs no call of its own. Stray
// bytes that the port reports only after the block they came with are seen with a later
// block (the blocks stay shifted by them) or, at the latest, behind the last one, within the
// settle time. A device that goes away during an exchange ends it at once with
// transferFailed(Disconnected); one that went away between exchanges fails the next command
// as soon as it is sent. Either way the session is Idle afterwards, no chart is built, and
// what the buffer holds of the broken transfer comes with transferFailed as a faulty
// recording (and stays in the buffer, flagged by recordingFaulty()).
class MeasurementSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimRxIntervalMs = 2;
    static constexpr int TimPrgssBarIntervalMs = 250;
    static constexpr int TimSendCmdIntervalMs = 400;
    static constexpr int TimErrBlinkIntervalMs = 300;
    // How long the line must stay quiet after the last block before a transfer is complete.
    // A 501-byte block takes 6 ms on the wire; a USB bridge holds the tail of a reply back for
    // up to its latency timer (16 ms on common bridges), and the kernel and the port's event
    // thread add their own delay. 64 ms is four latency timers, ten block times: a last byte
    // 60 ms late is still caught on an idle machine. It adds 1.1 % to a full transfer (5.7 s
    // on the wire), which stays within 1.03 times the wire time.
    static constexpr int SettleMs = 64;
    // After a cancel the board may still be recording, or end the cancelled recording at any
    // moment. The next measurement first brings the line back in step: a short read, which
    // the board answers at once with one block (abandoning what it was doing); everything up
    // to that block's end is dropped, and the start frame goes out once the line has then
    // been quiet for SettleMs. A board that sends no whole block within ResyncTimeoutMs is
    // not waited for longer.
    static constexpr int ResyncTimeoutMs = 1000;
    // Sample period of the re-read: 21 cycles of the controller clock, in microseconds.
    static double reReadChannelIntervalUs();

    explicit MeasurementSession(SessionControls *controls, QObject *parent = nullptr);
    ~MeasurementSession() override;

    // The millisecond tick counter of the progress clock (wraps at 2^32); a monotonic clock
    // unless replaced (tests step it by hand).
    void setTickSource(std::function<quint32()> source) { m_tickSource = std::move(source); }

    // The port the session talks through (not owned); nullptr detaches. The session sets
    // the port's onRxChar.
    void setPort(SessionPort *port);
    SessionPort *port() const { return m_port; }

    // ---- Handlers
    // btStart, btStartPlus, Enter on btStart or in seF: the whole start sequence.
    void btStartClick();
    // Steps 3 to 12 of the start sequence (the cycle mode starts its first pass with them).
    void startMeasurement();
    // Key on btStart: Enter (13) starts, Escape (27) hides the frequency/time panel.
    void btStartKeyPress(int key);
    // "500 байт": the short read.
    void bt500Click();
    // Double click on the tool-bar band: the memory re-read.
    void ctlBarDblClick();
    // "Настройка ФД" / "Завершить (ФД)".
    void btTuneClick();
    // The launch-type button.
    void btExtrnClick();
    // "Выбор F/T" / "Закрыть".
    void btChooseFClick();
    void setFrequencyPanelVisible(bool visible);
    // Sends CurrentCommand as the opening command of an exchange.
    void BeginExchange();

    // ---- Chart building
    // BuildChart: the installed builder, or, without one, only what the session relies on:
    // nothing when the buffer is empty, otherwise CycleNumber + 1 and chartBuilt().
    void buildChart();
    void setChartBuilder(std::function<void()> builder);
    // Steps of a chart build that belong to the session; a builder calls them.
    void hideProgressPanel();
    void clearPercentLabels();
    // CurrentCommand := 0x00, "ПОСТРОЕНИЕ ГРАФИКА", session Idle.
    void chartBuilt();

    // ---- Session state
    SessionState state() const { return m_state; }
    const QByteArray &CurrentCommand() const { return m_currentCommand; }
    void setCurrentCommand(const QByteArray &command) { m_currentCommand = command; }
    const QByteArray &OpeningCommand() const { return m_openingCommand; }
    quint16 PendingReplies() const { return m_pendingReplies; }
    quint16 SessionBlocks() const { return m_sessionBlocks; }
    void setSessionBlocks(quint16 blocks) { m_sessionBlocks = blocks; }
    double MeasurementMs() const { return m_measurementMs; }
    double TransferMs() const { return m_transferMs; }
    QString TransferStatusText() const { return m_transferStatusText; }
    double ChannelIntervalUs() const { return m_channelIntervalUs; }
    void setChannelIntervalUs(double value) { m_channelIntervalUs = value; }
    const ProgressClock &progressClock() const { return m_clock; }
    bool progressTimerActive() const { return m_timPrgssBar.isActive(); }
    int CycleNumber() const { return m_cycleNumber; }
    void setCycleNumber(int number) { m_cycleNumber = number; }
    bool RecordedByCycle() const { return m_recordedByCycle; }
    // A cycle run is going: a measurement started now names its cycle at its transfer start
    // ("Цикл №" + CycleNumber in the third status panel), also when the run is stopped
    // before that; a single measurement names none.
    void setCycleRunGoing(bool going) { m_cycleRunGoing = going; }
    void setRecordedByCycle(bool value) { m_recordedByCycle = value; }
    int LaunchType() const { return m_launchType; }
    // Stores the value without touching the button (the settings restore pre-sets it).
    void setLaunchType(int value) { m_launchType = value; }
    QString XTitle() const { return m_xTitle; }
    void setXTitle(const QString &title);

    // The array the last exchange received, as SampleWords: emptied when a transfer begins,
    // replaced by a short-read reply. The recording built from it goes to the front end with
    // transferComplete, shortReadComplete or transferFailed; this is the session's own copy.
    const QByteArray &AcquisitionBuffer() const { return m_buffer; }

    // The buffer holds bytes of a transfer or short read that failed (out of step, or cut off
    // by a disconnect): the user may look at them, but they are no good recording. Cleared
    // when a transfer begins or a short-read reply is taken whole.
    bool recordingFaulty() const { return m_recordingFaulty; }
    // The failure that ended the last exchange; None once a new command has been sent or a
    // port has been set (a reconnect).
    SessionFailure lastFailure() const { return m_lastFailure; }
    // The port lost its device: an exchange in progress ends with transferFailed; the next
    // command sent before a new port is set fails the same way.
    void portDisconnected();
    bool deviceLost() const { return m_deviceLost; }
    // Ends the exchange in progress as failed with NoReply (the instrument has fallen silent):
    // what it received comes with transferFailed. Nothing happens while Idle.
    void giveUp();
    // The user stops waiting for a recording (its time, or the photodiode trigger): the
    // session is Idle again with the previous recording untouched, and says so. The board
    // may still end that recording later: bytes that come while Idle answer nothing, and the
    // next command drops whatever is queued. Only while Measuring; true when it cancelled.
    bool cancelMeasurement();
    // The transfer's last block is in and the session waits for the line to stay quiet.
    bool settling() const { return m_settling; }

    // Data blocks stored by the current transfer, and the number expected in all.
    int blocksStored() const { return m_blocksStored; }
    int blocksExpected() const { return m_blocksExpected; }

    // ---- What the window shows
    QString statusText(int panel) const { return m_status.at(panel); }
    void setStatusText(int panel, const QString &text);
    const ProgressView &progress() const { return m_progress; }
    QString fileCaption() const { return m_fileCaption; }
    void setFileCaption(const QString &caption);
    const ButtonLook &chooseFButton() const { return m_chooseF; }
    const ButtonLook &tuneButton() const { return m_tune; }
    // A photodiode tuning runs: "Настройка ФД" was pressed, "Завершить (ФД)" not yet.
    bool tuning() const { return m_tuning; }
    bool frequencyPanelVisible() const { return m_frequencyPanelVisible; }
    LaunchPicture launchButtonPicture() const { return m_launchPicture; }
    QString launchButtonHint() const { return m_launchHint; }
    quint32 errorLabelColour() const { return m_errorColour; }

    // Timer handlers, public so that a test or a benchmark can drive them.
    void TimRxTimer();
    void TimPrgssBarTimer();
    void timSendCmdTimer();
    void TimErrBlinkTimer();
    // The line stayed quiet for SettleMs after the last block: the transfer is complete.
    void settleTimer();
    // The arrival rule, called by the port with the number of bytes waiting.
    void arrival(int count);

signals:
    void stateChanged(acquisition::SessionState state);
    void statusTextChanged(int panel, const QString &text);
    void progressChanged();
    void fileCaptionChanged(const QString &caption);
    void chooseFButtonChanged();
    void tuneButtonChanged();
    void frequencyPanelVisibleChanged(bool visible);
    // gbFT was opened by btChooseF: the window moves the focus to seTime and runs its
    // change handler.
    void frequencyPanelOpened();
    // The re-read runs the change handler of seTime.
    void seTimeChangeRequested();
    void launchTypeChanged(int launchType);
    void errorLabelColourChanged(quint32 colour);
    void xTitleChanged(const QString &title);
    // A command went to the port.
    void commandSent(const QByteArray &command);
    // A data block of the transfer was stored.
    void blockStored(int stored, int expected);
    // The transfer is complete (its last block stored, the line quiet since): the recording,
    // origin Measurement. BuildChart runs right after.
    void transferComplete(const files::Recording &recording);
    // A short-read or re-read reply replaced the buffer and the line stayed quiet after it:
    // the recording, origin ShortRead. BuildChart runs right after.
    void shortReadComplete(const files::Recording &recording);
    // A reply ended the measurement wait without being the end of the measurement.
    void measurementEndedWithoutData();
    // The port failed (its message); the exchange waits as if nothing had been sent.
    void portFailure(const QString &message);
    // The exchange in progress failed (text: sessionFailureText). The session is Idle, no chart
    // was built. `received` holds the bytes the failed exchange received (flagged faulty); it
    // is empty when the exchange failed before its transfer began (the buffer then still holds
    // the previous recording).
    void transferFailed(
        acquisition::SessionFailure failure, const QString &text, const files::Recording &received);

private:
    enum class ReplyMode { Single, Block, ShortRead };
    ReplyMode replyMode() const;
    void takeReplies(bool timerFired);
    void handleReply(char *bytes, int count);
    void transferStart();
    void send(const QByteArray &command);
    void setState(SessionState state);
    void startProgress(int maximum, double totalMs, bool show);
    void cancelReceive();
    void fail(SessionFailure failure);
    void storeBlock(char *bytes, int count);
    void startSettling();
    void complete();
    void beginResync();
    void drainResync();
    void resyncTimer();
    // The recording of the buffer as this exchange received it.
    files::Recording recording(files::RecordingOrigin origin, bool faulty) const;
    // The header of what the exchange now starting records.
    void noteRecordingHeader(quint8 channels, bool averaging);
    void emitProgress() { emit progressChanged(); }
    quint32 tick() const;

    SessionControls *m_controls;
    SessionPort *m_port = nullptr;
    std::function<void()> m_chartBuilder;
    std::function<quint32()> m_tickSource;

    QTimer m_timRx;
    QTimer m_timPrgssBar;
    QTimer m_timSendCmd;
    QTimer m_timErrBlink;
    QTimer m_timSettle;

    SessionState m_state = SessionState::Idle;
    QByteArray m_currentCommand;
    QByteArray m_openingCommand;
    quint16 m_pendingReplies = 0;
    quint16 m_sessionBlocks = 8;
    double m_measurementMs = 0;
    double m_transferMs = 0;
    QString m_transferStatusText;
    double m_channelIntervalUs = 0;
    ProgressClock m_clock;
    quint32 m_exchangeStartTick = 0;
    int m_cycleNumber = 0;
    bool m_recordedByCycle = false;
    int m_launchType = 0;
    QString m_xTitle;
    QByteArray m_buffer;
    int m_blocksStored = 0;
    int m_blocksExpected = 0;
    bool m_recordingFaulty = false;
    SessionFailure m_lastFailure = SessionFailure::None;
    // The last block (or the short-read reply) is in; SettleMs of quiet complete the transfer.
    bool m_settling = false;
    // The device went away while nothing was awaited.
    bool m_deviceLost = false;
    // What the exchange records, for its recording's header.
    files::DataFileHeader m_recordingHeader;
    // Bytes the port reported waiting at the last arrival, less those read since.
    int m_knownWaiting = 0;

    // Reply assembly: bytes of a reply read so far.
    std::array<char, ReceiveBufferBytes> m_rx {};
    int m_rxFill = 0;
    std::chrono::steady_clock::time_point m_lastArrival;
    // A cancelled recording may still end: the next measurement begins with the resync.
    bool m_cancelledMayEnd = false;
    bool m_resyncing = false;
    qint64 m_resyncBytes = 0; // dropped so far by the resync
    QTimer m_timResync;
    bool m_cycleRunGoing = false;
    bool m_namesCycle = false; // the measurement under way was started by a cycle run

    std::array<QString, 3> m_status;
    ProgressView m_progress;
    QString m_fileCaption = tr("Комментарий");
    ButtonLook m_chooseF { tr("Выбор F/T"), ColourBlack };
    ButtonLook m_tune { tr("Настройка ФД"), ColourBlack };
    bool m_tuning = false; // "Настройка ФД" pressed, "Завершить (ФД)" not yet
    bool m_frequencyPanelVisible = false;
    LaunchPicture m_launchPicture = LaunchPicture::RisingEdge;
    QString m_launchHint = tr("Внешний запуск по фронту");
    quint32 m_errorColour = ColourRed;
};

} // namespace acquisition
