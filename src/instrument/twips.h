#pragma once
// Geometry is kept in twips (1440 to the inch), 15 to a pixel at 96 dots per
// inch; working in logical pixels lets Qt scale the controls on denser screens.
#include <QRect>

#include <cmath>

namespace twips {

constexpr int kPerPixel = 15;

// To the nearest pixel, halves away from zero.
inline int ToPixels(double t) { return int(std::lround(t / kPerPixel)); }

// A control's place: its position and its size each to the nearest pixel.
inline QRect Rect(int left, int top, int width, int height)
{
    return QRect(ToPixels(left), ToPixels(top), ToPixels(width), ToPixels(height));
}

// Each edge to the nearest pixel, so that neighbours (the keys) share their
// edges whatever their widths.
inline QRect EdgesToPixels(const QRect& r)
{
    const int left = ToPixels(r.left());
    const int top = ToPixels(r.top());
    return QRect(left, top, ToPixels(r.left() + r.width()) - left, ToPixels(r.top() + r.height()) - top);
}

}  // namespace twips

// Rounds to the nearest whole number, halves to the even neighbour, as the
// window's knob and random-play arithmetic does.
inline double RoundHalfEven(double value) { return std::nearbyint(value); }
