#include "app/commandbuttons.h"

#include <QAction>
#include <QPointer>
#include <QPushButton>

namespace app {

namespace {

const QColor CaptionRed(255, 0, 0); // colour value 255
const QColor CaptionBlack(0, 0, 0);

// The action a push button shows, followed as the action changes. A child of the button.
class ActionLink : public QObject
{
public:
    explicit ActionLink(QPushButton *button)
        : QObject(button)
        , m_button(button)
    {
        connect(button, &QAbstractButton::clicked, this, [this] {
            if (m_action)
                m_action->trigger();
        });
    }

    void setAction(QAction *action)
    {
        if (m_action) {
            disconnect(m_action, nullptr, this, nullptr);
            m_button->removeAction(m_action);
        }
        m_action = action;
        // The button is one of the action's places: its caption colour follows the command's.
        m_button->addAction(action);
        connect(action, &QAction::changed, this, &ActionLink::follow);
        follow();
    }

private:
    void follow()
    {
        m_button->setText(m_action->iconText());
        // A hint of its own, not the text the action offers in its place.
        const QString hint = m_action->toolTip();
        m_button->setToolTip(hint == m_action->text() ? QString() : hint);
        m_button->setEnabled(m_action->isEnabled());
    }

    QPushButton *m_button;
    QPointer<QAction> m_action;
};

} // namespace

void setCaptionColor(QAbstractButton *button, const QColor &color)
{
    // A disabled button keeps the style's disabled caption, and so looks disabled.
    QPalette pal = button->palette();
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive }) {
        pal.setColor(group, QPalette::ButtonText, color);
        pal.setColor(group, QPalette::WindowText, color);
    }
    button->setPalette(pal);
}

QColor captionColor(const QAbstractButton *button)
{
    return button->palette().color(QPalette::Active, QPalette::ButtonText);
}

void setCommandCaption(QAction *action, const QString &caption, bool red)
{
    action->setText(caption);
    for (QObject *place : action->associatedObjects())
        if (auto *button = qobject_cast<QAbstractButton *>(place))
            setCaptionColor(button, red ? CaptionRed : CaptionBlack);
}

void showAction(QPushButton *button, QAction *action)
{
    auto *link = button->findChild<ActionLink *>(QString(), Qt::FindDirectChildrenOnly);
    if (!link)
        link = new ActionLink(button);
    link->setAction(action);
}

} // namespace app
