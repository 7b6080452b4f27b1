#include "app/contexthelp.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTextBrowser>
#include <QWidget>

namespace app {

namespace {
QString &helpFileName()
{
    static QString name;
    return name;
}
} // namespace

ContextHelp::ContextHelp(QObject *parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

ContextHelp::~ContextHelp()
{
    if (m_pickMode)
        QApplication::restoreOverrideCursor();
    delete m_viewer;
}

QString ContextHelp::helpFile()
{
    return helpFileName();
}

void ContextHelp::setHelpFile(const QString &name)
{
    helpFileName() = name;
}

void ContextHelp::setTopic(QWidget *widget, int topic)
{
    widget->setProperty(topicProperty, topic);
}

int ContextHelp::topicFor(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        const QVariant topic = w->property(topicProperty);
        if (topic.isValid() && topic.toInt() > 0)
            return topic.toInt();
    }
    return 0;
}

QString ContextHelp::pageFor(const QString &helpFile, int topic)
{
    return pageFor(helpFile, topic, uiLanguage());
}

QString ContextHelp::pageFor(const QString &helpFile, int topic, UiLanguage language)
{
    // "Ferrun.HLP" (any letter case) is the application's help; its topics are bundled.
    if (helpFile.compare(QLatin1String("Ferrun.HLP"), Qt::CaseInsensitive) != 0)
        return {};
    if (language == UiLanguage::English) {
        const QString page = QStringLiteral(":/help/en/topic%1.html").arg(topic);
        if (QFile::exists(page))
            return page;
    }
    const QString page = QStringLiteral(":/help/topic%1.html").arg(topic);
    return QFile::exists(page) ? page : QString();
}

bool ContextHelp::showTopic(int topic)
{
    const QString page = pageFor(helpFile(), topic);
    if (page.isEmpty())
        return false;
    if (!m_viewer) {
        m_viewer = new QTextBrowser;
        m_viewer->setAttribute(Qt::WA_DeleteOnClose, false);
        // The program ends with its main window, whether or not the help is open.
        m_viewer->setAttribute(Qt::WA_QuitOnClose, false);
        m_viewer->setObjectName(QStringLiteral("helpViewer"));
        m_viewer->setOpenExternalLinks(false);
        m_viewer->setSearchPaths({ QStringLiteral(":/help") });
        m_viewer->resize(520, 440);
    }
    m_viewer->setWindowTitle(tr("Справка Ferrun"));
    m_viewer->setSource(QUrl(QStringLiteral("qrc") + page));
    m_shownTopic = topic;
    m_viewer->show();
    m_viewer->raise();
    m_viewer->activateWindow();
    return true;
}

void ContextHelp::enterPickMode()
{
    if (m_pickMode)
        return;
    m_pickMode = true;
    QApplication::setOverrideCursor(Qt::WhatsThisCursor);
}

bool ContextHelp::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && m_pickMode) {
            m_pickMode = false;
            QApplication::restoreOverrideCursor();
            return true;
        }
        if (key->key() != Qt::Key_F1)
            break;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || (!widget->isWindow() && !widget->hasFocus()))
            break; // the key event reaches the focused widget and then its parents
        if (key->modifiers() & Qt::ShiftModifier) {
            enterPickMode();
        } else {
            QWidget *focused = QApplication::focusWidget();
            showTopic(topicFor(focused ? focused : widget));
        }
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (m_pickMode) {
            // The press reaches the widget under the mouse first; it is eaten here, so the
            // control does not act and its parents do not see it.
            auto *widget = qobject_cast<QWidget *>(watched);
            if (!widget)
                break;
            m_pickMode = false;
            QApplication::restoreOverrideCursor();
            showTopic(topicFor(widget));
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace app
