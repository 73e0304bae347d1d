#include "songs/player.h"

#include "songs/tags.h"

#include <limits>

namespace songs {

bool SongPlayer::start(const std::string& path)
{
    ++run_;
    RecordNo = kFirstRecordSlot;
    pending_.clear();
    ticks_ = 0;
    if (!file_.openForReading(path))
        return false;
    readLengths();
    return true;
}

void SongPlayer::readLengths()
{
    heldSlots_.clear();
    lengthsAfter_.clear();
    std::map<std::pair<int, int>, std::vector<std::int32_t>> unreleased;  // (keyboard, key) -> note slots
    int keyboard = kLowerKeyboard;
    std::int32_t lastNote = 0;
    Record r;
    // Songs keep their notes below slot 32768; a file longer than twice that
    // is no song this program wrote, and its lengths are not looked for.
    constexpr std::int32_t kLastSlotRead = 2 * 32768;
    for (std::int32_t slot = kFirstRecordSlot; slot <= kLastSlotRead && file_.readRecord(slot, r) == ReadStatus::Ok; ++slot) {
        if (!r.isSetting()) {
            std::int16_t key = 0;
            if (!KeyNumber(r.tag, key))
                break;
            unreleased[{keyboard, key}].push_back(slot);
            lastNote = slot;
            continue;
        }
        const std::optional<Tag> tag = ParseTag(r.tag);
        if (tag == Tag::End)
            break;
        if (tag == Tag::Keyboard && (r.number == kLowerKeyboard || r.number == kUpperKeyboard))
            keyboard = r.number;
        const std::optional<LengthRecord> length = ParseLengthTag(r.tag);
        if (!length || lastNote == 0 || r.number < 0)
            continue;
        if (length->kind == LengthRecord::Kind::Release) {
            auto& notes = unreleased[{length->keyboard, length->key}];
            if (notes.empty())
                continue;  // no strike of that key to end
            heldSlots_.insert(notes.back());
            notes.pop_back();
        }
        lengthsAfter_[lastNote].push_back({r.number, *length});
    }
}

void SongPlayer::fireLengths(PlaybackHost& host, bool all)
{
    std::vector<std::pair<std::int64_t, LengthRecord>> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (all || it->first <= ticks_) {
            due.push_back(*it);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [at, r] : due) {
        if (r.kind == LengthRecord::Kind::Release)
            host.endKey(r.keyboard, std::int16_t(r.key));
        else
            host.pedal(r.keyboard, r.kind == LengthRecord::Kind::PedalDown);
    }
}

void SongPlayer::stop()
{
    ++run_;
    file_.close();
}

void SongPlayer::endPlayback(PlaybackHost& host)
{
    // What the song still holds ends with it.
    fireLengths(host, true);
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

bool SongPlayer::playGroup(PlaybackHost& host, const std::vector<Struck>& group, std::uint64_t run)
{
    for (const Struck& s : group) {
        if (heldSlots_.count(s.slot))
            host.holdKey(s.key, WaitTicks);
        else
            host.playKey(s.key, WaitTicks);
        if (!stillCurrent(run))
            return false;
        // The releases and pedal moves that follow this strike.
        if (const auto after = lengthsAfter_.find(s.slot); after != lengthsAfter_.end())
            for (const auto& [ticks, r] : after->second)
                pending_.push_back({ticks_ + ticks, r});
    }
    fireLengths(host, false);
    return stillCurrent(run);
}

void SongPlayer::tick(PlaybackHost& host)
{
    if (!file_.isOpen()) {
        endPlayback(host);
        return;
    }
    ++ticks_;
    if (!pending_.empty()) {
        const std::uint64_t run = run_;
        fireLengths(host, false);
        if (!stillCurrent(run))
            return;
    }
    if (TickCount < WaitTicks) {
        ++TickCount;
        return;
    }

    const std::uint64_t run = run_;
    std::vector<Struck> group;
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
            group.push_back({key, RecordNo});
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
