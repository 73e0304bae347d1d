#include "songs/midiimport.h"

#include "songs/keys.h"

#include "songs/paths.h"
#include "songs/songfile.h"
#include "songs/tags.h"
#include "songs/wholefile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>

namespace songs {
namespace {

constexpr int kDrumChannel = 9;  // channel 10 of the General MIDI drums
constexpr int kKeys = keys::kKeyCount;
constexpr double kTickMs = 10;
constexpr int kPitches[] = {0, 12, 24, 36, 48};  // the pitch knob's stops
constexpr int kLongestGap = 32767;               // a record's value is a 16-bit number
constexpr int kLower = kLowerKeyboard, kUpper = kUpperKeyboard;

// Names in MIDI files are bytes: UTF-8 from newer tools, GBK from Chinese
// ones, Latin-1 from the oldest.
std::string textOf(const std::string& bytes)
{
    if (IsUtf8(bytes))
        return bytes;
    const std::string gbk = GbkToUtf8(bytes);
    if (gbk.find("\xEF\xBF\xBD") == std::string::npos)
        return gbk;
    std::string latin;
    for (const char ch : bytes) {
        const auto c = std::uint8_t(ch);
        if (c < 0x80) {
            latin += ch;
        } else {
            latin += char(0xC0 | (c >> 6));
            latin += char(0x80 | (c & 0x3F));
        }
    }
    return latin;
}

std::string trimmed(std::string s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; };
    while (!s.empty() && blank(s.back()))
        s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && blank(s[i]))
        ++i;
    return s.substr(i);
}

// The knob's stop that puts the most notes on the keys; of equals, the one
// nearest the keyboard's own.
int choosePitch(const std::vector<int>& notes, int own)
{
    int best = own, bestCount = -1;
    for (const int p : kPitches) {
        const int count = int(std::count_if(notes.begin(), notes.end(), [p](int n) { return n >= p && n < p + kKeys; }));
        if (count > bestCount || (count == bestCount && std::abs(p - own) < std::abs(best - own))) {
            best = p;
            bestCount = count;
        }
    }
    return best;
}

struct Part {
    int channel = -1;
    std::vector<int> notes;       // note numbers, in time order
    std::vector<int> velocities;
};

// A release or a pedal move, at its tick on the song's clock.
struct LengthAt {
    std::int64_t tick;
    LengthRecord record;
};

// The song's groups as placed: the tick each is struck at and the body index
// of its last note record.
struct Placed {
    std::int64_t at;
    std::size_t lastNote;
};

// A note to place: the tick nearest its time, the ticks that keep it within
// one tick of its time, its keyboard and key, and its length in ticks.
struct Timed {
    double ms;
    std::int64_t on, earliest, latest;
    int keyboard, key;
    std::int64_t length;
};

// What the player strikes at one tick: keys of one keyboard.
struct Slot {
    std::int64_t tick;
    int keyboard;
    std::vector<int> keys;
    std::vector<std::int64_t> lengths;  // by key: ticks to its note-off, -1 for none
    std::vector<std::int64_t> ons;
};

// The player strikes one keyboard's keys a tick, since the "@TonD" that
// switches keyboards ends its tick. Where both parts strike at one tick, one
// of them goes a tick early or late, whichever keeps both within a tick of
// their time, and a part that plays on at the next tick takes that note along
// early, so dense two-part music never falls behind.
std::vector<Slot> placeNotes(std::vector<Timed> notes)
{
    std::stable_sort(notes.begin(), notes.end(), [](const Timed& a, const Timed& b) { return a.on < b.on; });
    std::array<std::deque<Timed>, 3> queue;  // by keyboard
    for (const Timed& n : notes)
        queue[std::size_t(n.keyboard)].push_back(n);
    constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
    const auto front = [&queue](int k) -> const Timed* {
        return queue[std::size_t(k)].empty() ? nullptr : &queue[std::size_t(k)].front();
    };
    const auto onOf = [&front, kNone](int k) { return front(k) ? front(k)->on : kNone; };
    std::vector<Slot> slots;
    std::int64_t last = kNone;
    while (front(kLower) || front(kUpper)) {
        const std::int64_t onMin = std::min(onOf(kLower), onOf(kUpper));
        std::int64_t s = last == kNone ? onMin : std::max(last + 1, onMin - 1);
        int k = 0;
        if (s < onMin && onOf(kLower) == onMin && onOf(kUpper) == onMin) {
            // Both parts strike at the next tick and this one is free: one
            // part goes a tick early or the other a tick late, whichever
            // keeps both nearest their times.
            double best = std::numeric_limits<double>::infinity();
            const auto off = [](const Timed& n, std::int64_t tick) { return std::abs(double(tick) * kTickMs - n.ms); };
            for (const int c : {kLower, kUpper}) {
                const Timed& mine = *front(c);
                const Timed& theirs = *front(c == kLower ? kUpper : kLower);
                if (mine.earliest <= s && std::max(off(mine, s), off(theirs, onMin)) < best) {
                    best = std::max(off(mine, s), off(theirs, onMin));
                    k = c;
                }
            }
            for (const int c : {kLower, kUpper}) {
                const Timed& mine = *front(c);
                const Timed& theirs = *front(c == kLower ? kUpper : kLower);
                if (theirs.latest > onMin && std::max(off(mine, onMin), off(theirs, onMin + 1)) < best) {
                    best = std::max(off(mine, onMin), off(theirs, onMin + 1));
                    k = c;
                    s = onMin;
                }
            }
        }
        if (s < onMin && k == 0)
            s = onMin;
        if (k == 0) {
            // Of the parts due, the one whose note can wait least.
            for (const int c : {kLower, kUpper})
                if (onOf(c) <= s && (k == 0 || front(c)->latest < front(k)->latest))
                    k = c;
        }
        const int other = k == kLower ? kUpper : kLower;
        Slot slot{s, k, {}, {}, {}};
        auto& mine = queue[std::size_t(k)];
        while (!mine.empty()) {
            const Timed& n = mine.front();
            const bool due = n.on <= s;
            const bool contested = n.on == s + 1 && n.earliest <= s && onOf(other) <= s + 1;
            if (!due && !contested)
                break;
            const auto same = std::find(slot.keys.begin(), slot.keys.end(), n.key);
            if (same != slot.keys.end()) {
                // A key struck twice at one time sounds once; struck again
                // later, it waits for a tick of its own.
                const auto i = std::size_t(same - slot.keys.begin());
                if (slot.ons[i] != n.on)
                    break;
                slot.lengths[i] = std::max(slot.lengths[i], n.length);
            } else {
                slot.keys.push_back(n.key);
                slot.lengths.push_back(n.length);
                slot.ons.push_back(n.on);
            }
            mine.pop_front();
        }
        last = s;
        slots.push_back(std::move(slot));
    }
    return slots;
}

// Puts each release and pedal move after the last group struck before it,
// its value the ticks since that group; the last note then waits for the
// last of them. False when the song has no room for them all (none are put).
bool addLengthRecords(std::vector<std::pair<std::string, std::string>>& body, const std::vector<Placed>& placed,
                      std::vector<LengthAt> lengths)
{
    constexpr std::size_t kMostSlots = 2 * 32768 - kFirstRecordSlot - kHeaderRecords;  // what a player reads lengths from
    if (placed.empty() || lengths.empty())
        return true;
    if (body.size() + lengths.size() > kMostSlots)
        return false;
    std::stable_sort(lengths.begin(), lengths.end(), [](const LengthAt& a, const LengthAt& b) { return a.tick < b.tick; });
    std::vector<std::vector<std::pair<std::string, std::string>>> after(body.size());
    std::size_t g = 0;
    std::int64_t lastOffset = 0;
    for (const LengthAt& l : lengths) {
        // Strictly before: a release due when its key is struck again comes
        // ahead of that strike, at the start of its tick.
        while (g + 1 < placed.size() && placed[g + 1].at < l.tick)
            ++g;
        const std::int64_t offset = std::clamp<std::int64_t>(l.tick - placed[g].at, 0, kLongestGap);
        after[placed[g].lastNote].push_back({LengthTag(l.record), NumberText(offset)});
        if (g + 1 == placed.size())
            lastOffset = std::max(lastOffset, offset);
    }
    // The end marker follows the last of them.
    auto& lastNote = body[placed.back().lastNote];
    if (lastOffset >= std::stoll(lastNote.second))
        lastNote.second = NumberText(std::min<std::int64_t>(lastOffset + 1, kLongestGap));
    std::vector<std::pair<std::string, std::string>> merged;
    merged.reserve(body.size() + lengths.size() + 1);  // and the end marker
    for (std::size_t i = 0; i < body.size(); ++i) {
        merged.push_back(std::move(body[i]));
        for (auto& r : after[i])
            merged.push_back(std::move(r));
    }
    body = std::move(merged);
    return true;
}

}  // namespace

bool HasMidiExtension(const std::string& path)
{
    const std::string ext = LowerExtension(path);
    return ext == "mid" || ext == "midi";
}

bool MakeSong(const SmfSong& midi, const std::string& fallbackTitle, ImportedSong& song, std::string& error, int tone,
              const SongTime& time, bool voices)
{
    song = ImportedSong{};
    song.time = time;
    std::array<Part, 16> parts;
    bool drums = midi.drums;
    for (const SmfNote& n : midi.notes) {
        if (n.channel == kDrumChannel) {
            drums = true;
            continue;
        }
        parts[n.channel].channel = n.channel;
        parts[n.channel].notes.push_back(n.note);
        parts[n.channel].velocities.push_back(n.velocity);
    }
    std::vector<const Part*> melodic;
    for (const Part& p : parts)
        if (!p.notes.empty())
            melodic.push_back(&p);
    if (melodic.empty()) {
        error = drums ? "the MIDI file holds only drums, which the keyboards cannot play"
                      : "the MIDI file holds no notes";
        return false;
    }
    // The two parts with the most notes; the lower channel plays the lower keyboard.
    std::stable_sort(melodic.begin(), melodic.end(),
                     [](const Part* a, const Part* b) { return a->notes.size() > b->notes.size(); });
    const std::size_t left = melodic.size() > 2 ? melodic.size() - 2 : 0;
    melodic.resize(std::min<std::size_t>(melodic.size(), 2));
    std::sort(melodic.begin(), melodic.end(), [](const Part* a, const Part* b) { return a->channel < b->channel; });

    song.lower.silencer = false;  // chords sound whole
    song.upper.silencer = false;
    song.upper.instrument = 12;  // the upper keyboard's own instrument, should no part play it
    std::array<int, 16> keyboardOf{};
    std::array<int, 16> pitchOf{};
    for (std::size_t i = 0; i < melodic.size(); ++i) {
        const Part& p = *melodic[i];
        // A score's upper voice alone is still the right hand's.
        const bool upper = voices ? p.channel == 1 : i == 1;
        HalfSettings& half = upper ? song.upper : song.lower;
        keyboardOf[std::size_t(p.channel)] = upper ? kUpper : kLower;
        std::vector<int> keyed = p.notes;
        for (int& n : keyed)
            n -= tone;
        half.tone = tone;
        half.pitch = std::int16_t(choosePitch(keyed, half.pitch));
        pitchOf[std::size_t(p.channel)] = half.pitch + tone;
        std::vector<int> v = p.velocities;
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
        half.intensity = std::int16_t(v[v.size() / 2]);
        // The program in effect at the part's first note.
        half.instrument = 0;
        double first = -1;
        for (const SmfNote& n : midi.notes)
            if (n.channel == p.channel) {
                first = n.timeMs;
                break;
            }
        for (const SmfProgram& pc : midi.programs)
            if (pc.channel == p.channel && pc.timeMs <= first)
                half.instrument = pc.program;
    }

    // Every note on its keyboard's key, with the ticks it may be played at.
    std::vector<Timed> timed;
    int folded = 0;
    for (const SmfNote& n : midi.notes) {
        const int keyboard = keyboardOf[n.channel];
        if (keyboard == 0 || n.channel == kDrumChannel)
            continue;
        int key = n.note - pitchOf[n.channel];
        if (key < 0 || key >= kKeys)
            ++folded;
        while (key < 0)
            key += 12;
        while (key >= kKeys)
            key -= 12;
        // A note as long as it was held, at least a tick; one with no note-off
        // is left to the countdown.
        const std::int64_t length = n.lengthMs < 0 ? -1 : std::max<std::int64_t>(1, std::llround(n.lengthMs / kTickMs));
        timed.push_back({n.timeMs, std::llround(n.timeMs / kTickMs), std::int64_t(std::ceil((n.timeMs - kTickMs) / kTickMs)),
                         std::int64_t(std::floor((n.timeMs + kTickMs) / kTickMs)), keyboard, key, length});
    }
    const std::vector<Slot> slots = placeNotes(timed);

    // The records, with the player's clock: a slot plays at `at`; a note's
    // value is the wait before the next slot is read, and a "@TonD" read
    // after a slot's notes ends that tick, so the next slot comes a tick later.
    auto& body = song.body;
    const std::size_t room = kMostSongNotes - TimeRecords(time).size();
    int active = kLower;  // the header ends with the lower keyboard selected
    std::int64_t at = 0, lastTick = 0;
    std::size_t lastNote = 0;
    bool shortened = false, cut = midi.cut;
    std::vector<Placed> placed;
    std::vector<LengthAt> lengths;
    std::array<std::array<std::ptrdiff_t, kKeys>, 3> releaseOf;  // by keyboard and key: its last release, -1 none
    for (auto& keys : releaseOf)
        keys.fill(-1);
    for (std::size_t g = 0; g < slots.size(); ++g) {
        const Slot& slot = slots[g];
        const bool switching = slot.keyboard != active;
        if (body.size() + slot.keys.size() + (switching ? 1 : 0) > room) {
            cut = true;
            break;
        }
        if (g == 0) {
            at = slot.tick;
        } else {
            std::int64_t gap = slot.tick - lastTick - (switching ? 1 : 0);
            if (gap > kLongestGap) {
                gap = kLongestGap;
                shortened = true;
            }
            body[lastNote].second = NumberText(gap);
            at += gap + (switching ? 1 : 0);
        }
        lastTick = slot.tick;
        if (switching) {
            body.push_back({std::string(TagField(Tag::Keyboard)), NumberText(slot.keyboard)});
            active = slot.keyboard;
        }
        for (std::size_t k = 0; k < slot.keys.size(); ++k) {
            body.push_back({NumberText(slot.keys[k]), "0"});
            ++song.notes;
            // A note struck a tick late keeps its length, but its release
            // must not follow the key's next strike, which it would end.
            std::ptrdiff_t& last = releaseOf[std::size_t(slot.keyboard)][std::size_t(slot.keys[k])];
            if (last >= 0)
                lengths[std::size_t(last)].tick = std::min(lengths[std::size_t(last)].tick, at);
            last = -1;
            if (slot.lengths[k] >= 0) {
                last = std::ptrdiff_t(lengths.size());
                lengths.push_back({at + slot.lengths[k], {LengthRecord::Kind::Release, slot.keyboard, slot.keys[k]}});
            }
        }
        lastNote = body.size() - 1;
        placed.push_back({at, lastNote});
    }
    body[lastNote].second = "10";  // as a recording ends its last note
    // The song's clock is the file's from the first group on.
    for (const SmfPedal& p : midi.pedals) {
        const int keyboard = keyboardOf[p.channel];
        const std::int64_t tick = std::llround(p.timeMs / kTickMs);
        if (keyboard == 0 || p.channel == kDrumChannel || (cut && tick > placed.back().at))
            continue;
        lengths.push_back({tick, {p.down ? LengthRecord::Kind::PedalDown : LengthRecord::Kind::PedalUp, keyboard, 0}});
    }
    const bool keptLengths = !lengths.empty() && addLengthRecords(body, placed, lengths);
    body.push_back({std::string(TagField(Tag::End)), "0"});

    const std::string name = trimmed(textOf(midi.name));
    song.title = name.empty() ? fallbackTitle : name;
    song.author = trimmed(textOf(midi.copyright));
    if (!keptLengths)
        song.notices.push_back("note lengths are not kept: the countdown ends every note");
    if (drums)
        song.notices.push_back("the drums (channel 10) are left out");
    if (left > 0)
        song.notices.push_back(std::to_string(left) + " more part(s) are left out: the song has two keyboards");
    if (folded > 0)
        song.notices.push_back(std::to_string(folded) + " note(s) were moved by octaves onto the keys");
    if (shortened)
        song.notices.push_back("pauses longer than 327 seconds are shortened");
    song.partial = cut;
    if (cut)  // the last notice, so that a score made through the song can say it alone
        song.notices.push_back("the song holds the first " + std::to_string(song.notes) + " notes: a song has no room for more");
    return true;
}

SongTime SmfSongTime(const SmfSong& midi)
{
    SongTime time;
    // A tempo alone is no beat the file was played to: every file timed in
    // beats needs one, and a song kept without one is written at 120.
    if (midi.firstQuarterMs <= 0 || midi.meterBeats == 0)
        return time;
    time.tempo = std::clamp(int(std::lround(60000.0 / midi.firstQuarterMs)), kSlowestTempo, kFastestTempo);
    if (!ParseMeterText(std::to_string(midi.meterBeats) + "/" + std::to_string(midi.meterUnit), time.beats, time.beatUnit))
        time = {};  // a meter a song cannot keep
    return time;
}

bool ImportMidiFile(const std::string& midiPath, const std::string& songPath, ImportedSong& song, std::string& error)
{
    SmfSong midi;
    if (!ReadSmfFile(midiPath, midi, error, kMostSongNotes))
        return false;
    std::string stem = FileNameOf(midiPath);
    if (HasMidiExtension(stem))
        stem = stem.substr(0, stem.find_last_of('.'));
    if (!MakeSong(midi, stem, song, error, 0, SmfSongTime(midi)))
        return false;

    return WriteImportedSong(song, songPath, error);
}

bool WriteImportedSong(const ImportedSong& song, const std::string& songPath, std::string& error)
{
    // The whole song is made in memory and replaces the target at once.
    std::string bytes = SongHeader(song.title, song.author, song.upper, song.lower);
    std::vector<std::pair<std::string, std::string>> records = TimeRecords(song.time);
    records.insert(records.end(), song.body.begin(), song.body.end());
    for (const auto& [tag, value] : records) {
        const auto record = EncodeRecord(tag, value);
        bytes.append(record.data(), record.size());
    }
    if (!ReplaceFile(songPath, bytes, NewFileMode())) {
        error = "cannot write " + songPath;
        return false;
    }
    return true;
}

}  // namespace songs
