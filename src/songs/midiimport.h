#pragma once
// A Standard MIDI File made into a song for the two keyboards.
#include "songs/recorder.h"
#include "songs/smfread.h"

#include <string>
#include <utility>
#include <vector>

namespace songs {

// The notes a song holds at most: its note records lie after the records of its
// header and before the slot of its end marker.
constexpr std::size_t kMostSongNotes = std::size_t(kLastNoteSlot - (kFirstRecordSlot + kHeaderRecords));

struct ImportedSong {
    std::string title, author;  // UTF-8
    HalfSettings upper, lower;
    SongTime time;  // written after the header when known
    // The records after the header, "@END " last: note records (key, ticks to
    // the next group), "@TonD" switches.
    std::vector<std::pair<std::string, std::string>> body;
    int notes = 0;               // note records written
    bool partial = false;        // the song holds only the start of the file: it has no room for more
    std::vector<std::string> notices;  // what the song cannot keep of the file, one line each
};

// The two melodic parts (channels, drums left out) with the most notes (of
// those read, when the reading stopped with the song full) go to
// the keyboards, the lower channel to the lower keyboard; each part's first
// program is its keyboard's instrument, its median velocity its intensity,
// and its pitch the knob's value that puts most of its notes on the keys.
// Times become 10 ms ticks, each note at the tick nearest its time; the
// player strikes one keyboard a tick, so where both parts strike together one
// goes a tick early or late. False when the file holds no note a keyboard can
// play. `tone` is both keyboards' key 调: the keys sound that many semitones
// higher, so the notes lie that much lower on them. `time`, when known, is
// the song's tempo and meter, and takes the room of two notes. `voices`: the
// file holds a score's two voices, channel 0 the lower keyboard's and 1 the
// upper's, each on its own keyboard even when the other has no note.
bool MakeSong(const SmfSong& midi, const std::string& fallbackTitle, ImportedSong& song, std::string& error,
              int tone = 0, const SongTime& time = {}, bool voices = false);

// The tempo and meter the file gives first, as a song keeps them (its tempo
// 120, the standard's, when it gives only the meter); not known when it gives
// no time signature, or is timed in frames.
SongTime SmfSongTime(const SmfSong& midi);

// Reads `midiPath` (as far as a song holds) and writes the song to
// `songPath`, replacing it only by a complete new one, with the file's
// tempo and meter.
bool ImportMidiFile(const std::string& midiPath, const std::string& songPath, ImportedSong& song, std::string& error);

// Writes a song made by MakeSong to `songPath`, replacing it only by a
// complete new one.
bool WriteImportedSong(const ImportedSong& song, const std::string& songPath, std::string& error);

// What a file name says: ".mid" and ".midi" in any case.
bool HasMidiExtension(const std::string& path);

}  // namespace songs
