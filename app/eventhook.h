#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

namespace app {

// Hands the events of one object, before the object sees them, to `handler`: true when the
// handler took the event (the object then does not see it). The hook is the object's child and
// goes with it. For what only events carry: a press on a label, a double click on a tool bar, a
// key on a button.
QObject *hookEvents(QObject *watched, std::function<bool(QEvent *)> handler);

} // namespace app
