#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// What the measurement session needs of the serial port: the calls of the serial
// component it makes, and the arrival notification. All on the session's thread.
namespace acquisition {

class SessionPort
{
public:
    virtual ~SessionPort() = default;

    virtual bool isOpen() const = 0;
    // Up to `count` received bytes; 0 when none or closed.
    virtual int readBytes(void *buffer, int count) = 0;
    // Queues the bytes for sending; false when not all were accepted.
    virtual bool writeString(const QByteArray &bytes) = 0;
    // Bytes waiting in the receive queue; 0 when closed.
    virtual int inputCount() = 0;
    // Discards pending input and output in both directions.
    virtual void purgeAll() = 0;
    // Discards pending input only.
    virtual void purgeInput() = 0;

    // Set by the session: called with the number of bytes waiting whenever bytes arrive.
    std::function<void(int count)> onRxChar;
    // Set by the session: a failure of the port (its message), after which the call that
    // failed returned as if nothing had been sent or received.
    std::function<void(const QString &message)> onFailure;
    // Set by the session: the device went away (unplugged, the other side hung up). Nothing
    // more will come from it until the port is opened again.
    std::function<void()> onDisconnected;
};

} // namespace acquisition
