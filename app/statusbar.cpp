#include "app/statusbar.h"

#include <QLabel>
#include <QMouseEvent>

namespace app {

StatusBar::StatusBar(QWidget *parent)
    : QFrame(parent)
{
    int x = 0;
    for (int i = 0; i < 3; ++i) {
        auto *label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(2);
        label->setGeometry(x, 2, PanelWidths.at(i) - 2, Height - 2);
        m_panels.at(i) = label;
        x += PanelWidths.at(i);
    }
}

QString StatusBar::panelText(int index) const
{
    return m_panels.at(index)->text();
}

void StatusBar::setPanelText(int index, const QString &text)
{
    m_panels.at(index)->setText(text);
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

quint32 valueFromColor(const QColor &color)
{
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}

} // namespace app
