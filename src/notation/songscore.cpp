#include "notation/songscore.h"

#include "performance/capture.h"
#include "songs/paths.h"
#include "songs/songfile.h"
#include "songs/songtime.h"
#include "songs/tags.h"
#include "songs/wholefile.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <map>

namespace notation {
namespace {

constexpr int kSixteenth = kQuarter / 4;

std::string stemOf(const std::string& path)
{
    std::string stem = songs::FileNameOf(path);
    if (const auto dot = stem.find_last_of('.'); dot != std::string::npos && dot > 0)
        stem.resize(dot);
    return stem;
}

// Rests from sixteenth `from` to `to`, none across a beat, as jianpu writes them.
void addRests(std::vector<Note>& voice, int from, int to)
{
    while (from < to) {
        const int piece = std::min(to, (from / 4 + 1) * 4) - from;
        voice.push_back({.pitch = -1, .length = piece * kSixteenth});
        from += piece;
    }
}

// Bar lines where the running length reaches a bar; a note across one puts it
// after itself.
void markBars(std::vector<Note>& voice, int barLength)
{
    int at = 0, nextBar = barLength;
    for (Note& n : voice) {
        at += n.length;
        if (at >= nextBar) {
            n.barAfter = true;
            while (nextBar <= at)
                nextBar += barLength;
        }
    }
    if (!voice.empty())
        voice.back().barAfter = true;
}

// The song's notes with their lengths where it keeps them: a song without
// note-length records leaves its notes to the countdown, and they are
// written as long as the gap to the next.
bool soundingOf(const std::string& songPath, std::vector<Sounding>& notes, int& tonic, songs::SongTime& time,
                std::string& error)
{
    songs::SongFile file;
    if (!file.openForReading(songPath)) {
        error = "cannot read " + songPath;
        return false;
    }
    bool lengths = false;
    songs::Record r;
    for (std::int32_t slot = songs::kFirstRecordSlot; slot < 2 * 32768 && file.readRecord(slot, r) == songs::ReadStatus::Ok;
         ++slot) {
        if (!r.isSetting())
            continue;
        if (songs::ParseTag(r.tag) == songs::Tag::End)
            break;
        lengths = lengths || songs::ParseLengthTag(r.tag).has_value();
    }
    file.close();
    songs::HalfSettings lower;
    if (!songs::ReadSongTime(songPath, time, lower.tone)) {
        error = "cannot read " + songPath;
        return false;
    }
    tonic = SongTonic(lower);
    performance::SongCapture capture;
    if (!performance::CaptureSong(songPath, capture, error))
        return false;
    std::map<int, std::vector<std::size_t>> sounding;  // channel * 128 + note -> notes struck since it last ended
    for (const songs::TimedMessage& m : capture.messages) {
        const int kind = m.status & 0xF0, channel = m.status & 0x0F;
        if (channel > 1)
            continue;
        auto& open = sounding[channel * 128 + m.d1];
        if (kind == 0x90 && m.d2 > 0) {
            open.push_back(notes.size());
            notes.push_back({double(m.timeMs), -1, channel == 1, m.d1});
        } else if ((kind == 0x80 || kind == 0x90) && !open.empty()) {
            // A note-off ends the key's sound. It is the release of the note
            // struck first; a strike of the key while it sounded has no
            // release of its own left (the capture keeps one note-off a
            // sounding key), so it is written as long as the gap to the next,
            // and the key's next note-off belongs to its next note.
            if (lengths)
                notes[open.front()].lengthMs = double(m.timeMs) - notes[open.front()].ms;
            open.clear();
        }
    }
    return true;
}

// A jianpu text file read; its errors name the file.
bool readJianpuFile(const std::string& textPath, Score& score, std::string& error, std::vector<std::string>& warnings)
{
    std::string text;
    switch (songs::ReadWholeFile(textPath, text, kMostTextBytes)) {
    case songs::ReadOutcome::Ok:
        break;
    case songs::ReadOutcome::TooLarge:
        error = textPath + " is longer than 1 MB: more than a song can hold";
        return false;
    default: {
        // Said as a MIDI file that cannot be read says it.
        const std::string why = songs::WhyUnreadable(textPath);
        error = "cannot read " + textPath + ": " + (why.empty() ? "is not a regular file" : why);
        return false;
    }
    }
    if (!ParseJianpu(text, score, error, warnings)) {
        error = songs::FileNameOf(textPath) + ", " + error;
        return false;
    }
    return true;
}

}  // namespace

songs::SmfSong ToSmf(const Score& score)
{
    songs::SmfSong midi;
    midi.name = score.title;
    midi.copyright = score.author;
    const double unitMs = 60000.0 / score.tempo / kQuarter;
    for (const bool upper : {false, true}) {
        // In 64ths; a triplet's notes fall between them.
        double at = 0;
        const std::vector<Note>& voice = score.voice(upper);
        const std::vector<int> order = PlayOrder(voice);
        std::optional<std::size_t> held;  // the note a tie carries on
        for (const int i : order) {
            const Note& n = voice[std::size_t(i)];
            const double length = ThirdsOf(n) / 3.0 * (n.fermata ? kFermataHold : 1.0);
            if (held && midi.notes[*held].note == n.pitch) {
                midi.notes[*held].lengthMs += length * unitMs;
            } else if (n.pitch >= 0) {
                songs::SmfNote note;
                note.timeMs = at * unitMs;
                note.channel = upper ? 1 : 0;
                note.note = std::uint8_t(n.pitch);
                note.velocity = 100;
                note.lengthMs = length * unitMs;
                midi.notes.push_back(note);
            }
            held = n.tieAfter && n.pitch >= 0 ? std::optional(midi.notes.size() - 1) : std::nullopt;
            at += length;
        }
    }
    std::stable_sort(midi.notes.begin(), midi.notes.end(),
                     [](const songs::SmfNote& a, const songs::SmfNote& b) { return a.timeMs < b.timeMs; });
    return midi;
}

int SongTonic(const songs::HalfSettings& lower) { return ((lower.tone % 12) + 12) % 12; }

double EstimateQuarterMs(const std::vector<Sounding>& notes)
{
    std::vector<double> onsets;
    for (const Sounding& n : notes)
        onsets.push_back(n.ms);
    std::sort(onsets.begin(), onsets.end());
    onsets.erase(std::unique(onsets.begin(), onsets.end()), onsets.end());
    if (onsets.size() < 2)
        return 60000.0 / 90;
    // How far, on average, the onsets lie from a grid of sixteenths, in sixteenths.
    std::map<int, double> misfit;
    double least = 1;
    for (int bpm = 40; bpm <= 240; ++bpm) {
        const double sixteenth = 15000.0 / bpm;
        double sum = 0;
        for (const double t : onsets) {
            const double x = (t - onsets.front()) / sixteenth;
            sum += std::abs(x - std::round(x));
        }
        misfit[bpm] = sum / double(onsets.size());
        least = std::min(least, misfit[bpm]);
    }
    // A grid twice as coarse or fine fits as well: of the tempi that fit,
    // the one nearest a moderate 100.
    int best = 0;
    for (const auto& [bpm, m] : misfit)
        if (m <= least + 0.02 && (best == 0 || std::abs(bpm - 100) < std::abs(best - 100)))
            best = bpm;
    return 60000.0 / best;
}

Score ScoreOf(const std::vector<Sounding>& notes, double quarterMs, int beats, int beatUnit, int tonic,
              int& chordNotesLeft)
{
    Score score;
    score.tempo = std::clamp(int(std::lround(60000.0 / quarterMs)), 20, 400);
    score.beats = beats;
    score.beatUnit = beatUnit;
    score.tonic = tonic;
    chordNotesLeft = 0;
    if (notes.empty())
        return score;
    double start = notes.front().ms;
    for (const Sounding& n : notes)
        start = std::min(start, n.ms);
    const double sixteenth = quarterMs / 4;
    for (const bool upper : {false, true}) {
        // By sixteenth: the highest note struck there.
        std::map<long, const Sounding*> at;
        for (const Sounding& n : notes) {
            if (n.upper != upper)
                continue;
            const long g = std::lround((n.ms - start) / sixteenth);
            auto [it, fresh] = at.emplace(g, &n);
            if (!fresh) {
                ++chordNotesLeft;
                if (n.pitch > it->second->pitch)
                    it->second = &n;
            }
        }
        std::vector<Note>& voice = upper ? score.upper : score.lower;
        int pos = 0;
        for (auto it = at.begin(); it != at.end(); ++it) {
            const int g = int(it->first);
            addRests(voice, pos, g);
            const auto next = std::next(it);
            const Sounding& n = *it->second;
            const int held = n.lengthMs < 0 ? -1 : std::max(1, int(std::lround(n.lengthMs / sixteenth)));
            int length;
            if (next != at.end())
                length = held < 0 ? int(next->first) - g : std::min(held, int(next->first) - g);
            else
                length = held < 0 ? 4 : held;
            voice.push_back({.pitch = n.pitch, .length = length * kSixteenth});
            pos = g + length;  // a rest up to the next note comes with it
        }
        markBars(voice, score.barLength());
    }
    return score;
}

bool LessonNotesOf(const std::string& songPath, std::vector<performance::LessonNote>& notes,
                   performance::LessonBars& bars, std::string& error)
{
    std::vector<Sounding> sounding;
    int tonic = 0;
    songs::SongTime time;
    if (!soundingOf(songPath, sounding, tonic, time, error))
        return false;
    if (sounding.empty()) {
        error = songPath + " holds no notes";
        return false;
    }
    const double quarterMs = time.known() ? 60000.0 / time.tempo : EstimateQuarterMs(sounding);
    bars.firstMs = std::llround(sounding.front().ms);
    bars.barMs = std::max<std::int64_t>(1, std::llround(quarterMs * 4 * time.beats / time.beatUnit));
    notes.clear();
    for (const Sounding& n : sounding)
        notes.push_back({std::llround(n.ms), n.lengthMs < 0 ? -1 : std::llround(n.lengthMs), n.upper, n.pitch, 0});
    return true;
}

bool HasJianpuExtension(const std::string& path)
{
    const std::string ext = songs::LowerExtension(path);
    return ext == "txt" || ext == "jianpu";
}

bool ImportJianpuFile(const std::string& textPath, const std::string& songPath, songs::ImportedSong& song,
                      std::string& error, std::vector<std::string>& notices)
{
    Score score;
    std::vector<std::string> warnings;
    if (!readJianpuFile(textPath, score, error, warnings))
        return false;
    for (const std::string& w : warnings)
        notices.push_back(w);
    // What the song has no room for is not placed at all: of each voice no
    // more notes than the song holds, and of both the first that many.
    for (std::vector<Note>* voice : {&score.lower, &score.upper}) {
        std::size_t notes = 0, keep = 0;
        while (keep < voice->size() && notes <= songs::kMostSongNotes)
            notes += (*voice)[keep++].pitch >= 0 ? 1 : 0;
        voice->resize(keep);
    }
    songs::SmfSong midi = ToSmf(score);
    if (midi.notes.empty()) {
        error = "the text holds only rests";
        return false;
    }
    if (midi.notes.size() > songs::kMostSongNotes) {
        midi.notes.resize(songs::kMostSongNotes + 1);
        midi.cut = true;
    }
    // Both keyboards in the text's key: 1 lies on the keys marked 1, and the
    // key chooser shows the key.
    // And the song keeps the text's tempo and meter, for its own text.
    const songs::SongTime time{score.tempo, score.beats, score.beatUnit};
    if (!songs::MakeSong(midi, stemOf(textPath), song, error, score.tonic, time, true))
        return false;
    for (const std::string& n : song.notices)
        notices.push_back(n);
    return songs::WriteImportedSong(song, songPath, error);
}

bool ScoreOfFile(const std::string& path, std::optional<int> tempo, Score& score, std::string& error,
                 std::vector<std::string>& notices, bool* partial)
{
    if (partial)
        *partial = false;
    std::vector<Sounding> notes;
    int tonic = 0, beats = 4, beatUnit = 4;
    double quarterMs = 0, songQuarterMs = 0;
    std::string title, author;
    songs::SmfSong midi;
    const bool isMidi = songs::HasMidiExtension(path) || songs::LooksLikeSmf(songs::ReadFileStart(path, 4));
    if (isMidi) {
        if (!songs::ReadSmfFile(path, midi, error, songs::kMostSongNotes))
            return false;
        QTemporaryDir dir;
        const std::string song = dir.filePath(QStringLiteral("score.hbk")).toStdString();
        songs::ImportedSong imported;
        if (!songs::MakeSong(midi, stemOf(path), imported, error) || !songs::WriteImportedSong(imported, song, error))
            return false;
        // Written down through a song, the file's start is all there is.
        if (imported.partial) {
            notices.push_back(imported.notices.back());
            if (partial)
                *partial = true;
        }
        int ignored = 0;
        songs::SongTime none;
        if (!soundingOf(song, notes, ignored, none, error))
            return false;
        title = imported.title;
        author = imported.author;
        if (midi.firstQuarterMs > 0)
            quarterMs = midi.firstQuarterMs;
        if (midi.meterBeats > 0) {
            beats = midi.meterBeats;
            beatUnit = midi.meterUnit;
        }
        if (midi.hasKey)
            tonic = ((7 * midi.keySharps) % 12 + 12) % 12;
    } else if (HasJianpuExtension(path)) {
        // A text is written down as it reads: its own tempo, meter and key.
        std::vector<std::string> warnings;
        if (!readJianpuFile(path, score, error, warnings))
            return false;
        for (const std::string& w : warnings)
            notices.push_back(w);
        if (tempo)
            score.tempo = *tempo;
        if (score.title.empty())
            score.title = stemOf(path);  // as the song made of it is titled
        return true;
    } else {
        if (!songs::ReadHeaderLine(path, title, author)) {
            error = "cannot read " + path + ": not a song file";
            return false;
        }
        songs::SongTime time;
        if (!soundingOf(path, notes, tonic, time, error))
            return false;
        if (time.known()) {
            songQuarterMs = 60000.0 / time.tempo;
            beats = time.beats;
            beatUnit = time.beatUnit;
        }
    }
    if (notes.empty()) {
        error = path + " holds no notes";
        return false;
    }
    if (tempo) {
        quarterMs = 60000.0 / *tempo;
    } else if (quarterMs > 0) {
        notices.push_back("tempo " + std::to_string(std::lround(60000.0 / quarterMs)) + " from the MIDI file");
    } else if (songQuarterMs > 0) {
        quarterMs = songQuarterMs;
        notices.push_back("tempo " + std::to_string(std::lround(60000.0 / quarterMs)) + " from the song");
    } else {
        quarterMs = EstimateQuarterMs(notes);
        notices.push_back("tempo " + std::to_string(std::lround(60000.0 / quarterMs)) +
                          " estimated from the gaps (--tempo N sets it); notes quantized to sixteenths");
    }
    int left = 0;
    score = ScoreOf(notes, quarterMs, beats, beatUnit, tonic, left);
    score.title = title;
    score.author = author;
    if (left > 0)
        notices.push_back(std::to_string(left) + " chord note(s) left out: jianpu writes the highest of each chord");
    return true;
}

}  // namespace notation
