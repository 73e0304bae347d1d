#pragma once
// How fast a song goes against its own time (速度), in percent: a player
// slows a song down to learn it, or speeds it up once it is known. Ordinary
// playback and lessons both go by it; at 100 every song plays exactly as it
// was written, so the integer arithmetic below gives back its input there.
// Times are in any one unit (milliseconds, 10 ms ticks).
#include <algorithm>
#include <cstdint>

namespace performance {

constexpr int kSlowestTempoPercent = 40, kFastestTempoPercent = 150, kOwnTempoPercent = 100;

constexpr int ClampTempoPercent(int percent) { return std::clamp(percent, kSlowestTempoPercent, kFastestTempoPercent); }

// A stretch of the song as long as it lasts in real time at `percent` (rounded down).
constexpr std::int64_t ToRealTime(std::int64_t songTime, int percent) { return songTime * kOwnTempoPercent / percent; }

// How much of the song goes by in `realTime` at `percent` (rounded down).
constexpr std::int64_t ToSongTime(std::int64_t realTime, int percent) { return realTime * percent / kOwnTempoPercent; }

// The real time by which `songTime` of the song has gone by at `percent`:
// the least whose ToSongTime reaches it.
constexpr std::int64_t RealTimeReaching(std::int64_t songTime, int percent)
{
    return (songTime * kOwnTempoPercent + percent - 1) / percent;
}

static_assert(ToRealTime(1234, kOwnTempoPercent) == 1234 && ToSongTime(1234, kOwnTempoPercent) == 1234 &&
              RealTimeReaching(1234, kOwnTempoPercent) == 1234);
static_assert(ToSongTime(RealTimeReaching(1000, 150), 150) >= 1000 &&
              ToSongTime(RealTimeReaching(1000, 150) - 1, 150) < 1000);

}  // namespace performance
