// Songs beyond the window: exporting an hour of music to a MIDI file and
// rendering a minute of it to audio, with the real-time factor of each
// (seconds of music per second of work).
#include "notation/scoredrawing.h"
#include "notation/scorefile.h"
#include "notation/songscore.h"
#include "performance/capture.h"
#include "songs/midiimport.h"
#include "songs/recorder.h"
#include "songs/smfread.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace {

// A busy two-handed song: `notes` keys, chords now and then, a change of
// keyboard every forty notes; gaps chosen so that the song lasts `seconds`.
std::string writeSong(const QTemporaryDir& dir, const char* name, int notes, int seconds)
{
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    songs::SongRecorder rec;
    songs::HalfSettings upper;
    upper.instrument = 12;
    rec.start(path, "基准", "佚名", upper, songs::HalfSettings{});
    std::mt19937 random(42);
    // In 10 ms ticks; every seventh key joins the next one in a chord.
    const int meanGap = seconds * 100 * 7 / (notes * 6);
    std::uniform_int_distribution<int> gap(0, 2 * meanGap), key(12, 64);
    int ticks = 0;  // to this note from the one before
    for (int i = 0; i < notes; ++i) {
        if (i % 40 == 0)
            rec.writeSettingRecord(songs::Tag::Keyboard, i % 80 == 0 ? "1" : "2");
        rec.recordNote(std::int16_t(key(random)), std::int16_t(ticks));
        ticks = i % 7 == 0 ? 0 : gap(random);
    }
    rec.stop();
    return path;
}

// Times one run of `tool` on a song of `notes` keys over `seconds`.
template <typename Tool>
void timeSongTool(benchmark::State& state, int notes, int seconds, const char* outName, Tool tool)
{
    QTemporaryDir dir;
    const std::string song = writeSong(dir, "song.hbk", notes, seconds);
    const std::string out = dir.filePath(QString::fromLatin1(outName)).toStdString();
    performance::SongCapture capture;
    std::string error;
    performance::CaptureSong(song, capture, error);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!tool(song, out, error))
            state.SkipWithError(error.c_str());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        state.counters["music_s"] = capture.silentMs / 1000.0;
        state.counters["realtime_x"] = capture.silentMs / 1000.0 / took.count();
    }
}

void BM_ExportOneHourToMidi(benchmark::State& state)
{
    timeSongTool(state, 20000, 3600, "hour.mid", [](const std::string& song, const std::string& out, std::string& error) {
        return performance::ExportMidi(song, out, error);
    });
}
BENCHMARK(BM_ExportOneHourToMidi)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_RenderOneMinuteToWav(benchmark::State& state)
{
    timeSongTool(state, 600, 60, "minute.wav", [](const std::string& song, const std::string& out, std::string& error) {
        return performance::RenderSong(song, out, std::string(), error);
    });
}
BENCHMARK(BM_RenderOneMinuteToWav)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

void bigEndian(std::string& out, std::uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out += char((v >> (8 * i)) & 0xFF);
}

void vlq(std::string& out, std::uint32_t v)
{
    char buffer[5];
    int n = 0;
    buffer[n++] = char(v & 0x7F);
    while (v >>= 7)
        buffer[n++] = char(0x80 | (v & 0x7F));
    while (n)
        out += buffer[--n];
}

// A file as sequencers write them: 16 tracks, one per channel (drums too),
// notes with their note-offs in running status, and tempo changes.
std::string bigMidiFile(int notes, int tracks)
{
    std::mt19937 random(7);
    std::string file = "MThd";
    bigEndian(file, 6, 4);
    bigEndian(file, 1, 2);
    bigEndian(file, std::uint32_t(tracks), 2);
    bigEndian(file, 480, 2);
    for (int t = 0; t < tracks; ++t) {
        std::string track;
        if (t == 0)
            for (int i = 0; i < 50; ++i) {
                vlq(track, 480 * 8);
                track += "\xFF\x51\x03";
                bigEndian(track, 400000 + std::uint32_t(i % 5) * 50000, 3);
            }
        const int mine = notes / tracks;
        const std::uint8_t status = std::uint8_t(0x90 | t);
        vlq(track, 0);
        track += char(0xC0 | t);
        track += char(t * 5);
        for (int i = 0; i < mine; ++i) {
            vlq(track, std::uniform_int_distribution<std::uint32_t>(0, 240)(random));
            track += char(status);
            const char note = char(std::uniform_int_distribution<int>(30, 100)(random));
            track += note;
            track += char(90);
            vlq(track, 120);
            track += note;  // running status: a note-on of velocity 0 ends it
            track += char(0);
        }
        track += "\x00\xFF\x2F\x00";
        file += "MTrk";
        bigEndian(file, std::uint32_t(track.size()), 4);
        file += track;
    }
    return file;
}

}  // namespace

void BM_ImportMidiFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string midi = dir.filePath(QStringLiteral("big.mid")).toStdString();
    const std::string song = dir.filePath(QStringLiteral("big.hbk")).toStdString();
    std::ofstream(midi, std::ios::binary) << bigMidiFile(20000, 16);
    double worst = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        songs::ImportedSong imported;
        std::string error;
        if (!songs::ImportMidiFile(midi, song, imported, error))
            state.SkipWithError(error.c_str());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        worst = std::max(worst, took.count());
        state.counters["notes"] = imported.notes;
    }
    std::fprintf(stderr, "import of a 20,000-note, 16-track MIDI file (read, made into a song, written): "
                         "slowest of %d %.1f ms (target <= 200 ms)\n",
                 int(state.iterations()), worst * 1000);
}
BENCHMARK(BM_ImportMidiFile)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

namespace {

// Two parts as a pianist's two hands play them, slightly off the beat:
// sixteenths, runs of thirty-seconds, both hands trilling together every
// 20 ms, and a roll where both strike every 10 ms, the densest a song holds.
std::string denseDuet()
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> nudge(-6, 6);
    struct Event {
        int ms, channel, note;
    };
    std::vector<Event> events;
    int ms = 0;
    for (int bar = 0; bar < 40; ++bar) {
        const int step = bar % 4 == 3 ? 50 : 100;
        for (int i = 0; i < 1600 / step; ++i, ms += step) {
            events.push_back({ms + nudge(random), 0, 48 + (i * 5) % 19});
            events.push_back({ms + nudge(random), 1, 64 + (i * 7) % 17});
        }
        if (bar % 10 == 9)
            for (int i = 0; i < 30; ++i, ms += bar == 39 ? 10 : 20) {
                events.push_back({ms, 0, 50 + i % 2});
                events.push_back({ms, 1, 72 + i % 2});
            }
    }
    std::string file = "MThd";
    bigEndian(file, 6, 4);
    bigEndian(file, 1, 2);
    bigEndian(file, 2, 2);
    bigEndian(file, 500, 2);  // 500 ticks a beat at 500,000 us: a tick is a millisecond
    for (int channel = 0; channel < 2; ++channel) {
        std::vector<std::pair<int, std::string>> timed;
        for (const Event& e : events)
            if (e.channel == channel) {
                timed.push_back({std::max(0, e.ms), {char(0x90 | channel), char(e.note), char(90)}});
                timed.push_back({std::max(0, e.ms) + 8, {char(0x80 | channel), char(e.note), char(0)}});
            }
        std::stable_sort(timed.begin(), timed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string track;
        int at = 0;
        for (const auto& [when, bytes] : timed) {
            vlq(track, std::uint32_t(when - at));
            track += bytes;
            at = when;
        }
        track += std::string("\x00\xFF\x2F\x00", 4);
        file += "MTrk";
        bigEndian(file, std::uint32_t(track.size()), 4);
        file += track;
    }
    return file;
}

// How far each note of the file sounds from its time when the imported song
// plays: the song's first note is taken as on time; the rest are matched to
// the file's notes of their part by pitch class, in time order.
struct Timing {
    double late = 0, early = 0;
    int notes = 0, unmatched = 0;
};

Timing importedTiming(const std::string& midiPath, const std::string& songPath)
{
    Timing timing;
    songs::SmfSong midi;
    songs::ImportedSong imported;
    performance::SongCapture capture;
    std::string error;
    if (!songs::ReadSmfFile(midiPath, midi, error) || !songs::ImportMidiFile(midiPath, songPath, imported, error)
        || !performance::CaptureSong(songPath, capture, error)) {
        std::fprintf(stderr, "%s: %s\n", midiPath.c_str(), error.c_str());
        timing.unmatched = -1;
        return timing;
    }
    std::vector<int> channels;  // the file's parts, lowest channel first, as the import maps them
    for (const songs::SmfNote& n : midi.notes)
        if (n.channel != 9 && std::find(channels.begin(), channels.end(), n.channel) == channels.end())
            channels.push_back(n.channel);
    std::sort(channels.begin(), channels.end());
    std::vector<const songs::TimedMessage*> ons;
    for (const songs::TimedMessage& m : capture.messages)
        if ((m.status & 0xF0) == 0x90 && m.d2 > 0)
            ons.push_back(&m);
    if (ons.empty() || channels.empty() || channels.size() > 2)
        return timing;
    const double start = double(ons.front()->timeMs) - std::round(midi.notes.front().timeMs / 10) * 10;
    std::vector<bool> used(ons.size());
    for (const songs::SmfNote& n : midi.notes) {
        const auto part = std::find(channels.begin(), channels.end(), n.channel);
        if (part == channels.end())
            continue;
        const int channel = int(part - channels.begin());
        bool found = false;
        for (std::size_t i = 0; i < ons.size() && !found; ++i) {
            const double at = double(ons[i]->timeMs) - start;
            if (used[i] || (ons[i]->status & 0x0F) != channel || ons[i]->d1 % 12 != n.note % 12 || at < n.timeMs - 40)
                continue;
            used[i] = found = true;
            timing.late = std::max(timing.late, at - n.timeMs);
            timing.early = std::max(timing.early, n.timeMs - at);
        }
        ++timing.notes;
        timing.unmatched += found ? 0 : 1;
    }
    return timing;
}

}  // namespace

void BM_ImportedNoteTiming(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string dense = dir.filePath(QStringLiteral("dense.mid")).toStdString();
    std::ofstream(dense, std::ios::binary) << denseDuet();
    const std::string song = dir.filePath(QStringLiteral("song.hbk")).toStdString();
    for (auto _ : state) {
        for (const std::string& path : {std::string(SONAREL_TEST_DATA "/song_two_tracks.mid"), dense}) {
            const Timing t = importedTiming(path, song);
            std::fprintf(stderr, "imported %s: %d notes, latest %.1f ms late, earliest %.1f ms early, %d not found "
                                 "(target: none more than 10 ms late)\n",
                         path.substr(path.find_last_of('/') + 1).c_str(), t.notes, t.late, t.early, t.unmatched);
            state.counters["late_ms"] = std::max(double(state.counters["late_ms"]), t.late);
        }
    }
}
BENCHMARK(BM_ImportedNoteTiming)->Iterations(1)->Unit(benchmark::kMillisecond);

// A hold-mode recording, legato: every key is let go after the next one is
// struck, after 3 to 80 ticks; its playback is captured, and each note-off is
// compared with the release recorded for it.
void BM_RecordedReleases(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("held.hbk")).toStdString();
    songs::SongRecorder rec;
    rec.start(path, "基准", "佚名", songs::HalfSettings{}, songs::HalfSettings{});
    std::mt19937 random(5);
    std::uniform_int_distribution<int> gap(2, 40), overlap(1, 40);
    struct Event {
        int tick;
        bool strike;
        int key;
    };
    std::vector<Event> events;
    int tick = 0;
    for (int i = 0; i < 2000; ++i) {
        const int key = 12 + i % 24;
        const int next = tick + gap(random);
        events.push_back({tick, true, key});
        events.push_back({next + overlap(random), false, key});
        tick = next;
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.tick < b.tick; });
    int lastStrike = 0;
    std::map<int, std::vector<int>> releases;  // key -> recorded release ticks, in order
    for (const Event& e : events) {
        if (e.strike) {
            rec.recordNote(std::int16_t(e.key), std::int16_t(e.tick - lastStrike));
            lastStrike = e.tick;
        } else {
            rec.writeLengthRecord({songs::LengthRecord::Kind::Release, songs::kLowerKeyboard, e.key},
                                  std::int16_t(e.tick - lastStrike));
            releases[e.key].push_back(e.tick);
        }
    }
    rec.stop();
    for (auto _ : state) {
        performance::SongCapture capture;
        std::string error;
        if (!performance::CaptureSong(path, capture, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        std::int64_t start = -1;
        std::map<int, std::size_t> seen;
        double worst = 0;
        int offs = 0;
        for (const songs::TimedMessage& m : capture.messages) {
            const bool on = (m.status & 0xF0) == 0x90 && m.d2 > 0;
            const bool off = (m.status & 0xF0) == 0x80 || ((m.status & 0xF0) == 0x90 && m.d2 == 0);
            if (on && start < 0)
                start = m.timeMs;
            if (!off || start < 0)
                continue;
            const int key = m.d1 - songs::HalfSettings{}.pitch;
            auto& n = seen[key];
            if (n < releases[key].size()) {
                worst = std::max(worst, std::abs(double(m.timeMs - start) - releases[key][n] * 10.0));
                ++offs;
            }
            ++n;
        }
        state.counters["worst_ms"] = worst;
        std::fprintf(stderr, "a hold-mode recording of 2,000 legato notes played back: %d note-offs, the furthest "
                             "%.0f ms from its recorded release (target <= 10 ms)\n",
                     offs, worst);
    }
}
BENCHMARK(BM_RecordedReleases)->Iterations(1)->Unit(benchmark::kMillisecond);

// Jianpu both ways: a 2,000-note text made into a song (read, parsed, placed,
// written), and a score of 20 pages or more written as a PDF.
void BM_JianpuImportAndPrint(benchmark::State& state)
{
    QTemporaryDir dir;
    std::mt19937 random(3);
    std::uniform_int_distribution<int> degree(1, 7), mark(0, 5);
    const auto voice = [&](const char* prefix, int notes) {
        std::string text;
        int inBar = 0;
        for (int i = 0; i < notes; ++i) {
            if (i % 32 == 0)
                text += std::string(i ? " |\n" : "") + prefix;
            else if (inBar == 0)
                text += " |";
            const int m = mark(random);
            // Quarters, pairs of eighths, octave marks and accidentals.
            text += " " + std::string(m == 5 ? "#" : "") + std::to_string(degree(random)) + (m == 1 ? "'" : m == 2 ? "," : "");
            text += i % 4 < 2 ? "_" : "";
            inBar = (inBar + (i % 4 < 2 ? 8 : 16)) % 64;
        }
        return text + " ||\n";
    };
    const auto write = [&dir](const char* name, const std::string& text) {
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
        std::ofstream(path) << text;
        return path;
    };
    const std::string small = write("small.txt", "标题: 基准\n1=D 4/4\n" + voice("上:", 1000) + voice("下:", 1000));
    const std::string large = write("large.txt", "标题: 基准\n1=D 4/4\n" + voice("上:", 4000) + voice("下:", 4000));
    const std::string song = dir.filePath(QStringLiteral("song.hbk")).toStdString();
    const std::string pdf = dir.filePath(QStringLiteral("score.pdf")).toStdString();
    for (auto _ : state) {
        songs::ImportedSong imported;
        std::string error;
        std::vector<std::string> notices;
        auto start = std::chrono::steady_clock::now();
        if (!notation::ImportJianpuFile(small, song, imported, error, notices))
            state.SkipWithError(error.c_str());
        const std::chrono::duration<double> importing = std::chrono::steady_clock::now() - start;

        std::ifstream in(large);
        notation::Score score;
        std::vector<std::string> warnings;
        notation::ParseJianpu(std::string(std::istreambuf_iterator<char>(in), {}), score, error, warnings);
        const int pages = notation::ScoreDrawing(score, 595, 842).pages();
        start = std::chrono::steady_clock::now();
        if (!notation::WriteScoreFile(score, pdf, error))
            state.SkipWithError(error.c_str());
        const std::chrono::duration<double> printing = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(importing.count() + printing.count());
        std::fprintf(stderr, "jianpu: a %d-note text made into a song in %.1f ms; a %d-page score written as PDF "
                             "in %.1f ms (targets <= 200 ms each)\n",
                     imported.notes, importing.count() * 1000, pages, printing.count() * 1000);
    }
}
BENCHMARK(BM_JianpuImportAndPrint)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The longest texts the reader takes, one line each, just under the size
// limit: blank-separated notes, and one note held by dashes.
void BM_JianpuLongestLine(benchmark::State& state)
{
    const auto line = [](const char* start, const char* token) {
        std::string text = start;
        while (text.size() + 2 + 3 < notation::kMostTextBytes)
            text += token;
        return text + "||";
    };
    const std::string notes = line("上: ", "1 "), dashes = line("上: 1 ", "- ");
    for (auto _ : state) {
        double took[2] = {};
        for (int i = 0; i < 2; ++i) {
            notation::Score score;
            std::string error;
            std::vector<std::string> warnings;
            const auto start = std::chrono::steady_clock::now();
            if (!notation::ParseJianpu(i == 0 ? notes : dashes, score, error, warnings))
                state.SkipWithError(error.c_str());
            took[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        state.SetIterationTime(took[0] + took[1]);
        std::fprintf(stderr, "jianpu: a line of %zu KB read in %.1f ms as notes, in %.1f ms as dashes (target <= 200 ms "
                             "each)\n",
                     notes.size() / 1024, took[0] * 1000, took[1] * 1000);
    }
}
BENCHMARK(BM_JianpuLongestLine)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// A song as the bank holds them: 32 bars a keyboard with lyrics, ties, a
// triplet, slurs and a repeat with two endings, read, placed on the page and
// made into the notes it plays.
void BM_JianpuSongWithLyrics(benchmark::State& state)
{
    std::string text = "标题: 基准\n1=D 4/4 \xE2\x99\xA9=96\n";
    for (int line = 0; line < 8; ++line) {
        const bool repeat = line == 2;
        text += std::string("上: ") + (repeat ? "|: " : "") + "3 3_ 5_ (6_ 1'_) 1'_ 6_ | 5 5_ 6_ 5 - ⌒ | 5 3(1_ 2_ 3_) 2 1 | " +
                (repeat ? "[1. 2 - - - :| [2. 1 - - - |\n" : "2 - 1 - |\n");
        text += "词: 好一朵美丽的茉莉花_芬芳美丽满枝桠" + std::string("呀") + "\n";
        text += "下: 1, - 5,, - | 1, - 5,, - | 1, - 4,, - | 5,, - 1, - |\n";
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        notation::Score score;
        std::string error;
        std::vector<std::string> warnings;
        if (!notation::ParseJianpu(text, score, error, warnings))
            state.SkipWithError(error.c_str());
        const notation::ScoreDrawing drawing(score, 595, 842);
        const songs::SmfSong midi = notation::ToSmf(score);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        std::fprintf(stderr, "jianpu: a %zu-note song with lyrics and repeats read and placed on %d page(s), %zu notes "
                             "played, in %.2f ms (target <= 30 ms)\n",
                     score.upper.size() + score.lower.size(), drawing.pages(), midi.notes.size(), took.count() * 1000);
    }
}
BENCHMARK(BM_JianpuSongWithLyrics)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
