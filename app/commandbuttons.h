#pragma once

#include <QColor>
#include <QString>

class QAbstractButton;
class QAction;
class QPushButton;

namespace app {

// A button's caption colour (red for "Закрыть" and the captions of what runs), while it is
// enabled.
void setCaptionColor(QAbstractButton *button, const QColor &color);
QColor captionColor(const QAbstractButton *button);

// The caption of a command that toggles (a panel open, a run going on): the action's text,
// shown by every button that shows the action, in red while `red`.
void setCommandCaption(QAction *action, const QString &caption, bool red);

// Makes a push button show `action` as a tool button shows its default action: its caption is
// the action's icon text, its hint the action's, it is enabled with it, and a click triggers
// it. Called again with another action, the button stands for that one from then on.
void showAction(QPushButton *button, QAction *action);

} // namespace app
