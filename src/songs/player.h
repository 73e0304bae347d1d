#pragma once
// Playback of a song file, one tick of the window's 10 ms playback timer at a
// time. The player knows nothing of widgets: it reads records and tells its
// host what to do. The window's host drives the real instruments and the
// panel; the exporter's host drives instruments on a virtual clock.
#include "songs/keys.h"
#include "songs/songfile.h"
#include "songs/tags.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace songs {

class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;
    // Play of the active instrument.
    virtual void playKey(std::int16_t key, std::int16_t nTime) = 0;
    // "@TonD": 1 or 2 selects the half; any other value leaves it.
    virtual void selectHalf(std::int16_t half) = 0;
    // A setting record other than "@TonD"/"@END ", applied only when the
    // settings are not locked. A tag nobody knows is the host's to skip.
    virtual void applySetting(const Record& record) = 0;
    virtual bool settingsLocked() const = 0;
    // The playback timer, which the tick switches off while a key group plays.
    virtual void setTimerEnabled(bool on) = 0;
    // End of the song ("@END ", records that run out, or any failure). The
    // player has closed its file and switched the timer off just before.
    virtual void endOfPlayback() = 0;

    // A song with note lengths: a key its release record will end (the
    // countdown leaves it alone), the release, and the pedal.
    virtual void holdKey(std::int16_t key, std::int16_t nTime) { playKey(key, nTime); }
    virtual void endKey(int /*keyboard*/, std::int16_t /*key*/) {}
    virtual void pedal(int /*keyboard*/, bool /*down*/) {}
};

// A key group holds at most one keyboard's worth of keys.
constexpr int kMaxKeyGroup = keys::kKeyCount;

class SongPlayer {
public:
    // Opens the file read-only and starts at slot 10; false when it cannot
    // be opened (the caller then ends the playback). A file this player had
    // open before is closed first.
    bool start(const std::string& path);
    void stop();  // closes the file only
    // Stopped by the user: what the song holds (releases, the pedal) ends now.
    void endLengths(PlaybackHost& host) { fireLengths(host, true); }
    bool isOpen() const { return file_.isOpen(); }

    // One tick of the playback timer. A tick with no file open ends the
    // playback at once, so a host that missed a failed start still stops.
    void tick(PlaybackHost& host);

    std::int32_t RecordNo = 0;
    // Kept across playbacks: a playback stopped in a pause lets it run out first.
    std::int16_t WaitTicks = 0;
    std::int16_t TickCount = 0;

private:
    void endPlayback(PlaybackHost& host);
    // False when the host started or stopped a playback from inside its call.
    bool stillCurrent(std::uint64_t run) const { return run == run_ && file_.isOpen(); }
    struct Struck {
        std::int16_t key;
        std::int32_t slot;
    };
    bool playGroup(PlaybackHost& host, const std::vector<Struck>& group, std::uint64_t run);
    bool countTick();
    // Note lengths: which notes a release ends, and the releases and pedal
    // moves that follow each note's strike, read once at the start.
    void readLengths();
    void fireLengths(PlaybackHost& host, bool all);

    SongFile file_;
    std::uint64_t run_ = 0;  // changes at every start and stop
    std::set<std::int32_t> heldSlots_;
    std::map<std::int32_t, std::vector<std::pair<std::int16_t, LengthRecord>>> lengthsAfter_;
    std::vector<std::pair<std::int64_t, LengthRecord>> pending_;  // (tick due, what)
    std::int64_t ticks_ = 0;  // ticks of this playback
};

}  // namespace songs
