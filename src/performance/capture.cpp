#include "performance/capture.h"

#include "instrument/instrument.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"
#include "performance/instrumenthost.h"
#include "performance/render.h"
#include "songs/paths.h"
#include "songs/player.h"
#include "songs/songfile.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>

namespace performance {

using namespace songs;

namespace {

constexpr std::int64_t kTickMs = 10;
// A song that never ends by itself (a pause loop cannot happen, but a file
// of millions of records can): give up after ten hours of music.
constexpr std::int64_t kLongestSongMs = 10LL * 3600 * 1000;

// Keeps the messages that change what sounds.
class SoundFilter {
public:
    void add(const RecordingService::Message& m, std::vector<TimedMessage>& out)
    {
        const int kind = m.status & 0xF0;
        const int channel = m.status & 0x0F;
        const int track = channel == 1 ? kUpperTrack : kLowerTrack;
        auto& count = sounding_[channel * 128 + (m.data1 & 0x7F)];
        if (kind == 0x90 && m.data2 > 0) {
            ++count;
        } else if (kind == 0x80 || kind == 0x90) {
            if (count == 0)
                return;  // the countdown's note-off for an idle key
            count = 0;
        }
        out.push_back({m.time, track, m.status, m.data1, m.data2});
    }
    bool anySounding() const
    {
        return std::any_of(sounding_.begin(), sounding_.end(), [](int c) { return c > 0; });
    }
    // Ends whatever still sounds (a note length of 0 never ends its notes).
    void endAll(std::int64_t time, std::vector<TimedMessage>& out)
    {
        for (int i = 0; i < int(sounding_.size()); ++i) {
            if (sounding_[i] == 0)
                continue;
            const int channel = i / 128;
            out.push_back({time, channel == 1 ? kUpperTrack : kLowerTrack, std::uint8_t(0x80 | channel),
                           std::uint8_t(i % 128), 0});
            sounding_[i] = 0;
        }
    }

private:
    std::array<int, 16 * 128> sounding_{};
};

}  // namespace

bool CaptureSong(const std::string& path, SongCapture& capture, std::string& error)
{
    capture = SongCapture{};
    if (const std::string why = WhyUnreadable(path); !why.empty()) {
        error = "cannot read " + path + ": " + why;
        return false;
    }
    SongFile probe;
    Record first;
    if (!probe.openForReading(path)) {
        error = "cannot read " + path;
        return false;
    }
    if (probe.readRecord(kFirstRecordSlot, first) != ReadStatus::Ok) {
        error = path + " is not a song file: it holds no records";
        return false;
    }
    probe.close();
    ReadHeaderLine(path, capture.title, capture.author);

    RecordingService service;
    // A port of its own: the window's port, and what sounds on it, are left
    // alone.
    MidiOut port(&service);
    port.OpenMidiOut(-1);

    // The keyboards as the window creates them, sharing their port as there.
    MIDi lower, upper;
    lower.setPort(&port);
    upper.setPort(&port);
    lower.LoadSettings(LowerKeyboardSettings(), true);
    upper.LoadSettings(UpperKeyboardSettings(), true);
    lower.SetInstrument(lower.Instrument());  // each keyboard sends its program when it starts
    upper.SetInstrument(upper.Instrument());

    SongPlayer player;
    if (!player.start(path)) {
        error = "cannot read " + path;
        return false;
    }
    // The song on the two keyboards exactly as the window's playback plays it,
    // minus the panel.
    InstrumentHost host(lower, upper);
    SoundFilter filter;
    // Idle keys get a note-off at every countdown tick: keep the service's
    // log short by taking what it caught as the clock goes.
    auto collect = [&] {
        for (const auto& m : service.messages)
            filter.add(m, capture.messages);
        service.clear();
    };
    collect();

    // The virtual clock advances a millisecond at a time; each keyboard's
    // countdown ticks by the keyboard's own rule, re-armed when its note
    // length changes.
    MIDi* keyboards[] = {&lower, &upper};
    std::int16_t period[2] = {lower.Mlong(), upper.Mlong()};
    // A length of 0 stands the countdown still.
    const auto next = [](std::int64_t t, int length) { return length > 0 ? MIDi::NextCountdownMs(t, length) : 0; };
    std::int64_t nextCountdown[2] = {next(0, period[0]), next(0, period[1])};
    std::int64_t endMs = -1;
    for (std::int64_t t = 1; t <= kLongestSongMs; ++t) {
        service.setClock(t);
        if (t % kTickMs == 0) {
            if (!host.finished)
                player.tick(host);
            for (MIDi* k : keyboards)
                if (k->releaseTimerActive())
                    k->releaseTick();
        }
        for (int i = 0; i < 2; ++i) {
            MIDi& k = *keyboards[i];
            if (k.Mlong() != period[i]) {
                period[i] = k.Mlong();
                nextCountdown[i] = next(t, period[i]);
            }
            if (period[i] > 0 && t >= nextCountdown[i]) {
                k.countdownTick();
                nextCountdown[i] = next(t, period[i]);
            }
        }
        collect();
        if (host.finished && endMs < 0)
            endMs = t;
        // After the end, run on until the countdowns have ended every note.
        if (endMs >= 0 && (!filter.anySounding() || t - endMs > 11LL * std::max<int>({period[0], period[1], 1})))
            break;
    }
    player.stop();
    capture.endMs = endMs < 0 ? kLongestSongMs : endMs;
    const std::int64_t last = capture.messages.empty() ? 0 : capture.messages.back().timeMs;
    filter.endAll(std::max(last, capture.endMs), capture.messages);
    capture.silentMs = capture.messages.empty() ? capture.endMs : capture.messages.back().timeMs;
    return true;
}

bool ExportMidi(const std::string& songPath, const std::string& outPath, std::string& error)
{
    SongCapture capture;
    if (!CaptureSong(songPath, capture, error))
        return false;
    // What the song keeps of its time and key goes to the conductor track;
    // the notes' times stay the playback's own.
    songs::SmfHeading heading{capture.title, capture.author, {}, {}};
    int tonic = 0;
    if (songs::ReadSongTime(songPath, heading.time, tonic))
        heading.keySharps = songs::KeySharpsOf(tonic);
    if (!WriteSmf(outPath, capture.messages, heading)) {
        error = "cannot write " + outPath;
        return false;
    }
    return true;
}

bool RenderSong(const std::string& songPath, const std::string& outPath, const std::string& soundfont,
                std::string& error, const std::function<void(double)>& progress)
{
    SongCapture capture;
    if (!CaptureSong(songPath, capture, error))
        return false;
    RenderOptions options;
    options.soundfont = soundfont;
    // A short song renders in a blink; only longer ones report their progress.
    constexpr std::int64_t kQuietBelowMs = 5000;
    if (progress && capture.silentMs > kQuietBelowMs)
        options.progress = progress;
    return RenderToWav(capture.messages, outPath, options, &error);
}

}  // namespace performance
