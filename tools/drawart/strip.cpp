#include "drawart/paint.h"
#include "drawart/pictures.h"
#include "instrument/keyboardview.h"

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

}  // namespace art
