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

void grille(QPainter& p, const QRect& panel, std::uint32_t seed)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    softShadow(p, panel, 10, 3, 60);
    // The dark panel the speaker sits in.
    QLinearGradient pg(panel.topLeft(), panel.bottomLeft());
    pg.setColorAt(0, QColor(64, 67, 74));
    pg.setColorAt(1, QColor(34, 36, 41));
    p.setBrush(pg);
    p.setPen(QPen(QColor(26, 27, 31), 1));
    p.drawRoundedRect(QRectF(panel).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.setPen(QPen(QColor(255, 255, 255, 45), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(panel).adjusted(1.5, 1.5, -1.5, -1.5), 9, 9);

    const QPointF c(panel.center().x() + 0.5, panel.center().y() + 0.5);
    const double outer = 57.5;
    const double inner = 52.5;
    // Chrome ring.
    QConicalGradient ring(c, 45);
    ring.setColorAt(0.00, QColor(250, 251, 252));
    ring.setColorAt(0.25, QColor(130, 134, 142));
    ring.setColorAt(0.50, QColor(214, 217, 222));
    ring.setColorAt(0.75, QColor(96, 100, 108));
    ring.setColorAt(1.00, QColor(250, 251, 252));
    p.setPen(QPen(QColor(20, 21, 24), 1));
    p.setBrush(ring);
    p.drawEllipse(c, outer, outer);
    p.setBrush(QColor(22, 23, 26));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, inner + 1, inner + 1);

    // Perforated mesh, slightly domed: lighter towards the upper left.
    QRadialGradient mesh(c - QPointF(16, 20), inner * 1.5);
    mesh.setColorAt(0, QColor(120, 125, 134));
    mesh.setColorAt(0.6, QColor(78, 82, 90));
    mesh.setColorAt(1, QColor(46, 48, 54));
    p.setBrush(mesh);
    p.drawEllipse(c, inner, inner);

    QPainterPath clip;
    clip.addEllipse(c, inner - 1.5, inner - 1.5);
    p.setClipPath(clip);
    const double pitch = 4.6;
    const double rowPitch = pitch * 0.866;
    for (int row = -14; row <= 14; ++row) {
        const double y = c.y() + row * rowPitch;
        const double shift = (row & 1) ? pitch / 2 : 0;
        for (int col = -14; col <= 14; ++col) {
            const QPointF h(c.x() + col * pitch + shift, y);
            const double d = std::hypot(h.x() - c.x(), h.y() - c.y());
            if (d > inner - 2.5)
                continue;
            p.setBrush(QColor(255, 255, 255, 38));
            p.drawEllipse(h + QPointF(0.5, 0.6), 1.45, 1.45);
            p.setBrush(QColor(10, 10, 12, 235));
            p.drawEllipse(h, 1.35, 1.35);
        }
    }
    // A soft sheen across the dome.
    QRadialGradient sheen(c - QPointF(22, 26), inner);
    sheen.setColorAt(0, QColor(255, 255, 255, 55));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(sheen);
    p.drawEllipse(c, inner, inner);
    p.setClipping(false);
    // Inner shadow where the mesh meets the ring.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 90), 2));
    p.drawEllipse(c, inner - 0.5, inner - 0.5);

    const double sx = panel.left() + 9.5, ex = panel.right() - 8.5;
    const double sy = panel.top() + 9.5, ey = panel.bottom() - 8.5;
    screw(p, {sx, sy}, 3.4, 30 + seed % 50);
    screw(p, {ex, sy}, 3.4, 80 + seed % 37);
    screw(p, {sx, ey}, 3.4, 10 + seed % 23);
    screw(p, {ex, ey}, 3.4, 60 + seed % 41);
    p.restore();
}

void display(QPainter& p)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF lcd(kDisplay);
    const QRectF bezel = lcd.adjusted(-5, -5, 5, 5);
    softShadow(p, bezel, 8, 3, 50);
    // The frame the glass sits in, darker at the top: it is recessed.
    QLinearGradient fg(bezel.topLeft(), bezel.bottomLeft());
    fg.setColorAt(0, QColor(22, 24, 28));
    fg.setColorAt(1, QColor(58, 62, 70));
    p.setBrush(fg);
    p.setPen(QPen(QColor(255, 255, 255, 110), 1));
    p.drawRoundedRect(bezel.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);

    QLinearGradient glass(lcd.topLeft(), lcd.bottomLeft());
    glass.setColorAt(0.0, QColor(58, 100, 198));
    glass.setColorAt(0.45, QColor(30, 62, 156));
    glass.setColorAt(1.0, QColor(14, 34, 104));
    p.setBrush(glass);
    p.setPen(QPen(QColor(8, 14, 40), 1));
    p.drawRoundedRect(lcd.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);

    QPainterPath glassPath;
    glassPath.addRoundedRect(lcd.adjusted(1, 1, -1, -1), 4.5, 4.5);
    p.setClipPath(glassPath);
    // The backlight: brighter in the middle.
    QRadialGradient glow(lcd.center() + QPointF(0, 10), lcd.width() * 0.55);
    glow.setColorAt(0, QColor(90, 150, 255, 60));
    glow.setColorAt(1, QColor(90, 150, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawRect(lcd);
    // Fine horizontal lines of the panel.
    for (int y = kDisplay.top() + 1; y < kDisplay.bottom(); y += 2) {
        p.setBrush(QColor(0, 0, 30, 16));
        p.drawRect(QRectF(lcd.left(), y, lcd.width(), 1));
    }
    // Glossy reflection over the upper part, curving down to the left.
    QPainterPath gloss;
    gloss.moveTo(lcd.left(), lcd.top());
    gloss.lineTo(lcd.right(), lcd.top());
    gloss.lineTo(lcd.right(), lcd.top() + 20);
    gloss.cubicTo(lcd.right() - 110, lcd.top() + 34, lcd.left() + 120, lcd.top() + 44, lcd.left(), lcd.top() + 52);
    gloss.closeSubpath();
    QLinearGradient gg(lcd.topLeft(), lcd.topLeft() + QPointF(0, 52));
    gg.setColorAt(0, QColor(255, 255, 255, 78));
    gg.setColorAt(1, QColor(255, 255, 255, 10));
    p.setBrush(gg);
    p.drawPath(gloss);
    // Inner shadow along the top and left edges of the glass.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(QColor(0, 0, 20, 60 - i * 14), 1));
        p.drawRoundedRect(lcd.adjusted(1.5 + i, 1.5 + i, -1.5 + 3 - i, -1.5 + 3 - i), 4, 4);
    }
    // A faint rule between the name and the song lines.
    QLinearGradient rule(lcd.left() + 12, 0, lcd.right() - 12, 0);
    rule.setColorAt(0, QColor(160, 200, 255, 0));
    rule.setColorAt(0.5, QColor(160, 200, 255, 90));
    rule.setColorAt(1, QColor(160, 200, 255, 0));
    p.setPen(QPen(QBrush(rule), 1));
    p.drawLine(QPointF(lcd.left() + 12, 70.5), QPointF(lcd.right() - 12, 70.5));
    p.restore();
}

void noteSymbol(QPainter& p, QPointF head, double h, const QColor& c)
{
    QPainterPath note;
    const double hr = h * 0.2;
    note.addEllipse(head, hr * 1.35, hr);
    note.addRect(QRectF(head.x() + hr * 1.35 - 1.3, head.y() - h, 1.3, h));
    QPainterPath flag;
    const QPointF top(head.x() + hr * 1.35 - 1.3, head.y() - h);
    flag.moveTo(top);
    flag.cubicTo(top + QPointF(2.5, 2.2), top + QPointF(6.0, 3.5), top + QPointF(4.6, h * 0.62));
    flag.cubicTo(top + QPointF(4.8, h * 0.42), top + QPointF(3.0, h * 0.33), top + QPointF(1.3, h * 0.3));
    flag.closeSubpath();
    note.addPath(flag);
    note.setFillRule(Qt::WindingFill);
    note = note.simplified();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawPath(note.translated(0.6, 0.8));
    p.setBrush(c);
    p.drawPath(note);
    p.restore();
}

// A loudspeaker: magnet box and cone facing right, its centre at c.
QPainterPath speakerPath(QPointF c, double h)
{
    QPainterPath s;
    const double box = h * 0.36;
    s.addRect(QRectF(c.x() - h * 0.45, c.y() - box / 2, h * 0.28, box));
    QPolygonF cone;
    cone << QPointF(c.x() - h * 0.17, c.y() - box / 2) << QPointF(c.x() + h * 0.18, c.y() - h / 2)
         << QPointF(c.x() + h * 0.18, c.y() + h / 2) << QPointF(c.x() - h * 0.17, c.y() + box / 2);
    s.addPolygon(cone);
    s.closeSubpath();
    s.setFillRule(Qt::WindingFill);
    return s.simplified();
}

void speakerSymbol(QPainter& p, QPointF c, double h, const QColor& colour, bool crossed)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath s = speakerPath(c, h);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawPath(s.translated(0.6, 0.8));
    p.setBrush(colour);
    p.drawPath(s);
    if (crossed) {
        // The sound is off: a red cross where the waves would be.
        const QPointF x(c.x() + h * 0.46, c.y());
        const double a = h * 0.17;
        p.setPen(QPen(QColor(0, 0, 0, 120), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(x + QPointF(-a + 0.6, -a + 0.8), x + QPointF(a + 0.6, a + 0.8));
        p.drawLine(x + QPointF(-a + 0.6, a + 0.8), x + QPointF(a + 0.6, -a + 0.8));
        p.setPen(QPen(QColor(232, 64, 52), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(x + QPointF(-a, -a), x + QPointF(a, a));
        p.drawLine(x + QPointF(-a, a), x + QPointF(a, -a));
    } else {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, 1.1, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(c.x() - h * 0.1, c.y() - h * 0.35, h * 0.7, h * 0.7), -40 * 16, 80 * 16);
    }
    p.restore();
}

void sliderTrack(QPainter& p)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF panel(kTrackPanel);
    softShadow(p, panel, 6, 3, 50);
    QLinearGradient pg(panel.topLeft(), panel.bottomLeft());
    pg.setColorAt(0, QColor(38, 41, 46));
    pg.setColorAt(1, QColor(50, 53, 60));
    p.setBrush(pg);
    p.setPen(QPen(QColor(255, 255, 255, 110), 1));
    p.drawRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.setPen(QPen(QColor(16, 17, 20), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(panel.adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);

    // The slots the knobs ride in, from the centre of a knob at its top to
    // the centre at its bottom, and a little beyond.
    const int centreRowTop = kKnobTopMin + kKnobHeight / 2;
    const int centreRowBottom = kKnobTopMax + kKnobHeight / 2;
    for (int x : {kPitchKnobX, kVolumeKnobX}) {
        const QRectF slot(x + kKnobWidth / 2 - 2, centreRowTop - 6, 5, centreRowBottom - centreRowTop + 13);
        QLinearGradient sg(slot.topLeft(), slot.topRight());
        sg.setColorAt(0, QColor(0, 0, 0));
        sg.setColorAt(1, QColor(30, 32, 36));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 40));
        p.drawRoundedRect(slot.adjusted(0, 0, 1, 1), 2.5, 2.5);
        p.setBrush(sg);
        p.drawRoundedRect(slot, 2.5, 2.5);
    }

    // Octave marks of the pitch knob, at the knob's centre for each stop.
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor legend(200, 206, 214);
    const int step = (kKnobTopMax - kKnobTopMin) / (kPitchStops - 1);
    for (int i = 0; i < kPitchStops; ++i) {
        const int y = centreRowTop + i * step;
        p.fillRect(QRect(kPitchKnobX + kKnobWidth + 2, y, i == 0 || i == kPitchStops - 1 ? 6 : 4, 1), legend);
    }
    // Volume: a wedge that grows towards the loud end at the top.
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF wedge;
    const double wx = kVolumeKnobX - 3;
    wedge << QPointF(wx, centreRowTop) << QPointF(wx, centreRowBottom + 1) << QPointF(wx - 1, centreRowBottom + 1)
          << QPointF(wx - 7, centreRowTop);
    QLinearGradient wg(0, centreRowTop, 0, centreRowBottom);
    wg.setColorAt(0, legend);
    wg.setColorAt(1, QColor(legend.red(), legend.green(), legend.blue(), 90));
    p.setPen(Qt::NoPen);
    p.setBrush(wg);
    p.drawPolygon(wedge);

    // What each knob sets, under its slot.
    noteSymbol(p, QPointF(kPitchKnobX + 3.5, 124.5), 12, legend);
    speakerSymbol(p, QPointF(kVolumeKnobX + 5.5, 118.5), 12, legend, false);
    p.restore();
}

void muteButton(QPainter& p, const QRect& r)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF b(r);
    softShadow(p, b, 5, 2, 70);
    QLinearGradient g(b.topLeft(), b.topRight());
    g.setColorAt(0, QColor(86, 90, 98));
    g.setColorAt(0.5, QColor(62, 65, 72));
    g.setColorAt(1, QColor(44, 46, 52));
    p.setBrush(g);
    p.setPen(QPen(QColor(18, 19, 22), 1));
    p.drawRoundedRect(b.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawRoundedRect(b.adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    // Grip ridges above and below the symbol.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < 3; ++i) {
        for (int y : {r.top() + 8 + i * 3, r.bottom() - 8 - i * 3}) {
            p.fillRect(QRect(r.left() + 7, y, r.width() - 14, 1), QColor(24, 25, 28));
            p.fillRect(QRect(r.left() + 7, y + 1, r.width() - 14, 1), QColor(255, 255, 255, 40));
        }
    }
    speakerSymbol(p, QPointF(r.center().x() - 2, r.center().y() + 0.5), 15, QColor(222, 226, 232), true);
    p.restore();
}

void powerLed(QPainter& p, QPointF c)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient halo(c, 7);
    halo.setColorAt(0, QColor(110, 255, 120, 110));
    halo.setColorAt(1, QColor(110, 255, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(c, 7, 7);
    p.setBrush(QColor(40, 42, 46));
    p.drawEllipse(c, 3.3, 3.3);
    QRadialGradient led(c - QPointF(0.8, 0.8), 3);
    led.setColorAt(0, QColor(230, 255, 230));
    led.setColorAt(0.5, QColor(80, 230, 90));
    led.setColorAt(1, QColor(20, 130, 40));
    p.setBrush(led);
    p.drawEllipse(c, 2.4, 2.4);
    p.restore();
}

QImage drawSkin()
{
    QImage img(kSkinWidth, kSkinHeight, QImage::Format_RGB32);
    // Top plate, then the lighter command band and the lower part.
    brushedMetal(img, QRect(0, 0, kSkinWidth, kBandTop - 2), QColor(200, 203, 208), QColor(170, 174, 180), 22, 11);
    brushedMetal(img, QRect(0, kBandTop - 2, kSkinWidth, kSkinHeight - kBandTop + 2), QColor(222, 225, 229),
                 QColor(190, 194, 199), 18, 23);

    QPainter p(&img);
    // The seam between the top plate and the band.
    p.fillRect(QRect(0, kBandTop - 2, kSkinWidth, 1), QColor(96, 100, 106));
    p.fillRect(QRect(0, kBandTop - 1, kSkinWidth, 1), QColor(245, 246, 248));

    grille(p, kLeftGrille, 7);
    grille(p, kRightGrille, 19);
    display(p);
    sliderTrack(p);

    // Command band: wells under the buttons and the three entry boxes.
    for (const QRect& r : kBandButtons)
        well(p, r, QColor(128, 128, 128));
    const QColor listFloor(159, 164, 164);
    well(p, kNoteLengthBox, listFloor);
    well(p, kKeyList, listFloor);
    well(p, kInstrumentList, listFloor);
    // Vents in the empty stretch of the band between the buttons and the boxes.
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 16; ++i) {
        const QRectF slot(377 + i * 6.5, 147, 2.6, 24);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 150));
        p.drawRoundedRect(slot.translated(0.7, 0.8), 1.3, 1.3);
        p.setBrush(QColor(36, 38, 42));
        p.drawRoundedRect(slot, 1.3, 1.3);
    }
    screw(p, {22.5, 156.5}, 3.6, 35);
    powerLed(p, {750.5, 166.5});
    screw(p, {770.5, 156.5}, 3.6, 75);

    // Keyboard bay: black, recessed, felt between and below the keyboards.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(kBay.adjusted(-1, -1, 1, 1), QColor(70, 72, 76));
    p.fillRect(QRect(kBay.left() - 1, kBay.bottom() + 1, kBay.width() + 2, 1), QColor(248, 249, 250));
    p.fillRect(QRect(kBay.right() + 1, kBay.top(), 1, kBay.height() + 1), QColor(236, 238, 240));
    QLinearGradient bay(kBay.topLeft(), kBay.bottomLeft());
    bay.setColorAt(0, QColor(4, 4, 5));
    bay.setColorAt(1, QColor(20, 20, 23));
    p.fillRect(kBay, bay);
    const QColor felt(120, 22, 30);
    p.fillRect(QRect(kBay.left() + 1, kBay.top(), kBay.width() - 2, 1), felt);
    p.fillRect(QRect(kBay.left() + 1, 254, kBay.width() - 2, 2), felt);
    p.fillRect(QRect(kBay.left() + 1, 329, kBay.width() - 2, 2), felt);

    // Left margin: random and close buttons.
    well(p, kRandomButton, QColor(128, 128, 128));
    well(p, kCloseButton, QColor(128, 128, 128));
    // Right margin: the two mute buttons.
    muteButton(p, kUpperMute);
    muteButton(p, kLowerMute);

    // Edge of the case.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(255, 255, 255, 150));
    p.drawLine(1, 1, kSkinWidth - 2, 1);
    p.drawLine(1, 1, 1, kSkinHeight - 2);
    p.setPen(QColor(40, 42, 46));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, kSkinWidth - 1, kSkinHeight - 1));
    p.end();
    return img;
}

}  // namespace art
