#include "songs/player.h"

#include "songs/tags.h"

#include <limits>

namespace songs {

bool SongPlayer::start(const std::string& path)
{
    ++run_;
    RecordNo = kFirstRecordSlot;
    return file_.openForReading(path);
}

void SongPlayer::stop()
{
    ++run_;
    file_.close();
}

void SongPlayer::endPlayback(PlaybackHost& host)
{
    stop();
    host.setTimerEnabled(false);
    host.endOfPlayback();
}

// A 16-bit counter that would overflow fails the tick instead of wrapping.
bool SongPlayer::countTick()
{
    if (TickCount == std::numeric_limits<std::int16_t>::max())
        return false;
    ++TickCount;
    return true;
}

bool SongPlayer::playGroup(PlaybackHost& host, const std::vector<std::int16_t>& group, std::uint64_t run)
{
    for (const std::int16_t key : group) {
        host.playKey(key, WaitTicks);
        if (!stillCurrent(run))
            return false;
    }
    return true;
}

void SongPlayer::tick(PlaybackHost& host)
{
    if (!file_.isOpen()) {
        endPlayback(host);
        return;
    }
    if (TickCount < WaitTicks) {
        ++TickCount;
        return;
    }

    const std::uint64_t run = run_;
    std::vector<std::int16_t> group;
    group.reserve(kMaxKeyGroup);
    Record record;
    for (;;) {
        // Any record that cannot be read, a missing end marker included,
        // ends the song as the end marker does.
        if (file_.readRecord(RecordNo, record) != ReadStatus::Ok) {
            endPlayback(host);
            return;
        }
        if (record.isSetting()) {
            const std::optional<Tag> tag = ParseTag(record.tag);
            if (tag == Tag::End) {
                endPlayback(host);
                return;
            }
            if (tag == Tag::Keyboard) {
                // The keys read so far belong to the half that was selected
                // when they were recorded; the switch then ends the tick.
                if (!playGroup(host, group, run))
                    return;
                host.selectHalf(record.number);
                if (!stillCurrent(run))
                    return;
                ++RecordNo;
                if (!countTick())
                    endPlayback(host);
                return;
            }
            if (!host.settingsLocked()) {
                host.applySetting(record);
                if (!stillCurrent(run))
                    return;
            }
        } else {
            std::int16_t key = 0;
            if (!KeyNumber(record.tag, key)) {
                endPlayback(host);
                return;
            }
            group.push_back(key);
        }
        if (RecordNo == std::numeric_limits<std::int32_t>::max()) {
            endPlayback(host);
            return;
        }
        ++RecordNo;
        const bool goOn = static_cast<int>(group.size()) < kMaxKeyGroup && (record.number == 0 || record.isSetting());
        if (!goOn)
            break;
    }

    // The group sounds with the pause that follows it; the timer rests while
    // the keys are struck, so no tick can come in between.
    host.setTimerEnabled(false);
    if (!stillCurrent(run))
        return;
    WaitTicks = record.number;
    if (!playGroup(host, group, run))
        return;
    // This tick is the first of the pause.
    TickCount = 1;
    host.setTimerEnabled(true);
}

}  // namespace songs
