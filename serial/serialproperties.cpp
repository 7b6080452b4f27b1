#include "serial/serialport.h"

#include "serial/portsession.h"

// The property groups and the component's property setters: values checked and stored,
// an open port reconfigured at once.
namespace serial {

namespace {

constexpr int maxIntW = 2147483647;

void checkRange(const char *name, int value)
{
    if (value < 0)
        throw ESerialPortError(QStringLiteral("%1 must lie between 0 and %2, not %3")
                                   .arg(QLatin1String(name))
                                   .arg(maxIntW)
                                   .arg(value));
}

} // namespace

// --- property groups ---

void TSerialPersistent::EndUpdate()
{
    if (m_updateCount > 0)
        --m_updateCount;
    Changed();
}

void TSerialPersistent::Changed()
{
    if (m_updateCount == 0 && OnChange)
        OnChange();
}

void TSerialBuffers::Assign(const TSerialBuffers &source)
{
    checkRange("ReadSize", source.m_readSize);
    BeginUpdate();
    m_readSize = source.m_readSize;
    m_writeSize = source.m_writeSize;
    m_readTimeout = source.m_readTimeout;
    m_writeTimeout = source.m_writeTimeout;
    EndUpdate();
}

void TSerialBuffers::setReadSize(int value)
{
    checkRange("ReadSize", value);
    if (value == m_readSize)
        return;
    m_readSize = value;
    Changed();
}

void TSerialBuffers::setWriteSize(int value)
{
    checkRange("WriteSize", value);
    if (value == m_writeSize)
        return;
    m_writeSize = value;
    Changed();
}

void TSerialBuffers::setReadTimeout(int value)
{
    checkRange("ReadTimeout", value);
    m_readTimeout = value;
}

void TSerialBuffers::setWriteTimeout(int value)
{
    checkRange("WriteTimeout", value);
    m_writeTimeout = value;
}

void TSerialFlowControl::copyValues(const TSerialFlowControl &source)
{
    m_outCtsFlow = source.m_outCtsFlow;
    m_outDsrFlow = source.m_outDsrFlow;
    m_controlDtr = source.m_controlDtr;
    m_controlRts = source.m_controlRts;
    m_xonXoffOut = source.m_xonXoffOut;
    m_xonXoffIn = source.m_xonXoffIn;
    m_dsrSensitivity = source.m_dsrSensitivity;
    m_txContinueOnXoff = source.m_txContinueOnXoff;
}

void TSerialFlowControl::Assign(const TSerialFlowControl &source)
{
    const TSerialFlowControl old(*this);
    BeginUpdate();
    copyValues(source);
    try {
        EndUpdate();
    } catch (...) {
        copyValues(old);
        throw;
    }
}

void TSerialEventChars::Assign(const TSerialEventChars &source)
{
    const TSerialEventChars old(*this);
    BeginUpdate();
    std::copy(std::begin(source.m_chars), std::end(source.m_chars), std::begin(m_chars));
    try {
        EndUpdate();
    } catch (...) {
        std::copy(std::begin(old.m_chars), std::end(old.m_chars), std::begin(m_chars));
        throw;
    }
}

void TSerialEventChars::setChar(int index, char value)
{
    if (index < 1 || index > 5)
        return;
    const char old = m_chars[index - 1];
    m_chars[index - 1] = value;
    try {
        Changed();
    } catch (...) {
        m_chars[index - 1] = old;
        throw;
    }
}

// --- property setters ---

template <typename T> void TCustomSerialPort::setLineProperty(T &field, T value)
{
    if (field == value)
        return;
    const T old = field;
    field = value;
    try {
        ApplyLineSettings();
    } catch (...) {
        field = old; // refused by the device: the setting in force stays
        throw;
    }
}

void TCustomSerialPort::setBaudrate(TSerialBaudrate value)
{
    if (value == m_baudrate)
        return;
    const TSerialBaudrate oldRate = m_baudrate;
    const int oldUser = m_userBaudrate;
    m_baudrate = value;
    if (value != brUser)
        m_userBaudrate = 0;
    try {
        ApplyLineSettings();
    } catch (...) {
        m_baudrate = oldRate;
        m_userBaudrate = oldUser;
        throw;
    }
}

void TCustomSerialPort::setUserBaudrate(int value)
{
    if (value == m_userBaudrate)
        return;
    const TSerialBaudrate oldRate = m_baudrate;
    const int oldUser = m_userBaudrate;
    m_userBaudrate = value;
    m_baudrate = brUser;
    try {
        ApplyLineSettings();
    } catch (...) {
        m_baudrate = oldRate;
        m_userBaudrate = oldUser;
        throw;
    }
}

void TCustomSerialPort::setParity(TSerialParity value)
{
    setLineProperty(m_parity, value);
}

void TCustomSerialPort::setParityCheck(bool value)
{
    setLineProperty(m_parityCheck, value);
}

void TCustomSerialPort::setDatabits(TSerialDatabits value)
{
    setLineProperty(m_databits, value);
}

void TCustomSerialPort::setStopbits(TSerialStopbits value)
{
    setLineProperty(m_stopbits, value);
}

void TCustomSerialPort::setOptions(TSerialOptions value)
{
    setLineProperty(m_options, value);
}

void TCustomSerialPort::setPortNum(int value)
{
    RequireClosed();
    checkRange("PortNum", value);
    m_portNum = value;
}

void TCustomSerialPort::setDeviceName(const QString &value)
{
    RequireClosed();
    m_deviceName = value;
}

void TCustomSerialPort::setMonitorEvents(TSerialEvents value)
{
    RequireClosed();
    m_monitorEvents = value;
}

void TCustomSerialPort::setBuffers(const TSerialBuffers &value)
{
    RequireClosed();
    m_buffers.Assign(value);
}

void TCustomSerialPort::setEventPriority(TThreadPriority value)
{
    if (value == m_eventPriority)
        return;
    m_eventPriority = value;
    if (m_session)
        m_session->setThreadPriority(true, value);
}

void TCustomSerialPort::setWritePriority(TThreadPriority value)
{
    if (value == m_writePriority)
        return;
    m_writePriority = value;
    if (m_session)
        m_session->setThreadPriority(false, value);
}

void TCustomSerialPort::setDirectWrite(bool value)
{
    RequireClosed();
    m_directWrite = value;
}

void TCustomSerialPort::setUpdateDCB(bool value)
{
    RequireClosed();
    m_updateDCB = value;
}

} // namespace serial
