#pragma once

#include <QFrame>
#include <array>

class QLabel;

namespace app {

// The window's status bar: three sunken text panels. The first two are 200 pixels wide, or
// as wide as their text when it is longer; the last takes the rest of the bar (at least 50
// pixels), as a native status bar's last part does, so that every text is shown whole.
// A click anywhere on it emits clicked().
class StatusBar : public QFrame
{
    Q_OBJECT

public:
    static constexpr int Height = 19;
    static constexpr std::array<int, 3> PanelWidths { 200, 200, 50 }; // the least widths

    explicit StatusBar(QWidget *parent = nullptr);

    QString panelText(int index) const;
    void setPanelText(int index, const QString &text);
    QLabel *panel(int index) const { return m_panels.at(index); }

signals:
    void clicked();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    // The second press of a double click is not a second click.
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void layoutPanels();

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

// A channel colour dark enough that text on it is written in white rather than black.
bool isDarkColor(const QColor &color);

} // namespace app
