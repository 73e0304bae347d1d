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

namespace art {

const QColor kInk(20, 20, 24);
const QColor kNoteBlue(36, 98, 214);

// Drawn by hand at 16 px, where a scaled-down outline turns to mush.
// k outline, w hand, b note. The hot spot is the fingertip (4, 0).
constexpr const char* kHand16[16] = {
    "...kk........b..",
    "..kwwk.......bb.",
    "..kwwk.......b.b",
    "..kwwk....bbbb..",
    "..kwwkkk..bbb...",
    "..kwwkwwkk......",
    "..kwwkwwkwkk....",
    ".kkwwkwwkwkwk...",
    "kwwkwwwwwwwwk...",
    "kwwwkwwwwwwwwk..",
    ".kwwwwwwwwwwwk..",
    "..kwwwwwwwwwwk..",
    "...kwwwwwwwwk...",
    "....kwwwwwwwk...",
    "....kwwwwwwwk...",
    "....kkkkkkkkk...",
};

QImage dragIcon16()
{
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            switch (kHand16[y][x]) {
            case 'k': img.setPixel(x, y, kInk.rgb()); break;
            case 'w': img.setPixel(x, y, qRgb(255, 255, 255)); break;
            case 'b': img.setPixel(x, y, kNoteBlue.rgb()); break;
            default: break;
            }
        }
    return img;
}

// The pointer while playing: a hand pressing with its index finger, and a
// note rising beside it. Drawn on a 32-unit grid; the fingertip at (11, 1)
// is the hot spot.
QImage dragIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    QPainterPath hand;
    hand.addRoundedRect(QRectF(8.5, 1, 6, 20), 3, 3);      // index finger
    hand.addRoundedRect(QRectF(14.5, 10.5, 5, 11), 2.5, 2.5); // folded fingers
    hand.addRoundedRect(QRectF(19.5, 11.5, 5, 11), 2.5, 2.5);
    hand.addRoundedRect(QRectF(24.5, 13.5, 4.5, 10), 2.2, 2.2);
    QPainterPath palm;
    palm.moveTo(8.5, 17);
    palm.lineTo(29, 18);
    palm.lineTo(28, 25);
    palm.quadTo(26.5, 29, 24, 30.5);
    palm.lineTo(13, 30.5);
    palm.quadTo(10, 28, 8.5, 25);
    palm.closeSubpath();
    hand.addPath(palm);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-2.5, -5.5, 5, 11), 2.5, 2.5);
    hand.addPath(QTransform().translate(7, 21).rotate(-48).map(thumb));
    hand.setFillRule(Qt::WindingFill); // overlaps join instead of cancelling
    hand = hand.simplified();

    p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient skin(0, 0, 32, 32);
    skin.setColorAt(0, QColor(255, 255, 255));
    skin.setColorAt(1, QColor(226, 230, 238));
    p.setBrush(skin);
    p.drawPath(hand);
    // Creases between the folded fingers.
    p.setPen(QPen(QColor(90, 94, 104), 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19.5, 14), QPointF(19.5, 19.5));
    p.drawLine(QPointF(24.5, 15.5), QPointF(24.5, 20.5));
    p.drawLine(QPointF(14.5, 13), QPointF(14.5, 19));

    // An eighth note with a white halo so that it reads on black keys too.
    QPainterPath note;
    note.addEllipse(QPointF(24.2, 9.2), 3.1, 2.3);
    note.addRect(QRectF(26.3, 0.8, 1.6, 8.6));
    QPainterPath flag;
    flag.moveTo(26.3, 0.8);
    flag.cubicTo(28.5, 2.5, 31.5, 3.5, 30.5, 7.5);
    flag.cubicTo(30.0, 5.5, 28.5, 4.5, 27.9, 4.3);
    flag.closeSubpath();
    note.addPath(flag);
    note.setFillRule(Qt::WindingFill);
    note = note.simplified();
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(note);
    p.setPen(Qt::NoPen);
    p.setBrush(kNoteBlue);
    p.drawPath(note);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace art
