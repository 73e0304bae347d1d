#pragma once
// Numbered notation's rule of pitch, shared by the jianpu text and the digits
// on the keys: 1 is the tonic, an unmarked digit lies in the octave from the
// tonic above middle C, and dots count octaves from there.
#include <array>

namespace songs {

constexpr int kMiddleC = 60;
// Semitones above the tonic of the degrees 1 .. 7 of a major scale.
constexpr std::array<int, 7> kMajorScale = {0, 2, 4, 5, 7, 9, 11};

// Where a MIDI note lies for a tonic (pitch class 0 C .. 11 B): the semitones
// above the tonic within its octave (0 .. 11), and that octave, counted from
// the one above middle C (negative below it).
struct ScalePlace {
    int semitone;
    int octave;
};
constexpr ScalePlace PlaceOf(int note, int tonic)
{
    const int above = note - kMiddleC - tonic;
    const int octave = above >= 0 ? above / 12 : -((-above + 11) / 12);
    return {above - 12 * octave, octave};
}

// The degree (1 .. 7) a semitone above the tonic is, 0 for none.
constexpr int DegreeOf(int semitone)
{
    for (int d = 0; d < 7; ++d)
        if (kMajorScale[std::size_t(d)] == semitone)
            return d + 1;
    return 0;
}

}  // namespace songs
