#include "app/spinedit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>
#include <climits>

namespace app {

SpinEdit::SpinEdit(QWidget *parent)
    : QSpinBox(parent)
{
    // The widget's own range is wide so that it never rewrites what the user types.
    QSpinBox::setRange(INT_MIN + 1, INT_MAX);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(true);
    connect(this, &QSpinBox::textChanged, this, &SpinEdit::onTextChanged);
}

void SpinEdit::setBounds(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
}

int SpinEdit::currentValue() const
{
    bool ok = false;
    const int value = lineEdit()->text().trimmed().toInt(&ok);
    return ok ? value : m_minimum;
}

void SpinEdit::show(int value)
{
    const bool blocked = blockSignals(true);
    m_programChange = true;
    setValue(value);
    lineEdit()->setText(QString::number(value));
    m_programChange = false;
    blockSignals(blocked);
}

void SpinEdit::assign(int value)
{
    show(std::clamp(value, m_minimum, std::max(m_minimum, m_maximum)));
}

void SpinEdit::mirror(int value)
{
    if (lineEdit()->text() != QString::number(value))
        show(value);
}

QValidator::State SpinEdit::validate(QString &input, int &pos) const
{
    // Any integer (or an empty or lone sign while typing) is accepted as typed.
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+"))
        return QValidator::Intermediate;
    return QSpinBox::validate(input, pos);
}

void SpinEdit::onTextChanged(const QString &text)
{
    if (m_programChange)
        return;
    emit userTyped(text);
    if (!m_modelDriven)
        emit userChanged(currentValue());
}

void SpinEdit::stepBy(int steps)
{
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
    if (m_modelDriven) {
        emit userStepped(steps);
        return;
    }
    const qint64 next = qint64(currentValue()) + qint64(steps) * m_increment;
    const int clamped = int(std::clamp<qint64>(next, m_minimum, std::max(m_minimum, m_maximum)));
    if (clamped == currentValue() && lineEdit()->text() == QString::number(clamped))
        return;
    show(clamped);
    emit userStepped(steps);
    emit userChanged(clamped);
}

void SpinEdit::focusInEvent(QFocusEvent *event)
{
    QSpinBox::focusInEvent(event);
    emit userEntered();
}

void SpinEdit::focusOutEvent(QFocusEvent *event)
{
    // The base class may restore the last valid text; that is not a user edit.
    m_programChange = true;
    QSpinBox::focusOutEvent(event);
    m_programChange = false;
    if (!m_modelDriven)
        assign(currentValue());
    emit userLeft();
}

void SpinEdit::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit enterPressed();
        event->accept();
        return;
    case Qt::Key_Escape:
        emit escapePressed();
        event->accept();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
        break;
    default:
        if (m_discardTyping && event->key() != Qt::Key_F1) {
            event->accept();
            return;
        }
    }
    QSpinBox::keyPressEvent(event);
}

} // namespace app
