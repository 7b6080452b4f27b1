#pragma once

#include "acquisition/sessionport.h"

namespace serial {
class TCustomSerialPort;
}

namespace acquisition {

// The session's port over the serial component. Takes the component's OnRxChar and OnError.
// Failures the component raises are handed to onFailure instead of leaving the session's
// handlers; a device that went away (the line error IoError) goes to onDisconnected. Every
// line error is then passed on to onLineError, which is where the owner of the component
// listens instead of OnError.
class SerialSessionPort : public SessionPort
{
public:
    // The line errors of OnError (serial::LineError bits), after the session heard of them.
    std::function<void(int errors)> onLineError;

    explicit SerialSessionPort(serial::TCustomSerialPort *port);
    ~SerialSessionPort() override;

    serial::TCustomSerialPort *serialPort() const { return m_port; }

    bool isOpen() const override;
    int readBytes(void *buffer, int count) override;
    bool writeString(const QByteArray &bytes) override;
    int inputCount() override;
    void purgeAll() override;
    void purgeInput() override;

private:
    template <typename F, typename R> R guarded(F &&call, R onError);

    serial::TCustomSerialPort *m_port;
};

} // namespace acquisition
