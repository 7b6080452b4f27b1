#pragma once

#include "acquisition/protocol.h"
#include "acquisition/samplingplan.h"
#include "files/recording.h"
#include "signal/chartdecoder.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>

namespace acquisition {

class SessionPort;

enum class SessionState { Idle, Measuring, ShortRead, WaitingToTransfer, Transferring };

// The exchanges a session runs to one outcome. A tuning step is a single command whose
// status bytes come while Idle: it has no outcome.
enum class ExchangeKind { None, Measurement, ShortRead, ReRead };

// How an exchange ended.
enum class ExchangeEnd {
    Completed, // the recording is complete: its last block is in and the line stayed quiet
    Failed, // see SessionFailure; what was received comes with it, flagged faulty
    Cancelled, // the user stopped waiting for the recording
    Interrupted, // a new command, or the port taken away, ended it before its end
};

// Why an exchange failed.
enum class SessionFailure {
    None,
    // Bytes beyond the one reply the controller sends per request: every block after them
    // would be put together from the wrong bytes.
    OutOfStep,
    // The device went away during the exchange.
    Disconnected,
    // The instrument fell silent and the exchange was given up (giveUp()).
    NoReply,
    // A photodiode launch whose trigger did not come in time (giveUp()).
    NoTrigger,
    // A short-read reply of fewer bytes than a block, the line quiet after them.
    Incomplete,
    // The measurement wait ended with a reply that is no end of measurement (a status
    // byte), or a short read was answered with a single byte: no samples came.
    NoData,
};

// What a measurement asks of the board, fixed when it starts: the recording's channels,
// averaging, interval, scale and titles come from it and never change afterwards.
struct MeasurementRequest
{
    SamplingPlan plan;
    int rangeIndex = 0; // 0 "250°", 1 "500°"
    int launchType = 0; // 0 from the computer, 1 on the photodiode signal
    // The axis titles the recording is stored with.
    QString xTitle = QString::fromUtf8(sig::MicrosecondsTitle);
    QString yTitle = QString::fromUtf8(sig::TemperatureTitle);
};

// A "500 байт" read or the re-read of the board's memory.
struct ReadRequest
{
    quint8 channels = 0; // bit n-1 for Tn
    int rangeIndex = 0;
    int launchType = 0;
    // The short read keeps the channel interval of the last measurement or file; the re-read
    // has its own (reReadChannelIntervalUs()).
    double channelIntervalUs = 0;
    QString xTitle = QString::fromUtf8(sig::MicrosecondsTitle);
    QString yTitle = QString::fromUtf8(sig::TemperatureTitle);
};

// The one outcome of an exchange.
struct ExchangeOutcome
{
    ExchangeKind exchange = ExchangeKind::None;
    // The session's number of the exchange (exchangeId()).
    quint64 exchangeId = 0;
    ExchangeEnd end = ExchangeEnd::Completed;
    SessionFailure failure = SessionFailure::None;
    // Completed: the recording. Otherwise what was received and can be told apart from what
    // broke it: a transfer's blocks up to the last good one (the block that came with stray
    // bytes, and a last block followed by any, are not), a short read's reply as it came.
    // Flagged faulty; empty when nothing was received.
    files::Recording recording;
    int blocksReceived = 0; // good blocks of a transfer
    int blocksExpected = 0;
    // The failure came from bytes that belong to the exchange completed before this one:
    // provenOutOfStep() has named it.
    bool previousOutOfStep = false;

    bool completed() const { return end == ExchangeEnd::Completed; }
};

// One measurement session at a time: the start sequence, the receive handling of every
// reply, the transfer of the recorded array block by block, the short read, the re-read and
// the photodiode tuning that share the receive handling. It holds protocol state only; what
// a front end shows of it (captions, progress, status texts) is the front end's. Lives on one
// thread; the port's arrival notification, the timers and every handler run there.
//
// Each exchange (a measurement, a short read, a re-read) ends in exactly one outcome,
// exchangeEnded(): completed with its recording, failed with the failure and the bytes up to
// the last good block, cancelled, or interrupted. A new command ends an exchange still in
// progress as interrupted before it goes out.
//
// A data block is stored only when all its 501 bytes have arrived: a block read in pieces is
// put together, never padded and never counted twice. Single-byte replies (end of measurement,
// status bytes) are taken 2 ms after they arrived.
//
// A transfer is complete only once its last block is in and the line has then stayed quiet for
// SettleMs: a stray byte inside the last block makes it look complete one byte early, and the
// block's real last byte may come several milliseconds later. The controller sends exactly one
// reply per request, so any byte that answers no request proves the line out of step:
// - bytes waiting when a block is complete, or behind the last block within the settle time,
//   fail the transfer;
// - bytes that come after a completed exchange, before the next command, or while the next
//   measurement waits for its end byte or for its transfer command, prove that completed
//   exchange out of step (provenOutOfStep()), and fail the exchange under way.
// A byte later than that (beyond the next transfer command) cannot be told from a fault of
// the next exchange.
//
// A device that goes away ends the exchange at once (Disconnected); one that went away
// between exchanges fails the next one as soon as its command is sent.
class MeasurementSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimRxIntervalMs = 2;
    static constexpr int TimSendCmdIntervalMs = 400;
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

    explicit MeasurementSession(QObject *parent = nullptr);
    ~MeasurementSession() override;

    // The port the session talks through (not owned); nullptr detaches (an exchange in
    // progress ends interrupted). The session sets the port's onRxChar.
    void setPort(SessionPort *port);
    SessionPort *port() const { return m_port; }

    // ---- Exchanges
    // The start sequence: the start frame for the request; its end byte starts the transfer.
    void startMeasurement(const MeasurementRequest &request);
    // The "500 байт" read: one block of 250 fresh samples.
    void startShortRead(const ReadRequest &request);
    // The re-read of the board's memory: its first block as recorded.
    void startReRead(const ReadRequest &request);
    // The photodiode amplifier tuning: 0x10 begins it, 0x11 ends it. The board's status bytes
    // come while Idle (statusByte()).
    void tune(bool begin);
    // The user stops waiting for a recording (its time, or the photodiode trigger): the
    // exchange ends cancelled. The board may still end that recording later: the next
    // measurement first brings the line back in step. Only while Measuring; true when it
    // cancelled.
    bool cancelMeasurement();
    // Ends the exchange in progress as failed with NoReply or NoTrigger (the instrument has
    // fallen silent). Nothing happens while Idle.
    void giveUp(SessionFailure failure = SessionFailure::NoReply);
    // The port lost its device: an exchange in progress fails with Disconnected; the next
    // command sent before a new port is set fails the same way.
    void portDisconnected();
    // Bytes waiting that came after the last completed exchange prove it out of step: it is
    // reported (provenOutOfStep()) and the bytes dropped. False when it was so. A front end
    // that starts exchanges by itself (a cycle run) asks before each start.
    bool checkLateBytes();

    // ---- Session state
    SessionState state() const { return m_state; }
    ExchangeKind exchange() const { return m_exchange; }
    // Numbers the exchanges since the session was made; the recording of one carries it.
    quint64 exchangeId() const { return m_exchangeId; }
    // The request of the measurement under way or last run.
    const MeasurementRequest &request() const { return m_request; }
    int launchType() const { return m_launchType; }
    const QByteArray &CurrentCommand() const { return m_currentCommand; }
    const QByteArray &OpeningCommand() const { return m_openingCommand; }
    quint16 PendingReplies() const { return m_pendingReplies; }
    quint16 SessionBlocks() const { return m_sessionBlocks; }
    // Expected duration of the recording, and of the transfer: SessionBlocks × 7000 / 8 ms.
    double MeasurementMs() const { return m_measurementMs; }
    double TransferMs() const { return m_transferMs; }
    double ChannelIntervalUs() const { return m_channelIntervalUs; }
    // The averaging of the transfer under way (fixed at its start).
    bool transferAveraged() const { return m_transferAveraged; }
    // The exchange has received its reply; the line must now stay quiet for SettleMs.
    bool settling() const { return m_settling; }
    // The failure that ended the last exchange; None once a new command has been sent or a
    // port has been set (a reconnect).
    SessionFailure lastFailure() const { return m_lastFailure; }
    bool deviceLost() const { return m_deviceLost; }
    // The header of the recording the exchange under way (or the last one) makes.
    const files::DataFileHeader &recordingHeader() const { return m_recordingHeader; }
    // Data blocks stored by the current transfer, the number expected in all, and their bytes.
    int blocksStored() const { return m_blocksStored; }
    int blocksExpected() const { return m_blocksExpected; }
    const QByteArray &received() const { return m_buffer; }

    // Timer handlers, public so that a test or a benchmark can drive them.
    void TimRxTimer();
    void timSendCmdTimer();
    // The line stayed quiet for SettleMs after the reply: the exchange is complete.
    void settleTimer();
    // The arrival rule, called by the port with the number of bytes waiting.
    void arrival(int count);

signals:
    void stateChanged(acquisition::SessionState state);
    // A command went to the port.
    void commandSent(const QByteArray &command);
    // A data block of the transfer was stored: its 500 bytes as stored (rearranged).
    void blockStored(int stored, int expected, const QByteArray &block);
    // A single status byte came (0x10 tuning under way, 0x11 tuning done).
    void statusByte(quint8 byte);
    // The port failed (its message); the exchange waits as if nothing had been sent.
    void portFailure(const QString &message);
    // Bytes came that prove the completed exchange `exchangeId` out of step: its recording
    // cannot be trusted.
    void provenOutOfStep(quint64 exchangeId);
    // The exchange ended; the session is Idle.
    void exchangeEnded(const acquisition::ExchangeOutcome &outcome);

private:
    enum class ReplyMode { Single, Block, ShortRead };
    ReplyMode replyMode() const;
    void takeReplies(bool timerFired);
    void handleReply(char *bytes, int count);
    void handleMeasuringReply(const char *bytes, int count);
    void handleShortReadReply(char *bytes, int count);
    void transferStart();
    void send(const QByteArray &command);
    void setState(SessionState state);
    // Ends the exchange in progress (if any) as interrupted, drops whatever is queued or half
    // assembled, and reports bytes that came after a completed exchange.
    void beginCommand();
    void cancelReceive();
    void fail(SessionFailure failure, bool keepLastBlock = true);
    void finish(ExchangeEnd end, SessionFailure failure, files::Recording recording);
    // The exchange's bytes were proven wrong by bytes of the one before it.
    void failOutOfStepWithPrevious();
    void startExchange(ExchangeKind kind, const QByteArray &command, quint8 channels,
        bool averaging, int rangeIndex, double channelIntervalUs, const QString &xTitle,
        const QString &yTitle);
    void storeBlock(char *bytes, int count);
    void startSettling();
    void complete();
    void beginResync();
    void drainResync();
    void resyncTimer();
    void BeginExchange();
    // The recording of the buffer's first `length` bytes.
    files::Recording recording(qsizetype length, bool faulty) const;

    SessionPort *m_port = nullptr;

    QTimer m_timRx;
    QTimer m_timSendCmd;
    QTimer m_timSettle;
    QTimer m_timResync;

    SessionState m_state = SessionState::Idle;
    ExchangeKind m_exchange = ExchangeKind::None;
    quint64 m_exchangeId = 0;
    MeasurementRequest m_request;
    int m_launchType = 0;
    QByteArray m_currentCommand;
    QByteArray m_openingCommand;
    quint16 m_pendingReplies = 0;
    quint16 m_sessionBlocks = 8;
    double m_measurementMs = 0;
    double m_transferMs = 0;
    double m_channelIntervalUs = 0;
    bool m_transferAveraged = false;
    QByteArray m_buffer;
    int m_blocksStored = 0;
    int m_blocksExpected = 0;
    SessionFailure m_lastFailure = SessionFailure::None;
    bool m_settling = false;
    // The device went away while nothing was awaited.
    bool m_deviceLost = false;
    // What the exchange records, for its recording's header.
    files::DataFileHeader m_recordingHeader;
    files::RecordingOrigin m_origin = files::RecordingOrigin::None;
    // Bytes the port reported waiting at the last arrival, less those read since.
    int m_knownWaiting = 0;
    // The exchange completed last, while nothing has come to confirm or refute it: the next
    // measurement's transfer command confirms it.
    quint64 m_probation = 0;
    // The failure under way was caused by bytes of the exchange before it.
    bool m_previousOutOfStep = false;

    // Reply assembly: bytes of a reply read so far.
    std::array<char, ReceiveBufferBytes> m_rx {};
    int m_rxFill = 0;
    std::chrono::steady_clock::time_point m_lastArrival;
    // A cancelled recording may still end: the next measurement begins with the resync.
    bool m_cancelledMayEnd = false;
    bool m_resyncing = false;
    qint64 m_resyncBytes = 0; // dropped so far by the resync
};

// The transfer's expected duration for a number of memory blocks: blocks × 7000 / 8 ms.
double transferMs(int sessionBlocks);

} // namespace acquisition
