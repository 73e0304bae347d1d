#include "songs/songtime.h"

#include "songs/recorder.h"
#include "songs/tags.h"

#include <charconv>

namespace songs {

namespace {

bool wholeNumber(std::string_view text, int& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseMeterText(std::string_view text, int& beats, int& beatUnit)
{
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    const auto slash = text.find('/');
    int b = 0, u = 0;
    if (slash == std::string_view::npos || !wholeNumber(text.substr(0, slash), b) ||
        !wholeNumber(text.substr(slash + 1), u))
        return false;
    // The unit is a note value: a MIDI time signature stores its power of two.
    if (b < 1 || b > 32 || u < 1 || u > 32 || (u & (u - 1)) != 0)
        return false;
    beats = b;
    beatUnit = u;
    return true;
}

std::vector<std::pair<std::string, std::string>> TimeRecords(const SongTime& time)
{
    if (!time.known())
        return {};
    return {{std::string(TagField(Tag::Tempo)), std::to_string(time.tempo)},
            {std::string(TagField(Tag::Meter)), std::to_string(time.beats) + "/" + std::to_string(time.beatUnit)}};
}

bool TakeTimeRecord(const Record& record, SongTime& time)
{
    const auto tag = ParseTag(record.tag);
    if (tag == Tag::Tempo) {
        if (record.number >= kSlowestTempo && record.number <= kFastestTempo)
            time.tempo = record.number;
        return true;
    }
    if (tag == Tag::Meter) {
        ParseMeterText(record.value, time.beats, time.beatUnit);
        return true;
    }
    return false;
}

bool ReadSongTime(const std::string& path, SongTime& time, int& lowerTone)
{
    SongFile file;
    if (!file.openForReading(path))
        return false;
    // Both are written before the first note; a song's records stop at 2 × 32768.
    constexpr std::int32_t kLastSlotRead = 2 * 32768;
    Record r;
    for (std::int32_t slot = kFirstRecordSlot; slot < kLastSlotRead && file.readRecord(slot, r) == ReadStatus::Ok; ++slot) {
        if (!r.isSetting())
            break;
        if (TakeTimeRecord(r, time))
            continue;
        // The header's second "@DiaZ" is the lower keyboard's.
        if (ParseTag(r.tag) == Tag::Tone && slot < kFirstRecordSlot + kHeaderRecords)
            lowerTone = ((r.number % 12) + 12) % 12;
    }
    return true;
}

}  // namespace songs
