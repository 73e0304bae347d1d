#include "drawart/paint.h"
#include "drawart/pictures.h"
#include "drawart/geometry.h"

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

namespace art {

// The slider knob.

QImage drawKnob()
{
    QImage img(kKnobWidth, kKnobHeight, QImage::Format_RGB32);
    // Lit from the upper left; the cap is a little rounded left to right.
    for (int y = 0; y < kKnobHeight; ++y)
        for (int x = 0; x < kKnobWidth; ++x) {
            const double across = std::sin(M_PI * (x + 0.5) / kKnobWidth);
            const double down = double(y) / (kKnobHeight - 1);
            QColor c = mix(QColor(150, 154, 162), QColor(236, 238, 242), across * 0.8 + 0.2 - down * 0.25);
            img.setPixel(x, y, c.rgb());
        }
    // Grip lines, with the middle one marking the knob's position.
    const int mid = kKnobHeight / 2;
    for (int y : {3, 5, 7, mid, 11, 13, 15}) {
        const bool marker = y == mid;
        for (int x = marker ? 1 : 2; x < kKnobWidth - (marker ? 1 : 2); ++x) {
            img.setPixel(x, y, marker ? qRgb(56, 58, 64) : qRgb(112, 116, 124));
            img.setPixel(x, y + 1, shade(QColor(img.pixel(x, y + 1)), 22).rgb());
        }
    }
    // Outline; the corners take the track's colour so the cap looks rounded.
    for (int x = 0; x < kKnobWidth; ++x) {
        img.setPixel(x, 0, qRgb(96, 100, 108));
        img.setPixel(x, kKnobHeight - 1, qRgb(48, 50, 56));
    }
    for (int y = 0; y < kKnobHeight; ++y) {
        img.setPixel(0, y, qRgb(88, 92, 100));
        img.setPixel(kKnobWidth - 1, y, qRgb(48, 50, 56));
    }
    for (int x = 1; x < kKnobWidth - 1; ++x)
        img.setPixel(x, 1, shade(QColor(img.pixel(x, 1)), 20).rgb());
    for (QPoint corner : {QPoint(0, 0), QPoint(kKnobWidth - 1, 0), QPoint(0, kKnobHeight - 1),
                          QPoint(kKnobWidth - 1, kKnobHeight - 1)})
        img.setPixel(corner, kTrackColour.rgb());
    return img;
}




// 38 x 26 faces, stretched by the window onto 28 x 18 and 28 x 24 buttons:
// broad shapes and gradients only, no detail that a stretch would lose.
QImage drawFace(Face face)
{
    constexpr int w = 38, h = 26;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(128, 128, 128));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF cap(0.5, 0.5, w - 1, h - 1);

    QLinearGradient g(0, 0, 0, h);
    switch (face) {
    case Face::Normal:
    case Face::Lit:
        g.setColorAt(0, QColor(240, 242, 245));
        g.setColorAt(0.5, QColor(210, 213, 218));
        g.setColorAt(1, QColor(168, 172, 180));
        break;
    case Face::Pressed:
        g.setColorAt(0, QColor(140, 144, 150));
        g.setColorAt(1, QColor(182, 186, 192));
        break;
    case Face::Unused:
        g.setColorAt(0, QColor(178, 180, 183));
        g.setColorAt(1, QColor(164, 166, 170));
        break;
    }
    p.setBrush(g);
    p.setPen(QPen(face == Face::Unused ? QColor(120, 122, 126) : QColor(58, 60, 66), 1));
    p.drawRoundedRect(cap, 3, 3);
    p.setBrush(Qt::NoBrush);
    if (face == Face::Pressed) {
        // Pushed in: shadow along the top and left.
        p.setPen(QPen(QColor(70, 72, 78, 200), 2));
        p.drawLine(QPointF(2, 2), QPointF(w - 3, 2));
        p.drawLine(QPointF(2, 2), QPointF(2, h - 3));
    } else if (face != Face::Unused) {
        p.setPen(QPen(QColor(255, 255, 255, 220), 1.2));
        p.drawLine(QPointF(2.5, 1.8), QPointF(w - 3.5, 1.8));
        p.setPen(QPen(QColor(90, 94, 102, 170), 1.5));
        p.drawLine(QPointF(2.5, h - 2.2), QPointF(w - 3.5, h - 2.2));
    }

    // The indicator window in the middle of the cap.
    const double shift = face == Face::Pressed ? 1 : 0;
    const QRectF led(11 + shift, 10 + shift, 16, 6);
    if (face == Face::Lit) {
        QRadialGradient halo(led.center(), 15);
        halo.setColorAt(0, QColor(120, 255, 110, 170));
        halo.setColorAt(1, QColor(120, 255, 110, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(halo);
        p.drawRoundedRect(cap.adjusted(1, 1, -1, -1), 3, 3);
        QLinearGradient lg(led.topLeft(), led.bottomLeft());
        lg.setColorAt(0, QColor(220, 255, 210));
        lg.setColorAt(0.5, QColor(90, 240, 90));
        lg.setColorAt(1, QColor(30, 170, 50));
        p.setBrush(lg);
        p.setPen(QPen(QColor(20, 90, 30), 1));
    } else {
        QLinearGradient lg(led.topLeft(), led.bottomLeft());
        const bool unused = face == Face::Unused;
        lg.setColorAt(0, unused ? QColor(120, 124, 124) : QColor(24, 40, 26));
        lg.setColorAt(1, unused ? QColor(140, 144, 144) : QColor(46, 70, 48));
        p.setBrush(lg);
        p.setPen(QPen(unused ? QColor(110, 112, 116) : QColor(40, 44, 48), 1));
    }
    p.drawRoundedRect(led, 2, 2);
    p.end();
    return img;
}

}  // namespace art
