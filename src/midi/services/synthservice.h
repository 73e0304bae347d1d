#pragma once
#include "midi/midiservice.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
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
};

// The built-in General MIDI synthesizer, as the default device (-1). It has
// no numbered devices, and one handle is open at a time. The synthesizer, its
// soundfont and its audio output are made at the first open and kept until
// the service goes: closing ends what sounds and invalidates the handle, and
// the next open hands out a new handle at once. Loading a soundfont and
// connecting to a sound server happen once per run.
class SynthService : public MidiService {
public:
    // Tried in this order when no soundfont is named.
    static const std::vector<std::string> kDebianSoundfonts;
    static constexpr int kSampleRate = 44100;

    explicit SynthService(SynthConfig config = {});
    ~SynthService() override;
    SynthService(const SynthService&) = delete;
    SynthService& operator=(const SynthService&) = delete;

    int deviceAnswers(int deviceId) override;  // -1 answers when a soundfont can be found
    int deviceCount() override;                // always 0
    int open(int deviceId, std::uint32_t& handle) override;
    int close(std::uint32_t handle) override;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override;

    // The soundfont that open() would load, empty when there is none.
    std::string findSoundfont() const;
    static std::string FindSoundfont(const std::string& named);

    // A handle is open.
    bool isOpen() const { return handle_ != 0; }
    // The synthesizer exists (also between a close and the next open).
    bool loaded() const { return synth_ != nullptr; }
    std::uint32_t handle() const { return handle_; }
    const std::string& loadedSoundfont() const { return loadedSoundfont_; }
    // The audio driver that opened ("pulseaudio", "file" ...), empty offline.
    const std::string& audioDriver() const { return audioDriverName_; }
    // The output itself, for tests and benchmarks; nullptr offline.
    AudioOutput* audioOutput() const { return output_.get(); }

    // Interleaved stereo at kSampleRate; only while open without audio (the
    // audio driver's thread owns the rendering otherwise). false = nothing rendered.
    bool renderS16(int frames, std::int16_t* leftRight);
    bool renderFloat(int frames, float* leftRight);

private:
    bool createSynth(const std::string& soundfont);
    bool startAudio();
    void noteOff(int channel, int note);
    void freeAll();

    SynthConfig config_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    std::unique_ptr<AudioOutput> output_;
    std::uint32_t handle_ = 0;
    std::uint32_t nextHandle_ = 1;
    std::string loadedSoundfont_;
    std::string audioDriverName_;
    bool warnedNoAudio_ = false;
    bool warnedNoSoundfont_ = false;
    bool settingsChecked_ = false;
    bool audioFailed_ = false;
    // Notes struck and not yet ended, channel * 128 + note. A note-off for
    // any other note is dropped here: FluidSynth looks through every voice
    // for it, and the note countdown sends 65 of them per keyboard each tick.
    std::bitset<16 * 128> struck_;  // no output opened: later opens fail at once
};
