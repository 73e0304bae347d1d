#pragma once
// Writing a recording into the scratch song file.
#include "songs/songfile.h"
#include "songs/songtime.h"
#include "songs/tags.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace songs {

// The six settings of one keyboard half, as the header records them.
struct HalfSettings {
    std::int32_t tone = 0;
    std::int16_t intensity = 127;
    std::int16_t instrument = 0;
    std::int16_t pitch = 36;
    bool silencer = false;
    std::int16_t mlong = 100;
};

// Note records are remembered by a 16-bit slot number, so none may lie past this.
constexpr std::int32_t kLastNoteSlot = 32767;

class SongRecorder {
public:
    SongRecorder() = default;
    ~SongRecorder() { releaseWrites(); }
    SongRecorder(const SongRecorder&) = delete;
    SongRecorder& operator=(const SongRecorder&) = delete;

    // Deletes the old scratch file and writes the song's header in its place
    // (SongHeader), then the tempo and meter when the take is played to
    // them. False, with nothing left open, when the file cannot be deleted,
    // created or written.
    bool start(const std::string& path, const std::string& titleUtf8, const std::string& authorUtf8,
               const HalfSettings& upper, const HalfSettings& lower, const SongTime& time = {});
    // Writes "@END " "0" at the next slot and closes the file. True when the
    // whole take, its end marker included, is on the disk; false (and nothing
    // happens) when no recording is open.
    bool stop();
    bool isOpen() const { return file_.isOpen(); }
    // A record of this recording did not reach the file.
    bool failed() const { return failed_; }
    // Puts what was recorded so far on the disk (the window is closing).
    bool flush();

    // While held, records wait in memory, in their order, and go to the file
    // at release: the window holds them while a key is struck, so that its
    // note-on never waits for a write, and releases them right after it.
    // Stop, flush and a new start release them first.
    void holdWrites() { holding_ = true; }
    bool holding() const { return holding_; }
    // Writes what was held. False when the file refused a record: the
    // recording cannot go on, and the next record takes the first slot
    // that was not written.
    bool releaseWrites();

    // Write a setting record at the next slot (no-op when not open).
    bool writeSettingRecord(Tag tag, std::string_view value);
    // A key released or the pedal moved (hold mode, the pedal), `ticks` after
    // the last note record. Nothing is written before the first note: there
    // is no strike to measure from. The song's last note waits until the
    // last of these, so that the end marker follows them.
    bool writeLengthRecord(const LengthRecord& record, std::int16_t ticks);
    // The note-record writer: rewrites the previous note's gap with gapTicks,
    // then appends this note with the value 10. Returns false when the
    // recording cannot go on: the next note would lie past slot 32767 or the
    // file cannot be written (the caller then stops the recording). Nothing
    // is written, and true returned, while no recording is open (a key
    // reported before the header is on disk).
    bool recordNote(std::int16_t note, std::int16_t gapTicks);

    std::int32_t RecordNo = 0;
    std::int16_t LastNoteRecord = 0;  // -1 right after start
    std::int16_t LastKey = 0;

private:
    struct Held {
        std::int32_t slot;
        bool appended;  // a new record at the end, not the rewrite of a note's gap
        std::string tag, value;
    };

    bool writeNext(std::string_view tag, std::string_view value);
    bool writeNext(Tag tag, std::string_view value) { return writeNext(TagField(tag), value); }
    // Queues a record; then, unless held, writes what is queued.
    void queue(std::int32_t slot, bool appended, std::string_view tag, std::string_view value);
    bool writeQueued();

    SongFile file_;
    std::int16_t lastLengthTicks_ = 0;  // the latest length record after the last note
    std::vector<Held> queued_;
    bool holding_ = false;
    bool failed_ = false;
};

std::string NumberText(long long value);  // plain decimal, no leading blank

// The records of a song's header.
constexpr std::int32_t kHeaderRecords = 14;

// The bytes every song opens with, whoever writes it (a recording, an
// imported file): the header line with the title and author, zeros to the end
// of slot 9, then the fourteen header records (slots 10..23): "@TonD" 2 and
// the upper keyboard's settings, then "@TonD" 1 and the lower's, so that the
// song goes on with the lower keyboard selected.
std::string SongHeader(const std::string& titleUtf8, const std::string& authorUtf8, const HalfSettings& upper,
                       const HalfSettings& lower);

}  // namespace songs
