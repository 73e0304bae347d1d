#pragma once
// What every picture is painted with: colour arithmetic, the fixed noise of
// the brushed metal, the font, shadows, wells and screws; and saving.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <cstdint>

namespace art {

constexpr int kTwipsPerPixel = 15;

bool save(const QImage& image, const QString& path, const char* format = nullptr, int quality = -1);
double hashNoise(int x, int y, std::uint32_t seed);
double streakNoise(double x, int y, std::uint32_t seed);
QColor mix(const QColor& a, const QColor& b, double t);
QColor shade(const QColor& c, double delta);
QFont uiFont(int pixelSize, bool antialias);
void brushedMetal(QImage& img, const QRect& r, const QColor& top, const QColor& bottom, double strength,
                  std::uint32_t seed);
void softShadow(QPainter& p, const QRectF& r, double radius, int spread, int alpha, QPointF offset = {1, 2});
void well(QPainter& p, const QRect& r, const QColor& floor);
void screw(QPainter& p, QPointF c, double radius, double angle);

}  // namespace art
