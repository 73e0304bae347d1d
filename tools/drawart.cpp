// drawart: draws every picture of the program and writes it into the assets
// folder given on the command line (default: ./assets).
//
//   instrument/strip.png, strip@2x.png      numbered-notation digits under the white keys
//   instrument/dragicon.png, dragicon16.png pointer shown while the mouse plays the keys
//                                           (and @2x of both)
//   window/skin.jpg                         the window's background
//   window/knob.png                         the two slider knobs
//   window/face_*.png                       the command button faces
//   window/icon16.png, icon32.png, icon48.png
//
// The strip is an opaque RGB picture with exactly two colours, white and the
// digit grey: white is the mask colour, and with no anti-aliasing there is no
// pale edge pixel that the mask would keep as a fringe over a lit key.
//
// The artwork is placed from the window and keyboard geometry, kept here in
// the same pixels (twips / 15) as the window's layout, so that it sits under
// the controls. The noise of the brushed metal comes from a fixed hash, so the
// output only changes when this file or the fonts change.

#include "instrument/keyboardview.h"

#include <QConicalGradient>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kTwipsPerPixel = 15;

// ---------------------------------------------------------------- helpers

bool save(const QImage& image, const QString& path, const char* format = nullptr, int quality = -1)
{
    QDir().mkpath(QFileInfo(path).path());
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "drawart: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%d x %d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

// Deterministic hash noise in [0, 1): the same picture on every run.
double hashNoise(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u
        + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xffffff) / double(0x1000000);
}

// Noise that is smooth along x and independent from row to row: the streaks
// of brushed metal.
double streakNoise(double x, int y, std::uint32_t seed)
{
    const int x0 = int(std::floor(x));
    const double f = x - x0;
    const double s = f * f * (3 - 2 * f);
    return hashNoise(x0, y, seed) * (1 - s) + hashNoise(x0 + 1, y, seed) * s;
}

QColor mix(const QColor& a, const QColor& b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QColor shade(const QColor& c, double delta)
{
    auto ch = [delta](int v) { return std::clamp(int(std::lround(v + delta)), 0, 255); };
    return QColor(ch(c.red()), ch(c.green()), ch(c.blue()), c.alpha());
}

QFont uiFont(int pixelSize, bool antialias)
{
    QFont font;
    // The window's own texts use SimSun; on a machine without it the CJK
    // fallback keeps the same proportions closely enough.
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(pixelSize);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(antialias ? QFont::PreferAntialias : QFont::NoAntialias);
    return font;
}

// ---------------------------------------------------------------- notation strip

struct WhiteKey {
    int index;
    int leftTwips;
    int widthTwips;
};

// The white keys of the on-screen keyboard, from the keyboard's own layout,
// so that every digit stands under its key.
std::vector<WhiteKey> whiteKeys()
{
    constexpr int kBlackKeyMaxHeightTwips = 700;  // taller keys are white
    std::vector<WhiteKey> keys;
    for (int k = 0; k <= 64; ++k) {
        const QRect r = KeyboardView::keyRectTwips(k);
        if (r.height() >= kBlackKeyMaxHeightTwips)
            keys.push_back({k, r.left(), r.width()});
    }
    return keys;
}

constexpr int kStripWidth = 690;
constexpr int kStripHeight = 27;
const QColor kStripBackground(255, 255, 255); // the mask colour: drawn transparent
const QColor kDigitColour(88, 88, 88);

// Rows of the strip at 1x: three dots above (rows 0..7), the digits (9..18),
// two dots below (20..24). The strip is shown 25 px high over the keys, so
// rows 25 and 26 stay empty. Dots are 2 px with a 1 px gap.
constexpr int kDotSize = 2;
constexpr int kDotPitch = 3;
constexpr int kDigitTop = 9;
constexpr int kDigitHeight = 10;
constexpr int kDotsBelowTop = kDigitTop + kDigitHeight + 1;

// Numbered notation: C D E F G A B are 1..7.
int degreeOf(int keyIndex)
{
    static constexpr int degree[12] = {1, 0, 2, 0, 3, 4, 0, 5, 0, 6, 0, 7};
    return degree[keyIndex % 12];
}

// Octave dots: negative below the digit, positive above. Keys 0..11 carry two
// dots below, 12..23 one, 24..35 none, then one, two and three above.
int octaveDots(int keyIndex)
{
    return std::min(keyIndex / 12, 5) - 2;
}

struct Glyph {
    QImage ink; // kDigitColour on white, cropped to the ink columns
    int top;    // row of the ink's top, relative to the digit band
};

// The digits at 1x, drawn by hand with 2 px strokes. At 10 px the hinted
// bitmaps of the CJK font come out with notches and 1 px gaps in the bold
// strokes, which read poorly over a lit key; at 2x the font is used.
constexpr const char* kPixelDigits[7][kDigitHeight] = {
    {"...##.", "..###.", ".####.", "...##.", "...##.", "...##.", "...##.", "...##.", "...##.", "...##."},
    {".####.", "##..##", "....##", "....##", "...##.", "..##..", ".##...", "##....", "##....", "######"},
    {".####.", "##..##", "....##", "....##", "..###.", "....##", "....##", "....##", "##..##", ".####."},
    {"....##", "...###", "..####", ".##.##", "##..##", "######", "....##", "....##", "....##", "....##"},
    {"######", "##....", "##....", "#####.", "....##", "....##", "....##", "....##", "##..##", ".####."},
    {"..###.", ".##...", "##....", "##....", "#####.", "##..##", "##..##", "##..##", "##..##", ".####."},
    {"######", "....##", "....##", "...##.", "...##.", "..##..", "..##..", "..##..", "..##..", "..##.."},
};

std::vector<Glyph> pixelDigits()
{
    std::vector<Glyph> glyphs;
    for (const auto& rows : kPixelDigits) {
        // Crop the empty columns so that the ink is what gets centred.
        int left = 6, right = -1;
        for (const char* row : rows)
            for (int x = 0; x < 6; ++x)
                if (row[x] == '#') {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        Glyph g{QImage(right - left + 1, kDigitHeight, QImage::Format_RGB32), 0};
        for (int y = 0; y < kDigitHeight; ++y)
            for (int x = left; x <= right; ++x)
                g.ink.setPixel(x - left, y, rows[y][x] == '#' ? kDigitColour.rgb() : kStripBackground.rgb());
        glyphs.push_back(g);
    }
    return glyphs;
}

// Renders the digits 1..7 without anti-aliasing: every pixel is either the
// digit colour or the mask colour, so no near-white edge pixel can survive
// the white mask as a pale fringe over a lit key.
std::vector<Glyph> renderDigits(int scale)
{
    const int target = kDigitHeight * scale;
    std::vector<Glyph> best;
    for (int px = 6 * scale; px <= 30 * scale; ++px) {
        QFont font = uiFont(px, false);
        font.setWeight(QFont::Bold);
        std::vector<QImage> raw;
        int top = 1 << 20, bottom = -1;
        for (int d = 1; d <= 7; ++d) {
            QImage img(px * 2, px * 2, QImage::Format_RGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(px / 2, px * 3 / 2, QString::number(d));
            p.end();
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (qGray(img.pixel(x, y)) < 128) {
                        top = std::min(top, y);
                        bottom = std::max(bottom, y);
                    }
            raw.push_back(img);
        }
        if (bottom - top + 1 > target)
            break;
        best.clear();
        for (const QImage& img : raw) {
            int left = img.width(), right = -1;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (qGray(img.pixel(x, y)) < 128) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
            // Bottom-aligned in the band: the digits stand on one baseline.
            const int height = bottom - top + 1;
            Glyph g{QImage(right - left + 1, height, QImage::Format_RGB32), target - height};
            for (int y = 0; y < height; ++y)
                for (int x = left; x <= right; ++x)
                    g.ink.setPixel(x - left, y,
                                   qGray(img.pixel(x, y + top)) < 128 ? kDigitColour.rgb() : kStripBackground.rgb());
            best.push_back(g);
        }
    }
    return best;
}

QImage drawStrip(int scale)
{
    QImage strip(kStripWidth * scale, kStripHeight * scale, QImage::Format_RGB32);
    strip.fill(kStripBackground);
    const std::vector<Glyph> glyphs = scale == 1 ? pixelDigits() : renderDigits(scale);
    if (glyphs.size() != 7)
        return {};

    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(kDigitColour);
    const int dot = kDotSize * scale;
    for (const WhiteKey& key : whiteKeys()) {
        // The strip starts at the keyboard's left edge, one picture pixel per
        // screen pixel; the key's centre in pixels is its centre in twips / 15.
        const double centre = (key.leftTwips + key.widthTwips / 2.0) / kTwipsPerPixel * scale;
        const Glyph& g = glyphs[degreeOf(key.index) - 1];
        const int x = int(std::lround(centre - g.ink.width() / 2.0));
        p.drawImage(x, kDigitTop * scale + g.top, g.ink);

        const int dots = octaveDots(key.index);
        const int dotX = int(std::lround(centre - dot / 2.0));
        for (int i = 0; i < std::abs(dots); ++i) {
            const int row = dots > 0 ? kDigitTop - 1 - kDotSize - i * kDotPitch : kDotsBelowTop + i * kDotPitch;
            // Square at 1x, where 2 x 2 pixels are as round as it gets.
            if (scale == 1)
                p.drawRect(QRect(dotX, row, dot, dot));
            else
                p.drawEllipse(QRect(dotX, row * scale, dot, dot));
        }
    }
    return strip;
}

// ---------------------------------------------------------------- drag icon

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

// ---------------------------------------------------------------- window geometry

// Window client area and the controls the skin lies under, in pixels.
constexpr int kSkinWidth = 785;
constexpr int kSkinHeight = 334;

// The command buttons: Com(1..8) along the band, Com(9) random and Com(0)
// close in the left margin beside the keyboard bay.
constexpr QRect kBandButtons[] = {
    {48, 159, 28, 18},  {88, 159, 28, 18},  {128, 159, 28, 18}, {168, 159, 28, 18},
    {208, 159, 28, 18}, {248, 159, 28, 18}, {288, 159, 28, 18}, {328, 159, 28, 18},
};
constexpr QRect kRandomButton(10, 208, 28, 24);
constexpr QRect kCloseButton(10, 272, 28, 24);
constexpr QRect kNoteLengthBox(488, 157, 49, 20);
constexpr QRect kKeyList(544, 157, 89, 20);
constexpr QRect kInstrumentList(640, 157, 89, 20);

constexpr QRect kLeftGrille(6, 6, 144, 124);
constexpr QRect kRightGrille(kSkinWidth - 6 - 144, 6, 144, 124);
constexpr QRect kDisplay(193, 27, 329, 101);   // x 193..521, y 27..127
constexpr QRect kTrackPanel(541, 20, 54, 111); // slider track and its symbols
constexpr int kBandTop = 135;
constexpr int kBandBottom = 178;
constexpr QRect kBay(45, 180, 697, 152); // x 45..741; the keyboards at y 181 and 256
constexpr QRect kUpperMute(748, 180, 26, 72);
constexpr QRect kLowerMute(748, 255, 26, 72);

// The knobs: 11 x 19 px at x 546 and 579, their top moving over 24..88 px.
constexpr int kKnobWidth = 11;
constexpr int kKnobHeight = 19;
constexpr int kPitchKnobX = 546;
constexpr int kVolumeKnobX = 579;
constexpr int kKnobTopMin = 24;
constexpr int kKnobTopMax = 88;
constexpr int kPitchStops = 5; // octave positions 48, 36, 24, 12, 0
const QColor kTrackColour(44, 47, 53);

// ---------------------------------------------------------------- skin helpers

// Brushed metal: a vertical gradient with fine horizontal streaks.
void brushedMetal(QImage& img, const QRect& r, const QColor& top, const QColor& bottom, double strength,
                  std::uint32_t seed)
{
    const QRect area = r.intersected(img.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QColor row = mix(top, bottom, double(y - r.top()) / std::max(1, r.height() - 1));
        const double rowTone = (hashNoise(0, y, seed) - 0.5) * 0.5;
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const double n = (streakNoise(x / 37.0, y, seed + 1) - 0.5) * 0.9 + (streakNoise(x / 7.0, y, seed + 2) - 0.5) * 0.6
                + (hashNoise(x, y, seed + 3) - 0.5) * 0.35 + rowTone;
            line[x] = shade(row, n * strength).rgb();
        }
    }
}

void softShadow(QPainter& p, const QRectF& r, double radius, int spread, int alpha, QPointF offset = {1, 2})
{
    p.save();
    p.setPen(Qt::NoPen);
    for (int i = spread; i >= 1; --i) {
        p.setBrush(QColor(0, 0, 0, alpha / spread));
        p.drawRoundedRect(r.translated(offset).adjusted(-i, -i, i, i), radius + i, radius + i);
    }
    p.restore();
}

// A recess: dark edge above and left, light edge below and right, drawn
// just outside r, so that the control placed on r fills it exactly.
void well(QPainter& p, const QRect& r, const QColor& floor)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    const QRect outer = r.adjusted(-2, -2, 2, 2);
    p.setBrush(QColor(0, 0, 0, 28));
    p.drawRect(outer.adjusted(0, 0, -1, -1));
    p.setBrush(QColor(255, 255, 255, 120));
    p.drawRect(QRect(outer.left() + 1, outer.bottom(), outer.width() - 1, 1));
    p.drawRect(QRect(outer.right(), outer.top() + 1, 1, outer.height() - 1));
    const QRect ring = r.adjusted(-1, -1, 1, 1);
    p.setBrush(QColor(78, 81, 86));
    p.drawRect(QRect(ring.left(), ring.top(), ring.width(), 1));
    p.drawRect(QRect(ring.left(), ring.top(), 1, ring.height()));
    p.setBrush(QColor(246, 247, 248));
    p.drawRect(QRect(ring.left() + 1, ring.bottom(), ring.width() - 1, 1));
    p.drawRect(QRect(ring.right(), ring.top() + 1, 1, ring.height() - 1));
    p.setBrush(floor);
    p.drawRect(r);
    // The floor's own shading, a touch darker under the top edge.
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRect(QRect(r.left(), r.top(), r.width(), 1));
    p.restore();
}

void screw(QPainter& p, QPointF c, double radius, double angle)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawEllipse(c + QPointF(0.4, 0.8), radius + 0.6, radius + 0.6);
    QRadialGradient g(c - QPointF(radius * 0.4, radius * 0.5), radius * 1.6);
    g.setColorAt(0, QColor(246, 247, 249));
    g.setColorAt(1, QColor(128, 132, 140));
    p.setBrush(g);
    p.setPen(QPen(QColor(70, 73, 80), 0.8));
    p.drawEllipse(c, radius, radius);
    p.translate(c);
    p.rotate(angle);
    p.setPen(QPen(QColor(60, 62, 68), 1.1, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(-radius * 0.65, 0), QPointF(radius * 0.65, 0));
    p.restore();
}

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

// ---------------------------------------------------------------- knob

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

// ---------------------------------------------------------------- button faces

enum class Face { Normal, Pressed, Lit, Unused };

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

// ---------------------------------------------------------------- window icon

// A small keyboard: a dark case with a blue display strip over a row of keys.
QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
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
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets");

    bool ok = true;
    ok &= save(drawStrip(1), out + "/instrument/strip.png");
    ok &= save(drawStrip(2), out + "/instrument/strip@2x.png");
    ok &= save(dragIcon(32), out + "/instrument/dragicon.png");
    ok &= save(dragIcon(64), out + "/instrument/dragicon@2x.png");
    ok &= save(dragIcon16(), out + "/instrument/dragicon16.png");
    ok &= save(dragIcon(32), out + "/instrument/dragicon16@2x.png");
    ok &= save(drawSkin(), out + "/window/skin.jpg", "JPEG", 92);
    ok &= save(drawKnob(), out + "/window/knob.png");
    ok &= save(drawFace(Face::Pressed), out + "/window/face_pressed.png");
    ok &= save(drawFace(Face::Normal), out + "/window/face_normal.png");
    ok &= save(drawFace(Face::Lit), out + "/window/face_lit.png");
    ok &= save(drawFace(Face::Unused), out + "/window/face_unused.png");
    for (int size : {16, 32, 48})
        ok &= save(drawIcon(size), out + QStringLiteral("/window/icon%1.png").arg(size));
    return ok ? 0 : 1;
}
