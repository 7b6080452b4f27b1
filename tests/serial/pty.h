#pragma once

#include "serial/serialport.h"

#include <QByteArray>
#include <QString>
#include <functional>

// A pseudo-terminal pair: the component opens the slave by name, the test plays the device on
// the master. The test keeps a slave descriptor of its own open so that the pair survives the
// component's open/close cycles.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    int master() const { return m_master; }
    QString slaveName() const { return m_slaveName; }

    void write(const QByteArray &bytes);
    // Reads from the master until count bytes arrived or timeoutMs passed.
    QByteArray read(int count, int timeoutMs = 5000);
    // Bytes readable on the master within waitMs.
    QByteArray readAvailable(int waitMs = 0);
    // Closes the master: the slave side sees a hang-up.
    void hangUp();
    // Stops or resumes reading on the master side (the slave's writes back up when stopped).
    void setOutputStopped(bool stopped);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
};

// Processes the owner thread's events until the condition holds or timeoutMs passed.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);
// Processes events for the given time (for checking that something does NOT happen).
void processEventsFor(int ms);

// A port on the pair with the main window's settings.
void configureForPty(serial::TCustomSerialPort &port, const PtyPair &pty);
