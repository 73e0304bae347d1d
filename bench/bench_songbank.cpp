// The song bank: a song opened as the menu opens it (read, parsed, placed on
// the keys, its first note struck by the player), the whole bank read and
// checked, and every song of it printed.
#include "notation/scorefile.h"
#include "notation/songbank.h"
#include "notation/songscore.h"
#include "songs/midiimport.h"
#include "songs/player.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

std::vector<notation::BankSong> readBank(benchmark::State& state)
{
    std::vector<std::string> errors, warnings;
    auto bank = notation::ReadBank(SONAREL_SONGBANK, errors, warnings);
    if (bank.empty() || !errors.empty())
        state.SkipWithError(errors.empty() ? "the song bank is empty" : errors.front().c_str());
    return bank;
}

// The player's host: only when the first key is struck matters.
class FirstNote : public songs::PlaybackHost {
public:
    bool struck = false, ended = false;
    void playKey(std::int16_t, std::int16_t) override { struck = true; }
    void selectHalf(std::int16_t) override {}
    void applySetting(const songs::Record&) override {}
    bool settingsLocked() const override { return false; }
    void setTimerEnabled(bool) override {}
    void endOfPlayback() override { ended = true; }
};

void BM_OpenBankSong(benchmark::State& state)
{
    const auto bank = readBank(state);
    QTemporaryDir dir;
    const std::string songPath = dir.filePath(QStringLiteral("~Import.Dat")).toStdString();
    double worst = 0;
    std::string slowest;
    for (auto _ : state) {
        for (const notation::BankSong& s : bank) {
            const auto start = Clock::now();
            songs::ImportedSong song;
            std::string error;
            std::vector<std::string> notices;
            if (!notation::ImportJianpuFile(s.path, songPath, song, error, notices)) {
                state.SkipWithError(error.c_str());
                return;
            }
            songs::SongPlayer player;
            FirstNote host;
            player.start(songPath);
            // A song that starts with a rest strikes its first key some ticks in.
            for (int tick = 0; tick < 1000 && !host.struck && !host.ended; ++tick)
                player.tick(host);
            const double ms = msSince(start);
            if (ms > worst) {
                worst = ms;
                slowest = s.score.title;
            }
        }
        state.SetIterationTime(worst / 1000);
    }
    state.counters["worst_ms"] = worst;
    std::fprintf(stderr, "song bank: the slowest of %zu songs (%s) opened to its first note in %.1f ms (target <= 30 ms)\n",
                 bank.size(), slowest.c_str(), worst);
}
BENCHMARK(BM_OpenBankSong)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ReadAndCheckBank(benchmark::State& state)
{
    double ms = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        std::size_t songsPlaced = 0;
        for (const notation::BankSong& s : readBank(state)) {
            songs::ImportedSong song;
            std::string error;
            songsPlaced += songs::MakeSong(notation::ToSmf(s.score), s.score.title, song, error, s.score.tonic) &&
                           song.notices.empty();
        }
        benchmark::DoNotOptimize(songsPlaced);
        ms = msSince(start);
        state.SetIterationTime(ms / 1000);
    }
    std::fprintf(stderr, "song bank: read and checked in %.1f ms (target <= 200 ms)\n", ms);
}
BENCHMARK(BM_ReadAndCheckBank)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_PrintBank(benchmark::State& state)
{
    const auto bank = readBank(state);
    QTemporaryDir dir;
    const std::string pdf = dir.filePath(QStringLiteral("score.pdf")).toStdString();
    double ms = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (const notation::BankSong& s : bank) {
            std::string error;
            if (!notation::WriteScoreFile(s.score, pdf, error)) {
                state.SkipWithError(error.c_str());
                return;
            }
        }
        ms = msSince(start);
        state.SetIterationTime(ms / 1000);
    }
    std::fprintf(stderr, "song bank: %zu songs printed as PDF in %.1f ms (target <= 1000 ms)\n", bank.size(), ms);
}
BENCHMARK(BM_PrintBank)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
