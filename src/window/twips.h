#pragma once
#include <QRect>
#include <cmath>

// Window geometry is laid out in twips, 15 to a pixel at 96 dots per inch;
// Qt scales logical pixels on other densities.
constexpr int kTwipsPerPixel = 15;

inline int TwipsToPixels(double twips) { return int(std::lround(twips / kTwipsPerPixel)); }
inline QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
}

// Rounds to the nearest whole number, halves to the even neighbour.
inline double RoundHalfEven(double value) { return std::nearbyint(value); }
