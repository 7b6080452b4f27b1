#include "acquisition/terminationsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace acquisition {

namespace {

constexpr int Watched[] = { SIGINT, SIGTERM, SIGHUP };

int pipeFds[2] = { -1, -1 };

extern "C" void onTerminationSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

void setAction(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : Watched)
        ::sigaction(number, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (pipeFds[0] >= 0)
        return; // one watcher per process
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    setAction(onTerminationSignal);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    setAction(SIG_DFL);
    delete m_notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

int TerminationSignals::wakeDescriptor() const
{
    return m_notifier ? pipeFds[0] : -1;
}

void TerminationSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        if (!m_received)
            m_received = byte;
        emit signalReceived(byte);
    }
}

QString TerminationSignals::describe(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return QStringLiteral("interrupted (Ctrl+C)");
    case SIGTERM:
        return QStringLiteral("terminated (SIGTERM)");
    case SIGHUP:
        return QStringLiteral("hung up (SIGHUP)");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

} // namespace acquisition
