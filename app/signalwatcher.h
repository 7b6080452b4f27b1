#pragma once

#include <QObject>

class QSocketNotifier;

namespace app {

// Turns SIGTERM and SIGINT into a Qt signal on the thread that created the watcher: the
// handler only writes a byte into a pipe, and a socket notifier reads it in the event loop.
// One watcher per process.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace app
