#pragma once
// The tempo and meter a song was played to, kept in two setting records
// after its header ("@SuDu", "@PaiH"). Older songs have none; a player that
// does not know them skips them.
#include "songs/songfile.h"

#include <string>
#include <utility>
#include <vector>

namespace songs {

constexpr int kSlowestTempo = 20, kFastestTempo = 400;  // quarter notes a minute, as jianpu reads them

struct SongTime {
    int tempo = 0;  // quarter notes a minute; 0 when the song does not say
    int beats = 4, beatUnit = 4;
    bool known() const { return tempo > 0; }
};

// The two records (tag, value) that keep `time`; none when it is not known.
std::vector<std::pair<std::string, std::string>> TimeRecords(const SongTime& time);

// Takes a record into `time` when it is one of the two and its value is
// sound (a tempo from 20 to 400, a meter of 1..32 beats of a power of two
// up to 32); true when it was one of them, sound or not.
bool TakeTimeRecord(const Record& record, SongTime& time);

// The time records of a song file and the 调 of its lower keyboard (the
// header's, which the song starts on); false when it cannot be read.
bool ReadSongTime(const std::string& path, SongTime& time, int& lowerTone);

// "3/4"; false for anything else.
bool ParseMeterText(std::string_view text, int& beats, int& beatUnit);

}  // namespace songs
