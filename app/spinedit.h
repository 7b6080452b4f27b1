#pragma once

#include <QSpinBox>

namespace app {

// A spin edit whose logical bounds are not the widget's range: the user may type any
// integer, and the change handlers see the value as typed. A value assigned by program is
// clamped into the bounds and never reported as a user edit.
//
// A standalone field clamps by itself: spinning stays within the bounds and leaving the
// field pulls a typed value back into them. A model-driven field only reports what the
// user did (typed, spun, left); its model decides the value and the window mirrors it back.
class SpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    explicit SpinEdit(QWidget *parent = nullptr);

    void setBounds(int minimum, int maximum);
    int minimumValue() const { return m_minimum; }
    int maximumValue() const { return m_maximum; }
    void setIncrement(int increment) { m_increment = increment; }
    int increment() const { return m_increment; }

    // The value as typed; empty or non-numeric text reads as the lower bound.
    int currentValue() const;
    // Clamps into the bounds; no change signal.
    void assign(int value);
    // Shows the value exactly as given; no change signal (mirror of a model).
    void mirror(int value);

    void setModelDriven(bool on) { m_modelDriven = on; }
    // Discards every key that would change the text (the field is changed by spinning only).
    void setDiscardTyping(bool on) { m_discardTyping = on; }

signals:
    void userTyped(const QString &text);
    void userStepped(int steps);
    void userEntered();
    void userLeft();
    // A change of the value by the user: typing or spinning (standalone fields).
    void userChanged(int value);
    void enterPressed();
    void escapePressed();

protected:
    void stepBy(int steps) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
    QValidator::State validate(QString &input, int &pos) const override;

private:
    void onTextChanged(const QString &text);
    void show(int value);

    int m_minimum = 0;
    int m_maximum = 100;
    int m_increment = 1;
    bool m_modelDriven = false;
    bool m_discardTyping = false;
    bool m_programChange = false;
};

} // namespace app
