#pragma once
// The window's geometry in pixels (twips / 15), shared by the skin and the knob.
#include <QColor>
#include <QRect>

namespace art {

// Window client area and the controls the skin lies under, in pixels.
inline constexpr int kSkinWidth = 785;
inline constexpr int kSkinHeight = 334;

// The command buttons: Com(1..8) along the band, Com(9) random and Com(0)
// close in the left margin beside the keyboard bay.
inline constexpr QRect kBandButtons[] = {
    {48, 159, 28, 18},  {88, 159, 28, 18},  {128, 159, 28, 18}, {168, 159, 28, 18},
    {208, 159, 28, 18}, {248, 159, 28, 18}, {288, 159, 28, 18}, {328, 159, 28, 18},
};
inline constexpr QRect kRandomButton(10, 208, 28, 24);
inline constexpr QRect kCloseButton(10, 272, 28, 24);
inline constexpr QRect kNoteLengthBox(488, 157, 49, 20);
inline constexpr QRect kKeyList(544, 157, 89, 20);
inline constexpr QRect kInstrumentList(640, 157, 89, 20);

inline constexpr QRect kLeftGrille(6, 6, 144, 124);
inline constexpr QRect kRightGrille(kSkinWidth - 6 - 144, 6, 144, 124);
inline constexpr QRect kDisplay(193, 27, 329, 101);   // x 193..521, y 27..127
inline constexpr QRect kTrackPanel(541, 20, 54, 111); // slider track and its symbols
inline constexpr int kBandTop = 135;
inline constexpr int kBandBottom = 178;
inline constexpr QRect kBay(45, 180, 697, 152); // x 45..741; the keyboards at y 181 and 256
inline constexpr QRect kUpperMute(748, 180, 26, 72);
inline constexpr QRect kLowerMute(748, 255, 26, 72);

// The knobs: 11 x 19 px at x 546 and 579, their top moving over 24..88 px.
inline constexpr int kKnobWidth = 11;
inline constexpr int kKnobHeight = 19;
inline constexpr int kPitchKnobX = 546;
inline constexpr int kVolumeKnobX = 579;
inline constexpr int kKnobTopMin = 24;
inline constexpr int kKnobTopMax = 88;
inline constexpr int kPitchStops = 5; // octave positions 48, 36, 24, 12, 0
inline const QColor kTrackColour(44, 47, 53);

}  // namespace art
