#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace acquisition {
class TerminationSignals;
}

namespace app {

// Runs the window's shutdown on SIGTERM, SIGINT and SIGHUP, also while a modal dialog or
// message box is open (one shown while the window is still being created included): nobody
// can answer then. terminationRequested() goes out first (the window then keeps what is not
// saved in the recovery folder instead of asking), the dialogs are closed, then the window
// closes the normal way once their event loops have returned, so that its shutdown sequence
// writes the settings.
//
//     acquisition::TerminationSignals termination;
//     CloseOnTermination closer(&termination);
//     TForm1 form(...);                 // may show "АЦП не обнаружено" at start
//     connect(&closer, &CloseOnTermination::terminationRequested, &form, ...);
//     if (!closer.setWindow(&form))
//         return 0;                     // a signal came during start-up: form closed
//     form.show();
class CloseOnTermination : public QObject
{
    Q_OBJECT

public:
    explicit CloseOnTermination(
        acquisition::TerminationSignals *termination, QObject *parent = nullptr);

    // The window to close. When a signal has already come, closes it at once and returns
    // false: the caller must not start its event loop.
    bool setWindow(QWidget *window);
    bool requested() const { return m_requested; }

    // Closes every modal dialog and message box, the innermost first.
    static void closeModalDialogs();

signals:
    // A signal came: the window is about to be closed with nobody to answer it.
    void terminationRequested();

protected:
    // After a signal, a dialog that opens (one the shutdown itself shows, say) closes too.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void terminate();

    QPointer<QWidget> m_window;
    bool m_requested = false;
};

} // namespace app
