#pragma once
// Measurements on rendered sound, shared by the MIDI tests.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

constexpr int kRate = 44100;

inline int framesOf(double seconds)
{
    return int(std::lround(seconds * kRate));
}

// Root mean square of interleaved stereo frames [from, to), in sample units
// (full scale 32767).
inline double rms(const std::vector<std::int16_t>& lr, int fromFrame, int toFrame)
{
    fromFrame = std::max(fromFrame, 0);
    toFrame = std::min<int>(toFrame, int(lr.size() / 2));
    if (toFrame <= fromFrame)
        return 0;
    double sum = 0;
    for (int i = 2 * fromFrame; i < 2 * toFrame; ++i)
        sum += double(lr[std::size_t(i)]) * lr[std::size_t(i)];
    return std::sqrt(sum / (2.0 * (toFrame - fromFrame)));
}

inline int peak(const std::vector<std::int16_t>& lr, int fromFrame, int toFrame)
{
    int p = 0;
    for (int i = 2 * std::max(fromFrame, 0); i < std::min<int>(2 * toFrame, int(lr.size())); ++i)
        p = std::max(p, std::abs(int(lr[std::size_t(i)])));
    return p;
}

// Levels the tests agree on: a sounding key is far above this, and a key
// long released (with its reverb) is below the silence line, which leaves
// room for the ±1 dither of 16-bit output.
constexpr double kSoundingRms = 300;   // about -40 dBFS
constexpr double kSilentRms = 4;       // about -78 dBFS
