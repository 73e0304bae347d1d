#pragma once
// The keyboard's geometry is kept in twips (1440 to the inch). At 96 dots per
// inch a twip is 1/15 pixel; working in logical pixels lets Qt scale the
// control on denser screens.
#include <QRect>

namespace twips {

constexpr int kPerPixel = 15;

constexpr int ToPixels(int t) { return (2 * t + kPerPixel) / (2 * kPerPixel); }  // nearest pixel
inline QRect ToPixels(const QRect& r)
{
    const int left = ToPixels(r.left());
    const int top = ToPixels(r.top());
    return QRect(left, top, ToPixels(r.left() + r.width()) - left, ToPixels(r.top() + r.height()) - top);
}

}  // namespace twips
