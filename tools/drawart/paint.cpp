#include "drawart/paint.h"

#include <QDir>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace art {

// ---------------------------------------------------------------- helpers

bool save(const QImage& image, const QString& path, const char* format, int quality)
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

void softShadow(QPainter& p, const QRectF& r, double radius, int spread, int alpha, QPointF offset)
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

}  // namespace art
