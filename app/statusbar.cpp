#include "app/statusbar.h"

#include <QLabel>
#include <QMouseEvent>
#include <algorithm>

namespace app {

StatusBar::StatusBar(QWidget *parent)
    : QFrame(parent)
{
    for (int i = 0; i < 3; ++i) {
        auto *label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(2);
        m_panels.at(i) = label;
    }
    layoutPanels();
}

void StatusBar::layoutPanels()
{
    // Each panel is 2 pixels narrower than its part of the bar: the gap between panels.
    int x = 0;
    for (int i = 0; i < 2; ++i) {
        QLabel *label = m_panels.at(i);
        const int part = std::max(PanelWidths.at(i), label->sizeHint().width() + 2);
        label->setGeometry(x, 2, part - 2, Height - 2);
        x += part;
    }
    const int rest = std::max(PanelWidths.at(2), width() - x);
    m_panels.at(2)->setGeometry(x, 2, rest - 2, Height - 2);
}

void StatusBar::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layoutPanels();
}

QString StatusBar::panelText(int index) const
{
    return m_panels.at(index)->text();
}

void StatusBar::setPanelText(int index, const QString &text)
{
    m_panels.at(index)->setText(text);
    // A text longer than the window is wide is read whole in the panel's hint.
    m_panels.at(index)->setToolTip(text);
    layoutPanels();
}

void StatusBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QFrame::mousePressEvent(event);
}

void StatusBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

ColorPanel::ColorPanel(QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    setColorValue(0);
}

void ColorPanel::setColorValue(quint32 value)
{
    m_value = value; // kept whole, so that a system colour value is written back unchanged
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colorFromValue(m_value));
    setPalette(pal);
}

void ColorPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QFrame::mousePressEvent(event);
}

QColor colorFromValue(quint32 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

bool isDarkColor(const QColor &color)
{
    return color.lightness() < 110;
}

quint32 valueFromColor(const QColor &color)
{
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}

} // namespace app
