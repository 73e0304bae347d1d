#pragma once
#include "midi/midiservice.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class AudioOutput;

struct SynthConfig {
    // A soundfont named by the user; empty: the first of Debian's General
    // MIDI soundfonts that is installed (see SynthService::kDebianSoundfonts).
    std::string soundfont;
    // FluidSynth settings (name, value), applied after our own defaults so
    // that the user has the last word, like fluidsynth's -o.
    std::vector<std::pair<std::string, std::string>> options;
    // false: no audio driver is opened; the sound is fetched with render*()
    // (offline rendering, tests, benchmarks).
    bool audio = true;
    // The soundfont and the output wait for start() (the window calls it once
    // it shows, so that they do not take the processor from its start).
    bool waitForStart = false;
    // How long the sound server's stream rests corked before it is closed, so
    // that the server idles too; the next note opens a new one.
    int closeStreamAfterMs = 30000;
};

// What the built-in synthesizer's sound is doing, for the window to show.
struct SynthStatus {
    enum class State { Starting, Playing, Silent };
    enum class Why {
        None,
        NoSoundfont,   // no General MIDI soundfont: nothing can sound
        NoServer,      // no sound server, and no other output opened
        ServerSilent,  // a server took the connection and never answered
        ServerLost,    // the server went away (a restart, a crash)
        NoOutput,      // the output the user chose did not open
    };
    State state = State::Starting;
    Why why = Why::None;
    std::string driver;     // what plays ("pulseaudio", "alsa" ...) while Playing
    bool retrying = false;  // the synthesizer looks for the server again by itself
};

// The built-in General MIDI synthesizer, as the default device (-1). It has
// no numbered devices, and one handle is open at a time. The synthesizer, its
// soundfont and its audio output are made at the first open and kept until
// the service goes: closing ends what sounds and invalidates the handle, and
// the next open hands out a new handle at once.
//
// With audio, the first open returns at once: a thread of the service's own
// loads the soundfont and opens the output, so neither a large soundfont nor
// a sound server that does not answer holds up the window. What is sent
// before the output is up waits: settings are kept, and a note struck within
// the last half second sounds when the output comes up; older ones are
// dropped. A server that goes away, or that appears after the start, is
// looked for again about once a second, and at once on reconnectNow().
class SynthService : public MidiService {
public:
    // Tried in this order when no soundfont is named.
    static const std::vector<std::string> kDebianSoundfonts;
    static constexpr int kSampleRate = 44100;
    // A note struck while the output is not up yet sounds when it comes up
    // within this time; an older one would only sound late.
    static constexpr int kLateNoteMs = 500;

    // Whether this build has the synthesizer at all (Windows plays through
    // the system's MIDI mapper instead).
    static bool Available();

    explicit SynthService(SynthConfig config = {});
    ~SynthService() override;
    SynthService(const SynthService&) = delete;
    SynthService& operator=(const SynthService&) = delete;

    int deviceAnswers(int deviceId) override;  // -1 answers when a soundfont can be found
    int deviceCount() override;                // always 0
    int open(int deviceId, std::uint32_t& handle) override;
    int close(std::uint32_t handle) override;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override;
    // The clicks are placed by the rendering thread (ClickTrack), offline too;
    // not with one of FluidSynth's own audio drivers, which render by
    // themselves: false then, and the caller times them.
    bool startClicks(std::uint32_t handle, const ClickPattern& pattern) override;
    void stopClicks(std::uint32_t handle) override;

    // The soundfont that open() would load, empty when there is none. Once
    // found it is remembered: both keyboards ask at start, before the window
    // shows, and the disk need not be asked each time.
    std::string findSoundfont() const;
    static std::string FindSoundfont(const std::string& named);

    // A handle is open.
    bool isOpen() const { return handle_ != 0; }
    // The synthesizer exists (also between a close and the next open).
    bool loaded() const;
    std::uint32_t handle() const { return handle_; }
    std::string loadedSoundfont() const;
    // The audio driver that plays now ("pulseaudio", "file" ...), empty
    // offline and while no output is open.
    std::string audioDriver() const;
    // The output itself, for tests and benchmarks; nullptr while there is none.
    AudioOutput* audioOutput() const;

    SynthStatus status() const;
    // Told of every change of status, on whatever thread made it.
    void setStatusListener(std::function<void(const SynthStatus&)> listener);
    // Waits until the first search for an output has ended (tests, benchmarks,
    // tools); true when an output plays.
    bool waitForAudio(int timeoutMs);
    // The user asked for the built-in synthesizer again: a lost or missing
    // output is looked for now rather than at the next retry.
    void reconnectNow();
    // With waitForStart: the soundfont and the output may come up now.
    void start();

    // Interleaved stereo at kSampleRate; only while open without audio (the
    // audio driver's thread owns the rendering otherwise). false = nothing rendered.
    bool renderS16(int frames, std::int16_t* leftRight);
    bool renderFloat(int frames, float* leftRight);

private:
    struct Engine;

    SynthConfig config_;
    std::shared_ptr<Engine> engine_;
    std::thread starter_;  // loads the soundfont, opens and reopens the output
    std::function<void(const SynthStatus&)> statusListener_;
    std::uint32_t handle_ = 0;
    std::uint32_t nextHandle_ = 1;
    mutable std::string foundSoundfont_;
    bool warnedNoSoundfont_ = false;
    bool mayStart_ = true;
    bool failed_ = false;  // an offline synthesizer that could not be made: later opens fail at once
    // Notes struck and not yet ended, channel * 128 + note. A note-off for
    // any other note is dropped here: FluidSynth looks through every voice
    // for it, and the note countdown sends 65 of them per keyboard each tick.
};
