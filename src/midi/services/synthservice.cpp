#include "midi/services/synthservice.h"

#include "midi/services/audiooutput.h"
#include "midi/services/audiosystem.h"
#include "midi/services/pulseoutput.h"
#include "midi/services/servicelog.h"
#include "midi/services/shortmessage.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#ifdef SONAREL_HAVE_SDL2
#define SDL_MAIN_HANDLED
#include <SDL.h>
#endif

const std::vector<std::string> SynthService::kDebianSoundfonts = {
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
};

namespace {

// FluidSynth's default gain (0.2) leaves a single key at a whisper. At 0.6
// one piano key at full velocity peaks near -13 dBFS, and a ten-note chord at
// full velocity still stays just below clipping.
constexpr double kGain = 0.6;
// The audio buffer decides the delay between a key press and its sound:
// 3 periods of 64 frames are 4.4 ms at 44.1 kHz. FluidSynth's default of 16
// periods of 64 frames would add 23 ms, which a player feels. The PulseAudio
// output takes the same figures as its buffer and request sizes.
constexpr int kPeriodSize = 64;
constexpr int kPeriods = 3;
// 96 frames are 2.2 ms at 44.1 kHz, asked for 32 frames (0.7 ms) at a time.
// A busy machine that underruns this can take more with audio.periods.
constexpr int kPulseBufferFrames = 96;
constexpr int kPulseRequestFrames = 32;
const char* const kAudioDrivers[] = {"pulseaudio", "alsa", "jack", "sdl2"};
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;

// While we probe for an audio driver, FluidSynth's complaints about each one
// that is missing are expected; they go to the debug log, and only our own
// summary is a warning.
thread_local bool t_probing = false;

struct Probing {
    Probing() { t_probing = true; }
    ~Probing() { t_probing = false; }
};

void fluidLog(int level, const char* message, void*)
{
    if (level <= FLUID_WARN && !t_probing)
        qCWarning(lcMidi, "fluidsynth: %s", message);
    else
        qCDebug(lcMidi, "fluidsynth: %s", message);
}

void routeFluidLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, fluidLog, nullptr);
    });
}

bool readableFile(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

bool isSoundfont(const std::string& path)
{
    if (!readableFile(path))
        return false;
    Probing quiet;  // a file that is not a soundfont is simply not one
    return fluid_is_soundfont(path.c_str()) != 0;
}

bool parseInt(const std::string& text, int& value)
{
    static const std::pair<const char*, int> words[] = {
        {"yes", 1}, {"no", 0}, {"true", 1}, {"false", 0}, {"on", 1}, {"off", 0}};
    for (const auto& [word, number] : words) {
        if (text == word) {
            value = number;
            return true;
        }
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = int(v);
    return true;
}

bool parseNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0;
}

// Applies one setting by the type FluidSynth gives it, as fluidsynth's -o does.
void applySetting(fluid_settings_t* settings, const std::string& name, const std::string& value, bool warn)
{
    int ok = FLUID_FAILED;
    switch (fluid_settings_get_type(settings, name.c_str())) {
    case FLUID_NUM_TYPE: {
        double v;
        if (parseNumber(value, v))
            ok = fluid_settings_setnum(settings, name.c_str(), v);
        break;
    }
    case FLUID_INT_TYPE: {
        int v;
        if (parseInt(value, v))
            ok = fluid_settings_setint(settings, name.c_str(), v);
        break;
    }
    case FLUID_STR_TYPE:
        ok = fluid_settings_setstr(settings, name.c_str(), value.c_str());
        break;
    default:
        if (warn)
            qCWarning(lcMidi, "Unknown synthesizer setting \"%s\" ignored", name.c_str());
        return;
    }
    if (ok != FLUID_OK && warn)
        qCWarning(lcMidi, "Synthesizer setting %s=%s ignored: value not accepted", name.c_str(), value.c_str());
}

#ifdef SONAREL_HAVE_SDL2
// FluidSynth's SDL2 driver expects the program to have started SDL's audio.
bool startSdlAudio()
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        qCDebug(lcMidi, "sdl2: %s", SDL_GetError());
        return false;
    }
    return true;
}
void stopSdlAudio() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }
#else
bool startSdlAudio() { return false; }
void stopSdlAudio() {}
#endif

// One of FluidSynth's own drivers (ALSA, JACK, SDL2, file ...). They render
// on a thread of their own for as long as they exist, sound or no sound.
class FluidDriverOutput : public AudioOutput {
public:
    FluidDriverOutput(fluid_audio_driver_t* driver, std::string name, bool sdl)
        : driver_(driver), name_(std::move(name)), sdl_(sdl)
    {
    }
    ~FluidDriverOutput() override
    {
        delete_fluid_audio_driver(driver_);
        if (sdl_)
            stopSdlAudio();
    }
    std::string name() const override { return name_; }

private:
    fluid_audio_driver_t* driver_;
    std::string name_;
    bool sdl_;
};

int settingInt(fluid_settings_t* settings, const char* name, int fallback)
{
    int value = fallback;
    fluid_settings_getint(settings, name, &value);
    return value;
}

}  // namespace

SynthService::SynthService(SynthConfig config)
    : config_(std::move(config))
{
    routeFluidLog();
    AudioSystem::RouteLibraryMessages();
}

SynthService::~SynthService()
{
    freeAll();
}

std::string SynthService::FindSoundfont(const std::string& named)
{
    // A soundfont the user named is the only one tried: quietly playing another
    // one would hide a mistyped path.
    if (!named.empty())
        return isSoundfont(named) ? named : std::string();
    for (const auto& path : kDebianSoundfonts) {
        if (isSoundfont(path))
            return path;
    }
    return {};
}

std::string SynthService::findSoundfont() const
{
    return FindSoundfont(config_.soundfont);
}

int SynthService::deviceAnswers(int deviceId)
{
    if (deviceId != -1)
        return MidiResult::BadDeviceId;
    if (findSoundfont().empty()) {
        if (!warnedNoSoundfont_) {
            warnedNoSoundfont_ = true;
            if (config_.soundfont.empty())
                qCWarning(lcMidi, "No soundfont found for the built-in synthesizer "
                                  "(install fluid-soundfont-gm or name one with --soundfont)");
            else
                qCWarning(lcMidi, "Soundfont \"%s\" cannot be read; the built-in synthesizer is off",
                          config_.soundfont.c_str());
        }
        return MidiResult::NoDriver;
    }
    return MidiResult::Ok;
}

int SynthService::deviceCount()
{
    return 0;
}

int SynthService::open(int deviceId, std::uint32_t& handle)
{
    if (deviceId != -1)
        return MidiResult::BadDeviceId;
    if (handle_ != 0)
        return MidiResult::Error;  // one handle at a time
    if (!synth_) {
        // An output that could not be opened is not tried again at every
        // re-open: the keyboard stays silent, and it was said once.
        if (audioFailed_)
            return MidiResult::NoDriver;
        if (deviceAnswers(-1) != MidiResult::Ok)
            return MidiResult::NoDriver;
        if (!createSynth(findSoundfont())) {
            freeAll();
            return MidiResult::Error;
        }
        if (config_.audio && !startAudio()) {
            freeAll();  // nothing is kept: the program goes on silent
            audioFailed_ = true;
            return MidiResult::NoDriver;
        }
    }
    handle_ = nextHandle_++;
    if (nextHandle_ == 0)
        nextHandle_ = 1;
    handle = handle_;
    return MidiResult::Ok;
}

bool SynthService::createSynth(const std::string& soundfont)
{
    settings_ = new_fluid_settings();
    if (!settings_)
        return false;
    fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(settings_, "synth.gain", kGain);
    // Loads the samples of the instruments in use only: FluidR3_GM is 148 MB,
    // which would hold up the start by a second or more.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings_, "audio.period-size", kPeriodSize);
    fluid_settings_setint(settings_, "audio.periods", kPeriods);
    for (const auto& [name, value] : config_.options)
        applySetting(settings_, name, value, !settingsChecked_);
    settingsChecked_ = true;  // said once, not at every re-open
    if (!config_.audio)
        fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);  // renders promise 44.1 kHz

    synth_ = new_fluid_synth(settings_);
    if (!synth_) {
        qCWarning(lcMidi, "The built-in synthesizer could not be created");
        return false;
    }
    if (fluid_synth_sfload(synth_, soundfont.c_str(), 1) == FLUID_FAILED) {
        qCWarning(lcMidi, "Soundfont \"%s\" could not be loaded", soundfont.c_str());
        return false;
    }
    loadedSoundfont_ = soundfont;
    return true;
}

bool SynthService::startAudio()
{
    // Called with the synthesizer complete: the driver's thread starts asking
    // it for sound the moment the driver exists.
    std::vector<std::string> drivers;
    bool chosen = false;
    for (const auto& [name, value] : config_.options) {
        if (name == "audio.driver") {
            drivers = {value};  // the user's choice is the only one tried
            chosen = true;
        }
    }
    if (!chosen)
        drivers.assign(std::begin(kAudioDrivers), std::end(kAudioDrivers));

    std::string tried;
    for (const auto& name : drivers) {
        tried += (tried.empty() ? "" : ", ") + name;
        if (name == "jack" && !AudioSystem::JackServerAnswers()) {
            tried += " (no server running)";
            continue;
        }
        if (name == "pulseaudio") {
            // Our own output: it rests while nothing sounds.
            // The server asks for small pieces often, so a note waits behind
            // little; --synth-option audio.period-size and audio.periods set
            // the request and the buffer (request x periods) as for the
            // other drivers.
            PulseOutput::Options pulse;
            pulse.requestFrames = kPulseRequestFrames;
            pulse.bufferFrames = kPulseBufferFrames;
            for (const auto& [option, value] : config_.options) {
                if (option == "audio.period-size" || option == "audio.periods") {
                    pulse.requestFrames = settingInt(settings_, "audio.period-size", kPeriodSize);
                    pulse.bufferFrames = pulse.requestFrames * settingInt(settings_, "audio.periods", kPeriods);
                }
            }
            pulse.sampleRate = kSampleRate;
            char* server = nullptr;
            if (fluid_settings_dupstr(settings_, "audio.pulseaudio.server", &server) == FLUID_OK && server) {
                if (std::string(server) != "default")
                    pulse.server = server;
                fluid_free(server);
            }
            std::string why;
            output_ = PulseOutput::Open(synth_, pulse, why);
            if (output_) {
                audioDriverName_ = name;
                qCInfo(lcMidi, "Built-in synthesizer playing through %s with %s", name.c_str(), loadedSoundfont_.c_str());
                return true;
            }
            tried += " (" + why + ")";
            continue;
        }
        bool sdl = false;
        if (name == "sdl2") {
            if (!startSdlAudio())
                continue;
            sdl = true;
        }
        fluid_settings_setstr(settings_, "audio.driver", name.c_str());
        fluid_audio_driver_t* driver = nullptr;
        {
            // FluidSynth's reason is worth reading once when the user chose the driver.
            std::optional<Probing> quiet;
            if (!chosen || warnedNoAudio_)
                quiet.emplace();
            driver = new_fluid_audio_driver(settings_, synth_);
        }
        if (driver) {
            output_ = std::make_unique<FluidDriverOutput>(driver, name, sdl);
            audioDriverName_ = name;
            qCInfo(lcMidi, "Built-in synthesizer playing through %s with %s", name.c_str(), loadedSoundfont_.c_str());
            return true;
        }
        if (sdl)
            stopSdlAudio();
    }

    // Both instruments open the port at start: one warning is enough.
    if (!warnedNoAudio_) {
        warnedNoAudio_ = true;
        qCWarning(lcMidi, "The built-in synthesizer is silent: no audio output could be opened (tried %s)",
                  tried.c_str());
    } else {
        qCDebug(lcMidi, "No audio output could be opened (tried %s)", tried.c_str());
    }
    return false;
}

void SynthService::freeAll()
{
    // The audio output is created last and deleted first: until it is gone
    // its thread keeps calling into the synthesizer.
    output_.reset();
    if (synth_) {
        delete_fluid_synth(synth_);  // also unloads the soundfont
        synth_ = nullptr;
    }
    if (settings_) {
        delete_fluid_settings(settings_);
        settings_ = nullptr;
    }
    loadedSoundfont_.clear();
    audioDriverName_.clear();
    struck_.reset();
}

int SynthService::close(std::uint32_t handle)
{
    if (handle == 0 || handle != handle_ || !synth_)
        return MidiResult::InvalidHandle;
    handle_ = 0;
    // The synthesizer, its soundfont and its stream stay for the next open;
    // only what sounds ends with the handle.
    fluid_synth_all_notes_off(synth_, -1);
    struck_.reset();
    return MidiResult::Ok;
}

void SynthService::noteOff(int channel, int note)
{
    const std::size_t i = std::size_t(channel * 128 + note);
    if (!struck_.test(i))
        return;
    struck_.reset(i);
    fluid_synth_noteoff(synth_, channel, note);
}

int SynthService::sendShortMsg(std::uint32_t handle, std::uint32_t message)
{
    if (handle == 0 || handle != handle_ || !synth_)
        return MidiResult::InvalidHandle;
    const ShortMessage m = DecodeShortMessage(message);
    if (m.length == 0)
        return MidiResult::Error;
    const int channel = m.status & 0x0F;
    int result = FLUID_OK;
    switch (m.status & 0xF0) {
    case 0x80:
        // A note-off for a key that is not sounding is no fault: the note
        // countdown sends one for every idle key on each tick.
        noteOff(channel, m.data1);
        break;
    case 0x90:
        if (m.data2 == 0) {
            noteOff(channel, m.data1);  // velocity 0 is a note-off
        } else {
            result = fluid_synth_noteon(synth_, channel, m.data1, m.data2);
            struck_.set(std::size_t(channel * 128 + m.data1));
            if (output_)
                output_->wake();
        }
        break;
    case 0xA0:
        result = fluid_synth_key_pressure(synth_, channel, m.data1, m.data2);
        break;
    case 0xB0:
        result = fluid_synth_cc(synth_, channel, m.data1, m.data2);
        if (m.data1 == kAllSoundOff || m.data1 == kAllNotesOff)
            for (int note = 0; note < 128; ++note)
                struck_.reset(std::size_t(channel * 128 + note));
        break;
    case 0xC0:
        result = fluid_synth_program_change(synth_, channel, m.data1);
        break;
    case 0xD0:
        result = fluid_synth_channel_pressure(synth_, channel, m.data1);
        break;
    case 0xE0:
        result = fluid_synth_pitch_bend(synth_, channel, m.data1 | (m.data2 << 7));
        break;
    default:
        break;  // system messages (clock, sense ...) mean nothing to the synthesizer
    }
    return result == FLUID_OK ? MidiResult::Ok : MidiResult::Error;
}

bool SynthService::renderS16(int frames, std::int16_t* leftRight)
{
    if (!synth_ || output_ || frames < 0 || (frames > 0 && !leftRight))
        return false;
    return frames == 0 || fluid_synth_write_s16(synth_, frames, leftRight, 0, 2, leftRight, 1, 2) == FLUID_OK;
}

bool SynthService::renderFloat(int frames, float* leftRight)
{
    if (!synth_ || output_ || frames < 0 || (frames > 0 && !leftRight))
        return false;
    return frames == 0 || fluid_synth_write_float(synth_, frames, leftRight, 0, 2, leftRight, 1, 2) == FLUID_OK;
}
