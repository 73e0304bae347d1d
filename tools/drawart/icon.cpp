#include "drawart/paint.h"
#include "drawart/pictures.h"

#include <QColor>
#include <QConicalGradient>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#ifdef SONAREL_HAVE_SVG
#include <QSvgGenerator>
#endif
#include <cstdio>

namespace art {

namespace {

// A small keyboard: a dark case with a blue display strip over a row of keys,
// drawn on whatever the painter paints, `size` pixels square.
void paintIcon(QPainter& p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);

    const int whiteKeys = size <= 16 ? 5 : 7;
    const int gap = 1;
    const int keyWidth = (size - 2 - (whiteKeys - 1) * gap) / whiteKeys; // case border 1 px each side
    const int keysWidth = whiteKeys * keyWidth + (whiteKeys - 1) * gap;
    const int left = (size - keysWidth) / 2;
    const int caseTop = size / 8;
    const int caseBottom = size - size / 8;
    const int keysTop = caseTop + std::max(3, size * 5 / 16);
    const int keysBottom = caseBottom - 1;

    QLinearGradient body(0, caseTop, 0, caseBottom);
    body.setColorAt(0, QColor(96, 100, 110));
    body.setColorAt(1, QColor(30, 32, 38));
    p.setBrush(body);
    p.setPen(QPen(QColor(16, 17, 20), 1));
    const double radius = std::max(1.5, size / 12.0);
    p.drawRoundedRect(QRectF(left - 1.5, caseTop + 0.5, keysWidth + 2, caseBottom - caseTop - 1), radius, radius);

    p.setRenderHint(QPainter::Antialiasing, false);
    // Display strip, the window's blue.
    const int stripTop = caseTop + std::max(1, size / 16) + 1;
    const int stripHeight = std::max(1, keysTop - stripTop - std::max(1, size / 16));
    const int stripLeft = left + keysWidth / 4;
    QLinearGradient lcd(0, stripTop, 0, stripTop + stripHeight);
    lcd.setColorAt(0, QColor(110, 150, 240));
    lcd.setColorAt(1, QColor(40, 80, 190));
    p.fillRect(QRect(stripLeft, stripTop, keysWidth / 2, stripHeight), lcd);
    if (size >= 32) {
        // Two speaker dots either side of the display.
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 21, 24));
        const double r = size / 16.0;
        p.drawEllipse(QPointF(left + keysWidth / 8.0, stripTop + stripHeight / 2.0), r, r);
        p.drawEllipse(QPointF(left + keysWidth * 7 / 8.0, stripTop + stripHeight / 2.0), r, r);
        p.setRenderHint(QPainter::Antialiasing, false);
    }

    // White keys, then black keys over their upper part (C D E F G A B).
    for (int i = 0; i < whiteKeys; ++i) {
        const QRect key(left + i * (keyWidth + gap), keysTop, keyWidth, keysBottom - keysTop);
        QLinearGradient kg(key.topLeft(), key.bottomLeft());
        kg.setColorAt(0, QColor(236, 238, 242));
        kg.setColorAt(1, QColor(255, 255, 255));
        p.fillRect(key, kg);
        if (size >= 32)
            p.fillRect(QRect(key.left(), key.bottom(), key.width(), 1), QColor(190, 194, 200));
    }
    static constexpr bool blackAfter[7] = {true, true, false, true, true, true, false};
    const int blackHeight = (keysBottom - keysTop) * 3 / 5;
    const int blackWidth = std::max(1, keyWidth * 2 / 3);
    for (int i = 0; i + 1 < whiteKeys; ++i) {
        if (!blackAfter[i % 7])
            continue;
        const int boundary = left + (i + 1) * (keyWidth + gap) - gap;
        // Centred on the gap between the two white keys.
        const QRect key(boundary - blackWidth / 2 + (gap + 1) / 2, keysTop, blackWidth, blackHeight);
        p.fillRect(key, QColor(18, 18, 22));
    }
}

}  // namespace

QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    paintIcon(p, size);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

bool saveScalableIcon(const QString& path)
{
#ifdef SONAREL_HAVE_SVG
    // The 256-pixel drawing, every shape of it a vector: the desktop scales it.
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(QStringLiteral("Sonarel"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    paintIcon(p, 256);
    p.end();
    std::printf("%s (scalable)\n", qPrintable(path));
    return true;
#else
    std::printf("%s not drawn: this build of drawart has no SVG support\n", qPrintable(path));
    return true;
#endif
}

}  // namespace art
