#include "acquisition/sessionserialport.h"

#include "serial/serialport.h"

namespace acquisition {

SerialSessionPort::SerialSessionPort(serial::TCustomSerialPort *port)
    : m_port(port)
{
    m_port->OnRxChar = [this](serial::TCustomSerialPort *, int count) {
        if (onRxChar)
            onRxChar(count);
    };
    m_port->OnError = [this](serial::TCustomSerialPort *, int errors) {
        if ((errors & serial::IoError) && onDisconnected)
            onDisconnected();
        if (onLineError)
            onLineError(errors);
    };
}

SerialSessionPort::~SerialSessionPort()
{
    m_port->OnRxChar = nullptr;
    m_port->OnError = nullptr;
}

template <typename F, typename R> R SerialSessionPort::guarded(F &&call, R onError)
{
    try {
        return call();
    } catch (const serial::ESerialPortError &e) {
        if (onFailure)
            onFailure(QString::fromUtf8(e.what()));
        return onError;
    }
}

bool SerialSessionPort::isOpen() const
{
    return m_port->IsOpen();
}

int SerialSessionPort::readBytes(void *buffer, int count)
{
    return guarded([&] { return m_port->ReadBytes(buffer, count); }, 0);
}

bool SerialSessionPort::writeString(const QByteArray &bytes)
{
    return guarded([&] { return m_port->WriteString(bytes); }, false);
}

int SerialSessionPort::inputCount()
{
    return guarded([&] { return m_port->InputCount(); }, 0);
}

void SerialSessionPort::purgeAll()
{
    guarded(
        [&] {
            m_port->PurgeAll();
            return true;
        },
        false);
}

void SerialSessionPort::purgeInput()
{
    guarded(
        [&] {
            m_port->Purge(serial::PurgeRxAbort | serial::PurgeRxClear);
            return true;
        },
        false);
}

} // namespace acquisition
