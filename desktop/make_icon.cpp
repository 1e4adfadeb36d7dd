// Draws the application icon at the sizes the desktop asks for and writes them as PNG files:
//   orbix-make-icon <output folder>
// The pictures are committed under res/; run this again (ninja icons) after changing the drawing.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <cstdio>

namespace {

const QColor kBody(0x37, 0x47, 0x4F);
const QColor kBodyEdge(0x1C, 0x25, 0x29);
const QColor kScreenTop(0xB3, 0xE5, 0xFC);
const QColor kScreenBottom(0x4F, 0xA8, 0xE0);
const QColor kKey(0xDD, 0xE3, 0xE6);
const QColor kArrow(118, 0, 255);  // the progress bar's colour

// A keypad with a display and keys, and an arrow coming down into it: something goes into the
// keypad. Drawn on a 32 x 32 grid; small sizes get fewer, larger keys so they stay legible.
void DrawIcon(QPainter& p, int size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    const bool small = size < 24;

    QPainterPath body;
    body.addRoundedRect(QRectF(2.5, 2.5, 20, 28), 3, 3);
    p.setPen(QPen(kBodyEdge, 1));
    p.setBrush(kBody);
    p.drawPath(body);

    QLinearGradient screen(0, 5, 0, 13);
    screen.setColorAt(0, kScreenTop);
    screen.setColorAt(1, kScreenBottom);
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawRect(QRectF(5.5, 5.5, 14, 8));

    p.setBrush(kKey);
    const int columns = small ? 2 : 3;
    const int rows = small ? 2 : 3;
    const double gap = small ? 2 : 1.5;
    const double keyWidth = (14 - gap * (columns - 1)) / columns;
    const double keyHeight = (13 - gap * (rows - 1)) / rows;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            p.drawRoundedRect(
                QRectF(5.5 + column * (keyWidth + gap), 15.5 + row * (keyHeight + gap), keyWidth, keyHeight), 0.8, 0.8);

    QPolygonF arrow;
    arrow << QPointF(23.5, 1) << QPointF(28.5, 1) << QPointF(28.5, 12) << QPointF(31.5, 12) << QPointF(26, 19.5)
          << QPointF(20.5, 12) << QPointF(23.5, 12);
    p.setPen(QPen(Qt::white, small ? 2.2 : 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(kArrow);
    p.drawPolygon(arrow);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    for (int size : {16, 32, 64, 128}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        DrawIcon(painter, size);
        painter.end();
        const QString path = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/orbix-loader-%1.png").arg(size);
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "%s: could not write\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
