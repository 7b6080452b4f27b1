#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {

namespace {

void arrow(QPainter &p, bool left)
{
    QPainterPath path;
    if (left) {
        path.moveTo(3, 8);
        path.lineTo(9, 2);
        path.lineTo(9, 6);
        path.lineTo(14, 6);
        path.lineTo(14, 10);
        path.lineTo(9, 10);
        path.lineTo(9, 14);
    } else {
        path.moveTo(13, 8);
        path.lineTo(7, 2);
        path.lineTo(7, 6);
        path.lineTo(2, 6);
        path.lineTo(2, 10);
        path.lineTo(7, 10);
        path.lineTo(7, 14);
    }
    path.closeSubpath();
    p.setBrush(QColor(0, 128, 0));
    p.drawPath(path);
}

void page(QPainter &p, int x, int y, int w, int h)
{
    p.setBrush(Qt::white);
    p.drawRect(x, y, w, h);
    p.setPen(QColor(96, 96, 96));
    for (int ly = y + 3; ly < y + h - 1; ly += 3)
        p.drawLine(x + 2, ly, x + w - 2, ly);
    p.setPen(Qt::black);
}

} // namespace

QIcon pictureIcon(Picture picture)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::black);
    switch (picture) {
    case Picture::Save: // a floppy disk
        p.setBrush(QColor(0, 0, 160));
        p.drawRect(1, 1, 13, 13);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 7, 5);
        p.setBrush(QColor(192, 192, 192));
        p.drawRect(4, 9, 7, 5);
        break;
    case Picture::Open: // an opened folder
        p.setBrush(QColor(224, 192, 64));
        p.drawRect(1, 4, 12, 9);
        p.setBrush(QColor(255, 224, 112));
        p.drawPolygon(QPolygon({ QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13) }));
        break;
    case Picture::CopyText: // two pages
        page(p, 1, 1, 9, 11);
        page(p, 5, 4, 9, 11);
        break;
    case Picture::Catalogue: // a list with a magnifier
        page(p, 1, 1, 10, 13);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(128, 0, 0), 2));
        p.drawEllipse(8, 7, 5, 5);
        p.drawLine(12, 12, 15, 15);
        break;
    case Picture::Previous:
        arrow(p, true);
        break;
    case Picture::Next:
        arrow(p, false);
        break;
    case Picture::Print: // a printer
        page(p, 4, 1, 8, 6);
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(1, 6, 14, 6);
        page(p, 4, 10, 8, 5);
        break;
    case Picture::Usb: // plug with the USB trident
        p.setPen(QPen(Qt::black, 1.5));
        p.drawLine(8, 2, 8, 14);
        p.drawLine(8, 10, 4, 7);
        p.drawLine(8, 8, 12, 5);
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(8, 14), 1.5, 1.5);
        p.drawPolygon(QPolygon({ QPoint(6, 3), QPoint(8, 0), QPoint(10, 3) }));
        p.drawRect(11, 3, 2, 2);
        p.drawEllipse(QPointF(4, 7), 1.3, 1.3);
        break;
    case Picture::Computer: // a monitor on its stand
        p.setBrush(QColor(192, 192, 192));
        p.drawRect(1, 1, 14, 10);
        p.setBrush(QColor(0, 96, 160));
        p.drawRect(3, 3, 10, 6);
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(6, 11, 4, 2);
        p.drawRect(3, 13, 10, 2);
        break;
    case Picture::RisingEdge: // a step from low to high with an arrow on the edge
        p.setPen(QPen(QColor(160, 0, 0), 2));
        p.drawPolyline(QPolygon({ QPoint(1, 13), QPoint(7, 13), QPoint(7, 3), QPoint(15, 3) }));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(160, 0, 0));
        p.drawPolygon(QPolygon({ QPoint(4, 9), QPoint(7, 5), QPoint(10, 9) }));
        break;
    case Picture::CopyChart: // a small chart on a page
        page(p, 1, 1, 13, 13);
        p.setPen(QPen(QColor(200, 0, 0), 1.5));
        p.drawPolyline(QPolygon({ QPoint(2, 11), QPoint(5, 6), QPoint(8, 9), QPoint(13, 3) }));
        break;
    case Picture::Help:
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0, 64, 192));
        p.drawEllipse(0, 0, 15, 15);
        p.setPen(Qt::white);
        {
            QFont font = p.font();
            font.setBold(true);
            font.setPixelSize(12);
            p.setFont(font);
        }
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    p.end();
    return QIcon(pixmap);
}

} // namespace app
