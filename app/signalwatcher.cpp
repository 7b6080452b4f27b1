#include "app/signalwatcher.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace app {

namespace {

int pipeFds[2] = { -1, -1 };

extern "C" void onTerminationSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (pipeFds[0] >= 0)
        return; // one watcher per process
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    delete m_notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void SignalWatcher::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        emit terminationRequested(byte);
}

CloseOnTermination::CloseOnTermination(SignalWatcher *watcher, QObject *parent)
    : QObject(parent)
{
    connect(watcher, &SignalWatcher::terminationRequested, this, &CloseOnTermination::terminate);
}

bool CloseOnTermination::setWindow(QWidget *window)
{
    m_window = window;
    if (m_requested && m_window) {
        m_window->close();
        return false;
    }
    return true;
}

void CloseOnTermination::closeModalDialogs()
{
    // A dialog that will not close (one that ignores its close event) ends the loop.
    QWidget *previous = nullptr;
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (modal == previous)
            break;
        previous = modal;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

bool CloseOnTermination::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow() && widget->isModal())
            QMetaObject::invokeMethod(
                this, &CloseOnTermination::closeModalDialogs, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void CloseOnTermination::terminate()
{
    if (!m_requested)
        qApp->installEventFilter(this);
    m_requested = true;
    closeModalDialogs();
    // The dialogs' event loops return first; the code that opened them goes on as after a
    // click on their close button, and the window then closes from the outer loop.
    if (m_window)
        QMetaObject::invokeMethod(
            m_window,
            [window = m_window] {
                if (window)
                    window->close();
            },
            Qt::QueuedConnection);
}

} // namespace app
