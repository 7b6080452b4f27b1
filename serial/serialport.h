#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

// Asynchronous serial-port component. The component is used on the thread that owns it (the
// window thread): every operation is called there and every event fires there, from the owner
// thread's event loop. While the port is open an event thread waits for port events and hands
// them to the owner thread, and a write thread drains the write queue to the device.
//
// On a Linux tty the event thread reports arriving bytes (ceRxChar, once per arrival, not for as
// long as bytes wait) and a device that went away (ceError, once, as the line error IoError).
// The write thread reports an emptied queue (OnTxEmpty) and write failures. Modem-line changes,
// breaks and the event character are not watched.
namespace serial {

class ESerialPortError : public std::runtime_error
{
public:
    explicit ESerialPortError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromUtf8(what()); }
};

enum TSerialBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TSerialParity { paNone, paOdd, paEven, paMark, paSpace };
enum TSerialDatabits { db4, db5, db6, db7, db8 };
enum TSerialStopbits { sb1, sb15, sb2 };
enum TSerialControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TSerialControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

enum TSerialEvent : quint32 {
    ceRxChar = 0x0001,
    ceRxFlag = 0x0002,
    ceTxEmpty = 0x0004,
    ceCts = 0x0008,
    ceDsr = 0x0010,
    ceRlsd = 0x0020,
    ceBreak = 0x0040,
    ceError = 0x0080,
    ceRing = 0x0100,
    cePErr = 0x0200,
    ceRx80Full = 0x0400,
    ceEvent1 = 0x0800,
    ceEvent2 = 0x1000
};
using TSerialEvents = quint32; // OR of TSerialEvent bits

enum TSerialOption : quint32 { coErrorChar = 0x0001, coNullStrip = 0x0002 };
using TSerialOptions = quint32; // OR of TSerialOption bits

// Purge flags of Purge().
enum PurgeFlag : quint32 {
    PurgeTxAbort = 0x01,
    PurgeRxAbort = 0x02,
    PurgeTxClear = 0x04,
    PurgeRxClear = 0x08,
    PurgeEverything = 0x0F
};

// Line-error flags of TPortStatus::Errors and of OnError.
enum LineError : quint32 {
    RxOverError = 0x0001, // the receive queue overflowed
    OverrunError = 0x0002, // the UART lost bytes
    ParityError = 0x0004,
    FrameError = 0x0008,
    BreakError = 0x0010,
    IoError = 0x0400 // the device went away (unplugged, other side hung up)
};

// Flag bits of TLineSettings::Flags.
enum LineFlag : quint32 {
    lfBinary = 0x0001,
    lfParity = 0x0002,
    lfOutxCtsFlow = 0x0004,
    lfOutxDsrFlow = 0x0008,
    lfDtrEnable = 0x0010,
    lfDtrHandshake = 0x0020,
    lfDsrSensitivity = 0x0040,
    lfTxContinueOnXoff = 0x0080,
    lfOutX = 0x0100,
    lfInX = 0x0200,
    lfErrorChar = 0x0400,
    lfNull = 0x0800,
    lfRtsEnable = 0x1000,
    lfRtsHandshake = 0x2000,
    lfRtsToggle = 0x3000,
    lfRtsMask = 0x3000,
    lfDtrMask = 0x0030
};

// The line-settings record the component writes to the device.
struct TLineSettings
{
    quint32 BaudRate = 0;
    quint32 Flags = 0;
    quint16 XonLim = 0;
    quint16 XoffLim = 0;
    quint8 ByteSize = 0;
    quint8 Parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    quint8 StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

// Line errors (cleared by reading them) and queue status.
struct TPortStatus
{
    quint32 Errors = 0;
    quint32 Flags = 0;
    quint32 InQue = 0; // bytes waiting to be read
    quint32 OutQue = 0; // bytes waiting to be sent by the driver
};

// Exceptions raised by event handlers that run through the component's dispatch are handed
// to this reporter (on the owner thread). The default writes the message with qWarning.
void setExceptionReporter(std::function<void(const std::exception &)> reporter);
void reportException(const std::exception &error);

// Base of the three property groups: change notification with update nesting.
class TSerialPersistent
{
public:
    TSerialPersistent() = default;
    // A copy carries the values only, not the owner's notification.
    TSerialPersistent(const TSerialPersistent &) { }
    TSerialPersistent &operator=(const TSerialPersistent &) = delete;
    virtual ~TSerialPersistent() = default;

    std::function<void()> OnChange;
    void BeginUpdate() { ++m_updateCount; }
    void EndUpdate();

protected:
    void Changed();
    qint32 m_updateCount = 0;
};

class TSerialBuffers : public TSerialPersistent
{
public:
    TSerialBuffers() = default;
    TSerialBuffers(const TSerialBuffers &other) = default;
    TSerialBuffers &operator=(const TSerialBuffers &other)
    {
        Assign(other);
        return *this;
    }
    // Copies every value and notifies the owner once.
    void Assign(const TSerialBuffers &source);

    int ReadSize() const { return m_readSize; }
    void setReadSize(int value);
    int WriteSize() const { return m_writeSize; }
    void setWriteSize(int value);
    int ReadTimeout() const { return m_readTimeout; }
    void setReadTimeout(int value);
    int WriteTimeout() const { return m_writeTimeout; }
    void setWriteTimeout(int value);

private:
    int m_readSize = 4096;
    int m_writeSize = 2048;
    int m_readTimeout = 1000;
    int m_writeTimeout = 1000;
};

class TSerialFlowControl : public TSerialPersistent
{
public:
    TSerialFlowControl() = default;
    TSerialFlowControl(const TSerialFlowControl &other) = default;
    TSerialFlowControl &operator=(const TSerialFlowControl &other)
    {
        Assign(other);
        return *this;
    }
    // Copies every value and notifies the owner once; when the owner refuses the new values,
    // the old ones are restored and the error passes on.
    void Assign(const TSerialFlowControl &source);

    bool OutCtsFlow() const { return m_outCtsFlow; }
    void setOutCtsFlow(bool value) { set(m_outCtsFlow, value); }
    bool OutDsrFlow() const { return m_outDsrFlow; }
    void setOutDsrFlow(bool value) { set(m_outDsrFlow, value); }
    TSerialControlDtr ControlDtr() const { return m_controlDtr; }
    void setControlDtr(TSerialControlDtr value) { set(m_controlDtr, value); }
    TSerialControlRts ControlRts() const { return m_controlRts; }
    void setControlRts(TSerialControlRts value) { set(m_controlRts, value); }
    bool XonXoffOut() const { return m_xonXoffOut; }
    void setXonXoffOut(bool value) { set(m_xonXoffOut, value); }
    bool XonXoffIn() const { return m_xonXoffIn; }
    void setXonXoffIn(bool value) { set(m_xonXoffIn, value); }
    bool DsrSensitivity() const { return m_dsrSensitivity; }
    void setDsrSensitivity(bool value) { set(m_dsrSensitivity, value); }
    bool TxContinueOnXoff() const { return m_txContinueOnXoff; }
    void setTxContinueOnXoff(bool value) { set(m_txContinueOnXoff, value); }

private:
    template <typename T> void set(T &field, T value);
    void copyValues(const TSerialFlowControl &source);

    bool m_outCtsFlow = false;
    bool m_outDsrFlow = false;
    TSerialControlDtr m_controlDtr = dtrDisabled;
    TSerialControlRts m_controlRts = rtsDisabled;
    bool m_xonXoffOut = false;
    bool m_xonXoffIn = false;
    bool m_dsrSensitivity = false;
    bool m_txContinueOnXoff = false;
};

class TSerialEventChars : public TSerialPersistent
{
public:
    TSerialEventChars() = default;
    TSerialEventChars(const TSerialEventChars &other) = default;
    TSerialEventChars &operator=(const TSerialEventChars &other)
    {
        Assign(other);
        return *this;
    }
    void Assign(const TSerialEventChars &source);

    char XonChar() const { return m_chars[0]; }
    void setXonChar(char value) { setChar(1, value); }
    char XoffChar() const { return m_chars[1]; }
    void setXoffChar(char value) { setChar(2, value); }
    char ErrorChar() const { return m_chars[2]; }
    void setErrorChar(char value) { setChar(3, value); }
    char EventChar() const { return m_chars[3]; }
    void setEventChar(char value) { setChar(4, value); }
    char EofChar() const { return m_chars[4]; }
    void setEofChar(char value) { setChar(5, value); }

    // Index 1..5: XonChar, XoffChar, ErrorChar, EventChar, EofChar. Always notifies.
    void setChar(int index, char value);

private:
    char m_chars[5] = { 0x11, 0x13, 0x00, 0x00, 0x00 };
};

namespace detail {
class PortSession;
}

class TCustomSerialPort : public QObject
{
    Q_OBJECT

public:
    explicit TCustomSerialPort(QObject *parent = nullptr);
    ~TCustomSerialPort() override;

    void Open();
    void Close();
    bool IsOpen() const { return m_handle >= 0; }
    int Handle() const { return m_handle; }
    // Opens the port when AutoOpen is set; called once the properties have been set up.
    void Loaded();

    int ReadBytes(void *buffer, int count);
    int WriteBytes(const void *buffer, int count);
    bool WriteString(const QByteArray &text);
    int InputCount();
    void Purge(quint32 flags);
    void PurgeAll() { Purge(PurgeEverything); }
    TPortStatus ReadStatus();
    bool CheckLineErrors();
    QString ResolvedDeviceName() const;
    // The record ApplyLineSettings writes for the current properties.
    TLineSettings LineSettings() const;
    // The event bits the event thread waits for (valid after Open).
    quint32 EventMask() const { return m_eventMask; }

    void HandleRxChar();
    void HandleEvents(quint32 events);

    // Properties
    bool AutoOpen() const { return m_autoOpen; }
    void setAutoOpen(bool value) { m_autoOpen = value; }
    TSerialBaudrate Baudrate() const { return m_baudrate; }
    void setBaudrate(TSerialBaudrate value);
    TSerialParity Parity() const { return m_parity; }
    void setParity(TSerialParity value);
    bool ParityCheck() const { return m_parityCheck; }
    void setParityCheck(bool value);
    TSerialDatabits Databits() const { return m_databits; }
    void setDatabits(TSerialDatabits value);
    TSerialStopbits Stopbits() const { return m_stopbits; }
    void setStopbits(TSerialStopbits value);
    TSerialEventChars &EventChars() { return m_eventChars; }
    const TSerialEventChars &EventChars() const { return m_eventChars; }
    void setEventChars(const TSerialEventChars &value) { m_eventChars.Assign(value); }
    TSerialFlowControl &FlowControl() { return m_flowControl; }
    const TSerialFlowControl &FlowControl() const { return m_flowControl; }
    void setFlowControl(const TSerialFlowControl &value) { m_flowControl.Assign(value); }
    TSerialOptions Options() const { return m_options; }
    void setOptions(TSerialOptions value);
    int PortNum() const { return m_portNum; }
    void setPortNum(int value);
    QString DeviceName() const { return m_deviceName; }
    void setDeviceName(const QString &value);
    TSerialEvents MonitorEvents() const { return m_monitorEvents; }
    void setMonitorEvents(TSerialEvents value);
    TSerialBuffers &Buffers() { return m_buffers; }
    const TSerialBuffers &Buffers() const { return m_buffers; }
    void setBuffers(const TSerialBuffers &value);
    TThreadPriority EventPriority() const { return m_eventPriority; }
    void setEventPriority(TThreadPriority value);
    TThreadPriority WritePriority() const { return m_writePriority; }
    void setWritePriority(TThreadPriority value);
    bool DirectWrite() const { return m_directWrite; }
    void setDirectWrite(bool value);
    bool UpdateDCB() const { return m_updateDCB; }
    void setUpdateDCB(bool value);
    int UserBaudrate() const { return m_userBaudrate; }
    void setUserBaudrate(int value);

    // Events (fired on the owner thread)
    std::function<void(TCustomSerialPort *sender)> OnOpen;
    std::function<void(TCustomSerialPort *sender)> OnClose;
    std::function<void(TCustomSerialPort *sender)> OnCts;
    std::function<void(TCustomSerialPort *sender)> OnDsr;
    std::function<void(TCustomSerialPort *sender)> OnRlsd;
    std::function<void(TCustomSerialPort *sender)> OnRing;
    std::function<void(TCustomSerialPort *sender)> OnBreak;
    std::function<void(TCustomSerialPort *sender, int errors)> OnError;
    std::function<void(TCustomSerialPort *sender, int count)> OnRxChar;
    std::function<void(TCustomSerialPort *sender)> OnRxFlag;
    std::function<void(TCustomSerialPort *sender)> OnTxEmpty;
    std::function<void(TCustomSerialPort *sender)> OnPErr;
    std::function<void(TCustomSerialPort *sender)> OnRx80Full;
    std::function<void(TCustomSerialPort *sender)> OnEvent1;
    std::function<void(TCustomSerialPort *sender)> OnEvent2;

private:
    // Runs the calls the event and write threads have handed to this thread.
    Q_INVOKABLE void runWindowCalls();

    TPortStatus readStatus(bool withOutQueue);
    void RequireClosed() const;
    void CreatePortHandle();
    void ApplyLineSettings();
    void ApplyQueueSizes();
    void ApplyTimeouts();
    void ApplyEventMask();
    void StartThreads();
    void StopThreads();
    bool Enqueue(const void *source, int count);
    void PurgeQueue();
    void closeDevice();
    void buffersChanged();
    void dispatchEvents(detail::PortSession *session, quint32 events);
    void handleEventsOf(detail::PortSession *session, quint32 events);
    bool isCurrent(const detail::PortSession *session) const { return m_session.get() == session; }
    template <typename T> void setLineProperty(T &field, T value);

    int m_handle = -1;
    bool m_destroying = false;
    std::mutex m_portLock;
    std::shared_ptr<detail::PortSession> m_session;
    quint32 m_eventMask = 0;

    bool m_autoOpen = false;
    TSerialBaudrate m_baudrate = br1200;
    TSerialParity m_parity = paNone;
    bool m_parityCheck = false;
    TSerialDatabits m_databits = db8;
    TSerialStopbits m_stopbits = sb1;
    TSerialEventChars m_eventChars;
    TSerialFlowControl m_flowControl;
    TSerialOptions m_options = 0;
    int m_portNum = 0;
    QString m_deviceName = QStringLiteral("COM%d");
    TSerialEvents m_monitorEvents = ceError | ceRxChar | ceTxEmpty;
    TSerialBuffers m_buffers;
    TThreadPriority m_eventPriority = tpNormal;
    TThreadPriority m_writePriority = tpHighest;
    bool m_directWrite = false;
    bool m_updateDCB = true;
    int m_userBaudrate = 0;
};

class TSerialPort : public TCustomSerialPort
{
    Q_OBJECT

public:
    explicit TSerialPort(QObject *parent = nullptr)
        : TCustomSerialPort(parent)
    {
    }
};

} // namespace serial

namespace serial {

template <typename T> void TSerialFlowControl::set(T &field, T value)
{
    if (field == value)
        return;
    const T old = field;
    field = value;
    try {
        Changed();
    } catch (...) {
        field = old; // the owner refused the new value: the group keeps what is in force
        throw;
    }
}

} // namespace serial
