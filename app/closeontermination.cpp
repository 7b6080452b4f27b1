#include "app/closeontermination.h"

#include "acquisition/terminationsignals.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>

namespace app {

CloseOnTermination::CloseOnTermination(
    acquisition::TerminationSignals *termination, QObject *parent)
    : QObject(parent)
{
    connect(termination, &acquisition::TerminationSignals::signalReceived, this,
        &CloseOnTermination::terminate);
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
    emit terminationRequested();
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
