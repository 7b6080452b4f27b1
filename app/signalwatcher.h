#pragma once

#include <QObject>
#include <QPointer>

class QSocketNotifier;
class QWidget;

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

// Runs the window's shutdown on SIGTERM and SIGINT, also while a modal dialog or message box
// is open (one shown while the window is still being created included): the dialogs are
// closed first, then the window closes the normal way once their event loops have returned,
// so that its shutdown sequence writes the settings.
//
//     SignalWatcher watcher;
//     CloseOnTermination closer(&watcher);
//     TForm1 form(...);                 // may show "АЦП не обнаружено" at start
//     if (!closer.setWindow(&form))
//         return 0;                     // a signal came during start-up: form closed
//     form.show();
class CloseOnTermination : public QObject
{
    Q_OBJECT

public:
    explicit CloseOnTermination(SignalWatcher *watcher, QObject *parent = nullptr);

    // The window to close. When a signal has already come, closes it at once and returns
    // false: the caller must not start its event loop.
    bool setWindow(QWidget *window);
    bool requested() const { return m_requested; }

    // Closes every modal dialog and message box, the innermost first.
    static void closeModalDialogs();

protected:
    // After a signal, a dialog that opens (one the shutdown itself shows, say) closes too.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void terminate();

    QPointer<QWidget> m_window;
    bool m_requested = false;
};

} // namespace app
