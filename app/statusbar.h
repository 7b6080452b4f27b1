#pragma once

#include <QFrame>
#include <array>

class QLabel;

namespace app {

// The window's status bar: three sunken text panels of widths 200, 200 and 50 pixels.
// A click anywhere on it emits clicked().
class StatusBar : public QFrame
{
    Q_OBJECT

public:
    static constexpr int Height = 19;
    static constexpr std::array<int, 3> PanelWidths { 200, 200, 50 };

    explicit StatusBar(QWidget *parent = nullptr);

    QString panelText(int index) const;
    void setPanelText(int index, const QString &text);
    QLabel *panel(int index) const { return m_panels.at(index); }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    // The second press of a double click is not a second click.
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    std::array<QLabel *, 3> m_panels {};
};

// A colour swatch: a panel filled with a Windows colour value (0x00BBGGRR).
class ColorPanel : public QFrame
{
    Q_OBJECT

public:
    explicit ColorPanel(QWidget *parent = nullptr);

    quint32 colorValue() const { return m_value; }
    void setColorValue(quint32 value);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    quint32 m_value = 0;
};

// 0x00BBGGRR to a colour and back.
QColor colorFromValue(quint32 value);
quint32 valueFromColor(const QColor &color);

} // namespace app
