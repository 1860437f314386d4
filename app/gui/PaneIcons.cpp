#include "PaneIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace orvane::app {

namespace {

const QColor kInk(40, 40, 40);
const QColor kGreen(48, 224, 48);
const QColor kBlue(0, 0, 160);

// A device with two interfaces hanging from it.
void DrawDevices(QPainter& p) {
    p.setPen(kInk);
    p.drawLine(4, 5, 4, 12);
    p.drawLine(4, 8, 8, 8);
    p.drawLine(4, 12, 8, 12);
    p.fillRect(1, 1, 7, 4, kBlue);
    p.drawRect(8, 6, 6, 3);
    p.fillRect(9, 7, 5, 2, kGreen);
    p.drawRect(8, 10, 6, 3);
    p.fillRect(9, 11, 5, 2, kGreen);
}

// Name and value columns.
void DrawProperties(QPainter& p) {
    p.setPen(kInk);
    p.drawRect(1, 1, 13, 13);
    p.drawLine(6, 2, 6, 14);
    for (int y : {5, 9}) p.drawLine(2, y, 14, y);
    for (int y : {3, 7, 11}) p.fillRect(2, y, 3, 1, kBlue);
    for (int y : {3, 7, 11}) p.fillRect(8, y, 5, 1, kGreen);
}

// A page of decoded fields, grouped.
void DrawDecode(QPainter& p) {
    p.setPen(kInk);
    p.drawRect(2, 1, 11, 13);
    p.fillRect(4, 3, 7, 2, kBlue);
    for (int y : {7, 9}) p.drawLine(5, y, 11, y);
    p.fillRect(4, 11, 7, 2, kBlue);
    p.fillRect(4, 7, 1, 3, kGreen);
}

// Hex bytes beside their characters.
void DrawData(QPainter& p) {
    p.setPen(kInk);
    p.drawRect(1, 1, 13, 13);
    for (int y : {4, 7, 10})
        for (int x : {3, 6}) p.fillRect(x, y, 2, 2, kBlue);
    p.drawLine(9, 3, 9, 12);
    for (int y : {4, 7, 10}) p.fillRect(11, y, 2, 2, kGreen);
}

}  // namespace

QIcon PaneIcon(uint32_t id) {
    void (*draw)(QPainter&) = nullptr;
    switch (id) {
    case 4000: draw = DrawDevices; break;
    case 4001: draw = DrawProperties; break;
    case 4002: draw = DrawDecode; break;
    case 4003: draw = DrawData; break;
    default: return {};
    }
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace orvane::app
