// Songs beyond the window: exporting an hour of music to a MIDI file and
// rendering a minute of it to audio, with the real-time factor of each
// (seconds of music per second of work).
#include "songs/export/songexport.h"
#include "songs/recorder.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
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
    for (int i = 0; i < notes; ++i) {
        if (i % 40 == 0)
            rec.writeSettingRecord("@TonD", i % 80 == 0 ? "1" : "2");
        rec.writeSettingRecord(std::to_string(key(random)), std::to_string(i % 7 == 0 ? 0 : gap(random)));
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
    songs::SongCapture capture;
    std::string error;
    songs::CaptureSong(song, capture, error);
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
        return songs::ExportMidi(song, out, error);
    });
}
BENCHMARK(BM_ExportOneHourToMidi)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_RenderOneMinuteToWav(benchmark::State& state)
{
    timeSongTool(state, 600, 60, "minute.wav", [](const std::string& song, const std::string& out, std::string& error) {
        return songs::RenderSong(song, out, std::string(), error);
    });
}
BENCHMARK(BM_RenderOneMinuteToWav)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
