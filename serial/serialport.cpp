#include "serial/serialport.h"

#include "serial/portsession.h"
#include "serial/ttydevice.h"

#include <QFile>
#include <QtDebug>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace serial {

using detail::PortSession;

namespace {

std::mutex reporterMutex;
std::function<void(const std::exception &)> exceptionReporter;

constexpr int purgeAcknowledgeTimeoutMs = 2000;

const char *const msgPortOpen = "Can't perform this operation while port is open";
const char *const msgOpenFailed = "Unable to open specified device %s (%d), %s";
const char *const msgEventMask = " Error setting EventMask (%d), %s";
const char *const msgPurge = "Error clearing buffers (%d), %s";
const char *const msgTimeouts = "Error setting timeouts (%d), %s";
const char *const msgBuffers = "Error initializing buffers (%d), %s";
const char *const msgOutputFull = "Output buffer is full. Please check comm status.";
const char *const msgWriteError = "Write error (%d), %s";
const char *const msgReadError = "Read error (%d), %s";
const char *const msgStatistics = "Error retrieving statistics (%d), %s";
const char *const msgDcb = "Error writing dcb (%d), %s";

constexpr quint32 rateByBaudrate[] = { 0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200,
    38400, 56000, 57600, 115200, 128000, 256000 };

// Fills %d and %s of a message pattern with the arguments in order.
QString fillPattern(const char *pattern, const QStringList &arguments)
{
    QString result;
    int next = 0;
    for (const char *p = pattern; *p; ++p) {
        if (p[0] == '%' && (p[1] == 'd' || p[1] == 's') && next < arguments.size()) {
            result += arguments.at(next++);
            ++p;
        } else {
            result += QLatin1Char(*p);
        }
    }
    return result;
}

[[noreturn]] void raiseCommError(const char *pattern, int err)
{
    throw ESerialPortError(
        fillPattern(pattern, { QString::number(err), detail::systemErrorText(err) }));
}

// A device-name pattern formatted with the port number as its single integer argument:
// %d, %u and %x (upper-case hexadecimal) with optional '-', width and precision, and %%.
QString formatDeviceName(const QString &pattern, int portNum)
{
    auto invalid = [&] {
        return ESerialPortError(
            QStringLiteral("Format '%1' invalid or incompatible with argument").arg(pattern));
    };
    QString result;
    bool argumentUsed = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c != QLatin1Char('%')) {
            result += c;
            continue;
        }
        if (++i >= pattern.size())
            throw invalid();
        if (pattern.at(i) == QLatin1Char('%')) {
            result += c;
            continue;
        }
        bool left = false;
        if (pattern.at(i) == QLatin1Char('-')) {
            left = true;
            ++i;
        }
        auto number = [&]() {
            int n = 0;
            while (i < pattern.size() && pattern.at(i).isDigit() && n < 1000)
                n = n * 10 + pattern.at(i++).digitValue();
            return n;
        };
        const int width = number();
        int precision = 0;
        if (i < pattern.size() && pattern.at(i) == QLatin1Char('.')) {
            ++i;
            precision = number();
        }
        if (i >= pattern.size() || argumentUsed)
            throw invalid();
        const QChar type = pattern.at(i).toLower();
        QString text;
        if (type == QLatin1Char('d') || type == QLatin1Char('u'))
            text = QString::number(portNum);
        else if (type == QLatin1Char('x'))
            text = QString::number(portNum, 16).toUpper();
        else
            throw invalid();
        argumentUsed = true;
        if (text.size() < precision)
            text = QString(precision - text.size(), QLatin1Char('0')) + text;
        if (text.size() < width)
            text = left ? text.leftJustified(width) : text.rightJustified(width);
        result += text;
    }
    return result;
}

template <typename Handler, typename... Args> void fire(const Handler &handler, Args... args)
{
    if (!handler)
        return;
    Handler copy = handler; // the handler may reassign itself while it runs
    copy(args...);
}

} // namespace

void setExceptionReporter(std::function<void(const std::exception &)> reporter)
{
    std::lock_guard lock(reporterMutex);
    exceptionReporter = std::move(reporter);
}

void reportException(const std::exception &error)
{
    std::function<void(const std::exception &)> reporter;
    {
        std::lock_guard lock(reporterMutex);
        reporter = exceptionReporter;
    }
    if (reporter)
        reporter(error);
    else
        qWarning("%s", error.what());
}

// --- component ---

TCustomSerialPort::TCustomSerialPort(QObject *parent)
    : QObject(parent)
{
    m_buffers.OnChange = [this] { buffersChanged(); };
    m_flowControl.OnChange = [this] { ApplyLineSettings(); };
    m_eventChars.OnChange = [this] { ApplyLineSettings(); };
}

TCustomSerialPort::~TCustomSerialPort()
{
    m_destroying = true;
    Close();
}

void TCustomSerialPort::Loaded()
{
    if (m_autoOpen)
        Open();
}

void TCustomSerialPort::RequireClosed() const
{
    if (IsOpen())
        throw ESerialPortError(QString::fromLatin1(msgPortOpen));
}

QString TCustomSerialPort::ResolvedDeviceName() const
{
    return formatDeviceName(m_deviceName, m_portNum);
}

void TCustomSerialPort::CreatePortHandle()
{
    const QString name = ResolvedDeviceName();
    int fd = -1;
    if (int err = detail::openExclusive(QFile::encodeName(name), fd))
        throw ESerialPortError(fillPattern(
            msgOpenFailed, { name, QString::number(err), detail::systemErrorText(err) }));
    m_handle = fd;
}

void TCustomSerialPort::Open()
{
    RequireClosed();
    CreatePortHandle();
    try {
        m_session = std::make_shared<PortSession>(this, m_handle);
        // Raw whatever UpdateDCB says: a port in the terminal's line-editing mode would echo,
        // convert line ends and hold bytes back until a line end. UpdateDCB only decides
        // whether the line-settings record is written.
        if (int err = detail::writeRawMode(m_handle))
            raiseCommError(msgDcb, err);
        ApplyLineSettings();
        ApplyQueueSizes();
        ApplyTimeouts();
        ApplyEventMask();
        // Line errors counted before the port was opened are not ours to report.
        m_session->countersRead = detail::errorCounters(m_handle, m_session->lastCounters) == 0;
        StartThreads();
    } catch (...) {
        closeDevice();
        throw;
    }
    try {
        fire(OnOpen, this);
    } catch (const std::exception &e) {
        reportException(e);
    } catch (...) {
        reportException(std::runtime_error("Unknown exception in a serial port handler"));
    }
}

void TCustomSerialPort::closeDevice()
{
    {
        std::lock_guard lock(m_portLock);
        StopThreads();
    }
    m_session.reset();
    detail::closeExclusive(m_handle);
    m_handle = -1;
}

void TCustomSerialPort::Close()
{
    if (!IsOpen())
        return;
    closeDevice();
    if (!m_destroying)
        fire(OnClose, this);
}

void TCustomSerialPort::StartThreads()
{
    if (m_eventMask != 0) {
        if (int err = m_session->startEventThread(m_eventMask, m_eventPriority))
            raiseCommError(msgEventMask, err);
    }
    if (!m_directWrite) {
        if (int err = m_session->startWriteThread(m_buffers.WriteSize(), m_writePriority))
            raiseCommError(msgBuffers, err);
    }
}

void TCustomSerialPort::StopThreads()
{
    // Joins both threads: once this returns neither touches the device or the component.
    if (m_session)
        m_session->stop();
}

TLineSettings TCustomSerialPort::LineSettings() const
{
    TLineSettings s;
    if (m_baudrate == brUser)
        s.BaudRate = m_userBaudrate > 0 ? static_cast<quint32>(m_userBaudrate) : 0;
    else if (m_baudrate > brUser && m_baudrate <= br256000)
        s.BaudRate = rateByBaudrate[m_baudrate];
    // (any other value gives rate 0, which the device refuses)
    s.ByteSize = static_cast<quint8>(4 + m_databits);
    s.Parity = static_cast<quint8>(m_parity);
    s.StopBits = static_cast<quint8>(m_stopbits);
    s.XonChar = m_eventChars.XonChar();
    s.XoffChar = m_eventChars.XoffChar();
    s.ErrorChar = m_eventChars.ErrorChar();
    s.EofChar = m_eventChars.EofChar();
    s.EvtChar = m_eventChars.EventChar();
    const int limit = qMin(m_buffers.ReadSize() / 4, 1024);
    s.XonLim = static_cast<quint16>(limit);
    s.XoffLim = static_cast<quint16>(limit);
    quint32 flags = lfBinary;
    if (m_parityCheck)
        flags |= lfParity;
    if (m_flowControl.OutCtsFlow())
        flags |= lfOutxCtsFlow;
    if (m_flowControl.OutDsrFlow())
        flags |= lfOutxDsrFlow;
    if (m_flowControl.ControlDtr() == dtrEnabled)
        flags |= lfDtrEnable;
    else if (m_flowControl.ControlDtr() == dtrHandshake)
        flags |= lfDtrHandshake;
    if (m_flowControl.DsrSensitivity())
        flags |= lfDsrSensitivity;
    if (m_flowControl.TxContinueOnXoff())
        flags |= lfTxContinueOnXoff;
    if (m_flowControl.XonXoffOut())
        flags |= lfOutX;
    if (m_flowControl.XonXoffIn())
        flags |= lfInX;
    if (m_options & coErrorChar)
        flags |= lfErrorChar;
    if (m_options & coNullStrip)
        flags |= lfNull;
    if (m_flowControl.ControlRts() == rtsEnabled)
        flags |= lfRtsEnable;
    else if (m_flowControl.ControlRts() == rtsHandshake)
        flags |= lfRtsHandshake;
    else if (m_flowControl.ControlRts() == rtsToggle)
        flags |= lfRtsToggle;
    s.Flags = flags;
    return s;
}

void TCustomSerialPort::ApplyLineSettings()
{
    if (!IsOpen() || !m_updateDCB)
        return;
    if (int err = detail::writeLineSettings(m_handle, LineSettings()))
        raiseCommError(msgDcb, err);
}

void TCustomSerialPort::ApplyQueueSizes()
{
    // A tty's queues have the sizes its driver gives them; there is nothing to request.
}

void TCustomSerialPort::ApplyTimeouts()
{
    if (!IsOpen())
        return;
    if (int err = detail::writeReadTimeouts(m_handle))
        raiseCommError(msgTimeouts, err);
}

void TCustomSerialPort::ApplyEventMask()
{
    quint32 mask = m_monitorEvents & 0x1FFFu;
    if (!m_directWrite)
        mask &= ~quint32(ceTxEmpty); // the write thread reports an emptied queue itself
    m_eventMask = mask;
}

void TCustomSerialPort::buffersChanged()
{
    RequireClosed();
    ApplyQueueSizes();
    ApplyLineSettings();
}

// --- reading, writing, status ---

int TCustomSerialPort::ReadBytes(void *buffer, int count)
{
    if (!IsOpen() || !buffer || count <= 0)
        return 0;
    std::lock_guard lock(m_portLock);
    for (;;) {
        const ssize_t n = ::read(m_handle, buffer, static_cast<size_t>(count));
        if (n >= 0)
            return static_cast<int>(n);
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err == EAGAIN)
            return 0;
        if (detail::isDeviceGone(err)) {
            // Reported once as a line error; until Close the port simply has nothing to read.
            m_session->markGone();
            return 0;
        }
        raiseCommError(msgReadError, err);
    }
}

bool TCustomSerialPort::Enqueue(const void *source, int count)
{
    return m_session->enqueue(source, count, m_buffers.WriteTimeout(), bool(OnTxEmpty));
}

int TCustomSerialPort::WriteBytes(const void *buffer, int count)
{
    if (!IsOpen() || !buffer || count <= 0)
        return 0;
    // A device that went away takes nothing, as a closed port: the bytes are not accepted
    // (rather than queued to be lost), and the departure has been reported once already.
    if (m_session->isGone())
        return 0;
    if (!m_directWrite) {
        if (!Enqueue(buffer, count))
            throw ESerialPortError(QString::fromLatin1(msgOutputFull));
        return count;
    }
    // Direct mode: the bytes go to the driver here, waiting up to the read time-out for room.
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_buffers.ReadTimeout());
    const char *data = static_cast<const char *>(buffer);
    int total = 0;
    while (total < count) {
        const ssize_t n = ::write(m_handle, data + total, static_cast<size_t>(count - total));
        if (n > 0) {
            total += static_cast<int>(n);
            continue;
        }
        const int err = n < 0 ? errno : EAGAIN;
        if (err == EINTR)
            continue;
        if (err != EAGAIN) {
            if (detail::isDeviceGone(err))
                m_session->markGone();
            raiseCommError(msgWriteError, err);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd wait = { m_handle, POLLOUT, 0 };
        if (poll(&wait, 1, static_cast<int>(left.count())) == 0)
            break;
    }
    return total;
}

bool TCustomSerialPort::WriteString(const QByteArray &text)
{
    return WriteBytes(text.constData(), static_cast<int>(text.size())) == text.size();
}

TPortStatus TCustomSerialPort::ReadStatus()
{
    return readStatus(true);
}

TPortStatus TCustomSerialPort::readStatus(bool withOutQueue)
{
    TPortStatus status;
    if (!IsOpen())
        return status;
    std::lock_guard lock(m_portLock);
    int in = 0;
    int out = 0;
    if (int err = detail::queueCounts(m_handle, in, withOutQueue ? &out : nullptr)) {
        if (!detail::isDeviceGone(err))
            raiseCommError(msgStatistics, err);
        m_session->markGone();
    }
    status.InQue = static_cast<quint32>(in);
    status.OutQue = static_cast<quint32>(out);

    detail::ErrorCounters counters;
    if (m_session->countersRead && detail::errorCounters(m_handle, counters) == 0) {
        const detail::ErrorCounters &last = m_session->lastCounters;
        if (counters.frame != last.frame)
            status.Errors |= FrameError;
        if (counters.overrun != last.overrun)
            status.Errors |= OverrunError;
        if (counters.parity != last.parity)
            status.Errors |= ParityError;
        if (counters.brk != last.brk)
            status.Errors |= BreakError;
        if (counters.bufOverrun != last.bufOverrun)
            status.Errors |= RxOverError;
        m_session->lastCounters = counters;
    }
    status.Errors |= m_session->pendingGoneError();
    return status;
}

int TCustomSerialPort::InputCount()
{
    if (!IsOpen())
        return 0;
    // Line errors are read and cleared as by ReadStatus; the transmit count is not needed.
    return static_cast<int>(readStatus(false).InQue);
}

bool TCustomSerialPort::CheckLineErrors()
{
    const TPortStatus status = ReadStatus();
    if ((status.Errors & IoError) && m_session)
        m_session->setGoneReported();
    if (status.Errors != 0 && OnError) {
        try {
            fire(OnError, this, static_cast<int>(status.Errors));
        } catch (const std::exception &e) {
            reportException(e);
        } catch (...) {
            reportException(std::runtime_error("Unknown exception in a serial port handler"));
        }
    }
    return status.Errors != 0;
}

void TCustomSerialPort::PurgeQueue()
{
    m_session->purgeQueue(purgeAcknowledgeTimeoutMs);
}

void TCustomSerialPort::Purge(quint32 flags)
{
    if (!IsOpen())
        return;
    std::lock_guard lock(m_portLock);
    if (flags != (PurgeRxAbort | PurgeRxClear) && m_session->hasWriteThread())
        PurgeQueue();
    const bool tx = flags & PurgeTxClear;
    const bool rx = flags & PurgeRxClear;
    if (!tx && !rx)
        return;
    if (tcflush(m_handle, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) < 0) {
        const int err = errno;
        if (!detail::isDeviceGone(err))
            raiseCommError(msgPurge, err);
        // A device that went away holds nothing more to discard.
        m_session->markGone();
    }
}

// --- events ---

void TCustomSerialPort::runWindowCalls()
{
    const std::shared_ptr<PortSession> session = m_session;
    if (!session)
        return;
    detail::WindowCall *call = nullptr;
    quint32 events = 0;
    while (isCurrent(session.get()) && session->takeCall(call, events)) {
        if (call == session->eventCall()) {
            dispatchEvents(session.get(), events);
        } else {
            // Reports of the write thread (TX empty, write error): a failing handler must not
            // stop the write thread, so its exception is reported here.
            try {
                handleEventsOf(session.get(), events);
            } catch (const std::exception &e) {
                reportException(e);
            } catch (...) {
                reportException(std::runtime_error("Unknown exception in a serial port handler"));
            }
        }
        session->finishCall(call);
    }
}

void TCustomSerialPort::dispatchEvents(PortSession *session, quint32 events)
{
    try {
        if (events & ceRxChar) {
            HandleRxChar();
            events &= ~quint32(ceRxChar);
        }
        if (events != 0 && isCurrent(session))
            handleEventsOf(session, events);
    } catch (const std::exception &e) {
        reportException(e);
    } catch (...) {
        reportException(std::runtime_error("Unknown exception in a serial port handler"));
    }
}

void TCustomSerialPort::HandleRxChar()
{
    const int count = InputCount();
    if (count <= 0)
        return;
    fire(OnRxChar, this, count);
}

void TCustomSerialPort::HandleEvents(quint32 events)
{
    handleEventsOf(m_session.get(), events);
}

void TCustomSerialPort::handleEventsOf(PortSession *session, quint32 events)
{
    // Each step checks that the port is still the one the events came from: a handler that
    // closes the port ends the dispatch.
    auto step = [&](quint32 bit, const std::function<void(TCustomSerialPort *)> &handler) {
        if ((events & bit) && isCurrent(session))
            fire(handler, this);
    };
    if ((events & ceError) && isCurrent(session))
        CheckLineErrors();
    step(ceRxFlag, OnRxFlag);
    step(ceCts, OnCts);
    step(ceDsr, OnDsr);
    step(ceRing, OnRing);
    step(ceRlsd, OnRlsd);
    step(ceTxEmpty, OnTxEmpty);
    step(ceBreak, OnBreak);
    step(cePErr, OnPErr);
    step(ceRx80Full, OnRx80Full);
    step(ceEvent1, OnEvent1);
    step(ceEvent2, OnEvent2);
}

} // namespace serial
