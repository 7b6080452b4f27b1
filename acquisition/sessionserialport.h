#pragma once

#include "acquisition/sessionport.h"

namespace serial {
class TCustomSerialPort;
}

namespace acquisition {

// The session's port over the serial component. Takes the component's OnRxChar. Failures
// the component raises are handed to onFailure instead of leaving the session's handlers.
class SerialSessionPort : public SessionPort
{
public:
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
