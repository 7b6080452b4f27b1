#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace acquisition {

// SIGINT, SIGTERM and SIGHUP as a Qt signal on the thread that created the watcher: the
// handler only writes the signal's number into a pipe, and a socket notifier reads it in the
// event loop. How a run ends on them is the front end's to present, but the rule is one:
// a cycle run saves the cycles stored, a measurement leaves its target as it was, the window
// keeps its recording in the recovery folder and closes. One watcher per process; the
// signals get their default action back when it is destroyed.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up (or another watcher exists).
    bool isActive() const { return m_notifier != nullptr; }
    // The first signal received so far, 0 when none.
    int received() const { return m_received; }
    // A descriptor that becomes readable when a signal arrives and stays so until the event
    // loop takes the signal in: a wait outside the event loop (an output's open or write,
    // files::OutputOptions::interruptFd) polls it to end on a signal. -1 when not active.
    int wakeDescriptor() const;

    // "interrupted (Ctrl+C)", "terminated (SIGTERM)", "hung up (SIGHUP)".
    static QString describe(int signalNumber);
    // 128 + the signal's number, as a shell reports a program the signal ended.
    static int exitStatus(int signalNumber) { return 128 + signalNumber; }

signals:
    void signalReceived(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};

} // namespace acquisition
