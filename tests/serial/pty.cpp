#include "pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) < 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slaveName = QString::fromLocal8Bit(name);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    termios tio;
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
}

PtyPair::~PtyPair()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

void PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p = { m_master, POLLOUT, 0 };
            poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray result;
    QElapsedTimer timer;
    timer.start();
    char buffer[4096];
    while (result.size() < count && timer.elapsed() < timeoutMs) {
        pollfd p = { m_master, POLLIN, 0 };
        poll(&p, 1, 20);
        const ssize_t n
            = ::read(m_master, buffer, qMin<qsizetype>(sizeof buffer, count - result.size()));
        if (n > 0)
            result.append(buffer, n);
    }
    return result;
}

QByteArray PtyPair::readAvailable(int waitMs)
{
    QByteArray result;
    char buffer[4096];
    pollfd p = { m_master, POLLIN, 0 };
    poll(&p, 1, waitMs);
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    return result;
}

void PtyPair::hangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPair::setOutputStopped(bool stopped)
{
    // Software flow control on the slave: TCOOFF suspends its output, TCOON resumes it.
    tcflow(m_slave, stopped ? TCOOFF : TCOON);
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void processEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

void configureForPty(serial::TCustomSerialPort &port, const PtyPair &pty)
{
    port.setDeviceName(pty.slaveName());
    port.setBaudrate(serial::br9600);
    port.setParity(serial::paOdd);
    port.FlowControl().setControlRts(serial::rtsEnabled);
    port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
}
