#include "midi/services/synthservice.h"

#include "midi/services/audiooutput.h"
#include "midi/services/audiosystem.h"
#include "midi/services/clicktrack.h"
#include "midi/services/pulseoutput.h"
#include "midi/services/servicelog.h"
#include "midi/services/sharedlibrary.h"
#include "midi/services/shortmessage.h"
#include "midi/services/synthcommands.h"

#include "midi/services/fluidlib.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
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

using fluidlib::Fluid;

// FluidSynth's default gain (0.2) leaves a single key at a whisper. At 0.6
// one piano key at full velocity peaks near -13 dBFS, and a ten-note chord at
// full velocity still stays just below clipping.
constexpr double kGain = 0.6;
// The audio buffer of FluidSynth's own drivers decides the delay between a
// key press and its sound: 3 periods of 64 frames are 4.4 ms at 44.1 kHz.
// FluidSynth's default of 16 periods of 64 frames would add 23 ms, which a
// player feels. Our PulseAudio stream has its own, smaller sizes
// (PulseOutput::Options); these figures stand in for it only for a setting
// the user gives without the other.
constexpr int kPeriodSize = 64;
constexpr int kPeriods = 3;
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
            Fluid().fluid_set_log_function(level, fluidLog, nullptr);
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
    // A RIFF file of the "sfbk" form, as FluidSynth itself tells one (SF2
    // and SF3 alike); read here so that looking needs no synthesizer.
    char head[12] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool whole = ::read(fd, head, sizeof(head)) == ssize_t(sizeof(head));
    ::close(fd);
    return whole && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "sfbk", 4) == 0;
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
    switch (Fluid().fluid_settings_get_type(settings, name.c_str())) {
    case FLUID_NUM_TYPE: {
        double v;
        if (parseNumber(value, v))
            ok = Fluid().fluid_settings_setnum(settings, name.c_str(), v);
        break;
    }
    case FLUID_INT_TYPE: {
        int v;
        if (parseInt(value, v))
            ok = Fluid().fluid_settings_setint(settings, name.c_str(), v);
        break;
    }
    case FLUID_STR_TYPE:
        ok = Fluid().fluid_settings_setstr(settings, name.c_str(), value.c_str());
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
// SDL is opened only then, as FluidSynth is: a start need not load it.
struct Sdl {
    decltype(&::SDL_InitSubSystem) init = nullptr;
    decltype(&::SDL_QuitSubSystem) quit = nullptr;
    decltype(&::SDL_GetError) error = nullptr;
};

Sdl sdlFunctions;
sharedlibrary::Once sdlLibrary;

bool openSdl(std::string& why)
{
    void* library = sharedlibrary::Open({"libSDL2-2.0.so.0"}, "SDL2", why);
    return library && sharedlibrary::Find(library, "SDL_InitSubSystem", sdlFunctions.init, "SDL2", why) &&
           sharedlibrary::Find(library, "SDL_QuitSubSystem", sdlFunctions.quit, "SDL2", why) &&
           sharedlibrary::Find(library, "SDL_GetError", sdlFunctions.error, "SDL2", why);
}

// The functions, or none of them when SDL2 cannot be loaded.
const Sdl& sdl()
{
    static const Sdl none;
    std::string why;
    if (!sdlLibrary.load(openSdl, why)) {
        qCDebug(lcMidi, "%s", why.c_str());
        return none;
    }
    return sdlFunctions;
}

// SDL's start and stop are not made to run on two threads at once, and
// FluidSynth asks SDL for its devices whenever it makes its settings: all of
// that is done under this lock, since two synthesizers (a stuck one left to
// end by itself, an export's) may be busy at the same time.
std::mutex& sdlLock()
{
    static std::mutex lock;
    return lock;
}

bool startSdlAudio()
{
    if (!sdl().init)
        return false;
    if (sdl().init(SDL_INIT_AUDIO) != 0) {
        qCDebug(lcMidi, "sdl2: %s", sdl().error());
        return false;
    }
    return true;
}
void stopSdlAudio()
{
    if (sdl().quit)
        sdl().quit(SDL_INIT_AUDIO);
}
#else
std::mutex& sdlLock()
{
    static std::mutex lock;
    return lock;
}
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
        std::optional<std::lock_guard<std::mutex>> lock;
        if (sdl_)
            lock.emplace(sdlLock());
        Fluid().delete_fluid_audio_driver(driver_);
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
    Fluid().fluid_settings_getint(settings, name, &value);
    return value;
}

// What the keyboards sent before the output was up. Settings are kept (the
// latest of each kind, in order); notes are kept for kLateNoteMs, and a
// note's end takes its start back out.
class PendingMessages {
public:
    using Clock = std::chrono::steady_clock;

    void add(const ShortMessage& m, std::uint32_t message, Clock::time_point now)
    {
        const int kind = m.status & 0xF0;
        const int channel = m.status & 0x0F;
        pruneNotes(now);
        if (kind == 0x90 && m.data2 > 0) {
            notes_.push_back({message, now});
            return;
        }
        if (kind == 0x80 || kind == 0x90) {
            std::erase_if(notes_, [&](const Note& n) { return (n.message & 0x0F) == std::uint32_t(channel) &&
                                                                ((n.message >> 8) & 0x7F) == m.data1; });
            return;
        }
        if (kind == 0xB0 && (m.data1 == kAllSoundOff || m.data1 == kAllNotesOff)) {
            std::erase_if(notes_, [&](const Note& n) { return (n.message & 0x0F) == std::uint32_t(channel); });
            return;
        }
        if (kind == 0xF0)
            return;
        // One entry per channel and kind (per controller for control changes).
        const std::uint32_t key = kind == 0xB0 ? (message & 0xFFFF) : (message & 0xFF);
        std::erase_if(settings_, [&](std::uint32_t s) { return (kind == 0xB0 ? (s & 0xFFFF) : (s & 0xFF)) == key; });
        settings_.push_back(message);
    }
    std::vector<std::uint32_t> takeSettings() { return std::exchange(settings_, {}); }
    std::vector<std::uint32_t> takeNotes(Clock::time_point now)
    {
        pruneNotes(now);
        std::vector<std::uint32_t> out;
        for (const Note& n : notes_)
            out.push_back(n.message);
        notes_.clear();
        return out;
    }
    void dropNotes() { notes_.clear(); }

private:
    struct Note {
        std::uint32_t message;
        Clock::time_point at;
    };
    void pruneNotes(Clock::time_point now)
    {
        const auto oldest = now - std::chrono::milliseconds(SynthService::kLateNoteMs);
        while (!notes_.empty() && notes_.front().at < oldest)
            notes_.pop_front();
    }
    std::vector<std::uint32_t> settings_;
    std::deque<Note> notes_;
};

}  // namespace

// The synthesizer and its output, shared by the service (the UI thread) and
// the thread that starts and restarts the output. Whoever lets go last frees
// it, so a thread still waiting on a sound server never touches freed memory.
struct SynthService::Engine {
    explicit Engine(SynthConfig c) : config(std::move(c)) {}
    ~Engine()
    {
        // The audio output is created last and deleted first: until it is
        // gone its thread keeps calling into the synthesizer; so does the
        // thread of the slow calls, which goes next.
        output.reset();
        commands.reset();
        if (clickVoice)
            Fluid().delete_fluid_synth(clickVoice);
        if (clickSettings)
            Fluid().delete_fluid_settings(clickSettings);
        if (synth)
            Fluid().delete_fluid_synth(synth);  // also unloads the soundfont
        if (settings)
            Fluid().delete_fluid_settings(settings);
    }

    fluid_settings_t* makeSettings(bool warn) const;
    bool makeSynth(const std::string& soundfont);
    // The starter thread, when clicks are first asked for.
    void makeClickVoice(const std::string& soundfont);
    void search(bool first);
    bool openPulse(std::string& why, bool& silent);
    bool openFluidDriver(const std::string& name, bool chosen);
    void install(std::unique_ptr<AudioOutput> out, const std::string& name);
    void setStatus(SynthStatus s);
    void run(std::shared_ptr<Engine> self, std::string soundfont);
    const std::string* chosenDriver() const;
    // Every rendering of ours goes through here: the clicks land in it.
    // false when FluidSynth refused a piece.
    template <class Sample>
    bool render(int frames, Sample* leftRight);
    // The clicks can be placed: offline, or while our own output plays.
    bool clicksPlaced() const;

    const SynthConfig config;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;  // set before `made`, then never changed
    std::unique_ptr<SynthCommands> commands;  // made with the synthesizer, before `ready`
    std::atomic<bool> made{false};
    std::atomic<bool> ready{false};  // messages go to `commands`, no longer to `pending`
    ClickTrack clicks{kSampleRate};
    // The clicks' own synthesizer (see ClickTrack), made by the starter
    // thread once they are first asked for.
    fluid_settings_t* clickSettings = nullptr;
    fluid_synth_t* clickVoice = nullptr;
    bool warnedNoAudio = false;      // the starter thread's own

    mutable std::mutex mutex;  // guards what follows; never held while waiting on a server
    std::condition_variable changed;
    std::unique_ptr<AudioOutput> output;
    std::string soundfont;
    PendingMessages pending;
    SynthStatus status;
    std::mutex listenerMutex;
    std::function<void(const SynthStatus&)> listener;  // under listenerMutex
    bool stop = false;
    bool started = false;
    bool retryNow = false;
    bool clicksAsked = false;       // the clicks' voice is wanted
    bool clickVoiceTried = false;   // and has been made, or could not be
    std::atomic<bool> lost{false};
    bool searched = false;
    bool finished = false;
};

const std::string* SynthService::Engine::chosenDriver() const
{
    for (const auto& [name, value] : config.options)
        if (name == "audio.driver")
            return &value;  // the user's choice is the only one tried
    return nullptr;
}

template <class Sample>
bool SynthService::Engine::render(int frames, Sample* leftRight)
{
    bool ok = true;
    const auto piece = [&](int offset, int count) {
        Sample* at = leftRight + 2 * std::ptrdiff_t(offset);
        if constexpr (std::is_same_v<Sample, float>)
            ok = Fluid().fluid_synth_write_float(synth, count, at, 0, 2, at, 1, 2) == FLUID_OK && ok;
        else
            ok = Fluid().fluid_synth_write_s16(synth, count, at, 0, 2, at, 1, 2) == FLUID_OK && ok;
    };
    const auto mix = [&](int offset, int count, const float* clicked) {
        Sample* at = leftRight + 2 * std::ptrdiff_t(offset);
        for (std::ptrdiff_t i = 0; i < 2 * std::ptrdiff_t(count); ++i) {
            if constexpr (std::is_same_v<Sample, float>)
                at[i] += clicked[i];
            else
                at[i] = Sample(std::clamp(std::lround(at[i] + clicked[i] * 32767.0f), -32768L, 32767L));
        }
    };
    clicks.render(*commands, frames, piece, mix);
    return ok;
}

bool SynthService::Engine::clicksPlaced() const
{
    if (!config.audio)
        return true;
    std::lock_guard lock(mutex);
    return dynamic_cast<PulseOutput*>(output.get()) != nullptr;
}

fluid_settings_t* SynthService::Engine::makeSettings(bool warn) const
{
    fluid_settings_t* made_ = nullptr;
    {
        std::lock_guard lock(sdlLock());
        made_ = Fluid().new_fluid_settings();
    }
    if (!made_)
        return nullptr;
    Fluid().fluid_settings_setnum(made_, "synth.sample-rate", kSampleRate);
    Fluid().fluid_settings_setnum(made_, "synth.gain", kGain);
    // Loads the samples of the instruments in use only: FluidR3_GM is 148 MB,
    // which would hold up the start by a second or more.
    Fluid().fluid_settings_setint(made_, "synth.dynamic-sample-loading", 1);
    Fluid().fluid_settings_setint(made_, "audio.period-size", kPeriodSize);
    Fluid().fluid_settings_setint(made_, "audio.periods", kPeriods);
    for (const auto& [name, value] : config.options)
        applySetting(made_, name, value, warn);
    if (!config.audio)
        Fluid().fluid_settings_setnum(made_, "synth.sample-rate", kSampleRate);  // renders promise 44.1 kHz
    return made_;
}

bool SynthService::Engine::makeSynth(const std::string& font)
{
    std::string why;
    if (!fluidlib::Load(why)) {
        qCWarning(lcMidi, "%s; the built-in synthesizer is off", why.c_str());
        return false;
    }
    routeFluidLog();
    settings = makeSettings(true);
    if (!settings)
        return false;
    fluid_synth_t* made_ = Fluid().new_fluid_synth(settings);
    if (!made_) {
        qCWarning(lcMidi, "The built-in synthesizer could not be created");
        return false;
    }
    synth = made_;
    commands = std::make_unique<SynthCommands>(synth);
    if (Fluid().fluid_synth_sfload(synth, font.c_str(), 1) == FLUID_FAILED) {
        qCWarning(lcMidi, "Soundfont \"%s\" could not be loaded", font.c_str());
        return false;
    }
    {
        std::lock_guard lock(mutex);
        soundfont = font;
    }
    made.store(true);
    return true;
}

void SynthService::Engine::makeClickVoice(const std::string& font)
{
    // Settings of its own: a synthesizer registers itself with its settings
    // for their changes, and two on one would overwrite each other there.
    clickSettings = makeSettings(false);
    if (clickSettings)
        clickVoice = Fluid().new_fluid_synth(clickSettings);
    if (clickVoice && Fluid().fluid_synth_sfload(clickVoice, font.c_str(), 1) != FLUID_FAILED)
        clicks.setVoice(clickVoice);
    else
        qCInfo(lcMidi, "The metronome's own voice could not be made: its clicks keep to the synthesizer's blocks");
}

void SynthService::Engine::setStatus(SynthStatus s)
{
    {
        std::lock_guard lock(mutex);
        status = s;
    }
    // Told under a lock of its own, so that the service can take the
    // listener away and be sure it is not being called.
    std::lock_guard lock(listenerMutex);
    if (listener)
        listener(s);
}

// The output is up: what waited goes to the synthesizer, then everything
// sent from now on goes straight there.
void SynthService::Engine::install(std::unique_ptr<AudioOutput> out, const std::string& name)
{
    // What was queued before an output went away is older than what waited
    // meanwhile, and is played first.
    commands->drain();
    // Settings first, outside the lock: a program change may read the
    // soundfont's samples from the disk, and the keyboards must not wait on that.
    for (;;) {
        std::vector<std::uint32_t> settingsNow;
        {
            std::lock_guard lock(mutex);
            settingsNow = pending.takeSettings();
        }
        if (settingsNow.empty())
            break;
        for (std::uint32_t message : settingsNow)
            PlayMessage(synth, DecodeShortMessage(message));
    }
    {
        std::lock_guard lock(mutex);
        // What sounded into an output that went away is not heard later.
        Fluid().fluid_synth_all_sounds_off(synth, -1);
        for (std::uint32_t message : pending.takeSettings())
            PlayMessage(synth, DecodeShortMessage(message));
        const std::vector<std::uint32_t> notes = pending.takeNotes(PendingMessages::Clock::now());
        for (std::uint32_t message : notes)
            PlayMessage(synth, DecodeShortMessage(message));
        output = std::move(out);
        if (!notes.empty())
            output->wake();
        ready.store(true);
    }
    qCInfo(lcMidi, "Built-in synthesizer playing through %s with %s", name.c_str(), soundfont.c_str());
    SynthStatus s;
    s.state = SynthStatus::State::Playing;
    s.driver = name;
    setStatus(s);
}

bool SynthService::Engine::openPulse(std::string& why, bool& silent)
{
    // Our own output: it rests while nothing sounds. The server asks for
    // small pieces often, so a note waits behind little; --synth-option
    // audio.period-size and audio.periods set the request and the buffer
    // (request x periods) as for the other drivers.
    PulseOutput::Options pulse;
    for (const auto& [option, value] : config.options) {
        if (option == "audio.period-size" || option == "audio.periods") {
            pulse.requestFrames = settingInt(settings, "audio.period-size", kPeriodSize);
            pulse.bufferFrames = pulse.requestFrames * settingInt(settings, "audio.periods", kPeriods);
            pulse.largestBufferFrames = std::max(pulse.largestBufferFrames, pulse.bufferFrames);
        }
    }
    pulse.sampleRate = kSampleRate;
    pulse.closeMs = config.closeStreamAfterMs;
    char* server = nullptr;
    if (Fluid().fluid_settings_dupstr(settings, "audio.pulseaudio.server", &server) == FLUID_OK && server) {
        if (std::string(server) != "default")
            pulse.server = server;
        Fluid().fluid_free(server);
    }
    // The metronome's clicks are placed in what the stream renders.
    pulse.render = [this](int frames, float* leftRight) { render(frames, leftRight); };
    pulse.keepAwake = [this] { return clicks.running(); };
    pulse.onRanDry = [this] { clicks.ranDry(); };
    // Called with the stream's lock held, which the keyboards' thread takes
    // inside `mutex`: so no `mutex` here, only the flag and a nudge. The
    // starter also looks at the flag once a second, should the nudge come
    // between its look and its wait.
    pulse.onLost = [this] {
        lost.store(true);
        changed.notify_all();
    };
    silent = false;
    std::unique_ptr<PulseOutput> out = PulseOutput::Open(synth, pulse, why, &silent);
    if (!out)
        return false;
    install(std::move(out), "pulseaudio");
    return true;
}

bool SynthService::Engine::openFluidDriver(const std::string& name, bool chosen)
{
    bool sdl = false;
    std::optional<std::lock_guard<std::mutex>> sdlLocked;
    if (name == "sdl2") {
        sdlLocked.emplace(sdlLock());
        if (!startSdlAudio())
            return false;
        sdl = true;
    }
    Fluid().fluid_settings_setstr(settings, "audio.driver", name.c_str());
    fluid_audio_driver_t* driver = nullptr;
    {
        // FluidSynth's reason is worth reading once when the user chose the driver.
        std::optional<Probing> quiet;
        if (!chosen || warnedNoAudio)
            quiet.emplace();
        driver = Fluid().new_fluid_audio_driver(settings, synth);
    }
    if (!driver) {
        if (sdl)
            stopSdlAudio();
        return false;
    }
    sdlLocked.reset();
    install(std::make_unique<FluidDriverOutput>(driver, name, sdl), name);
    return true;
}

// The first search tries every output in turn; a later one (after a server
// went away, or while none was found) only the sound server, which is what
// comes and goes on a desktop.
void SynthService::Engine::search(bool first)
{
    const std::string* chosen = chosenDriver();
    std::vector<std::string> drivers;
    if (chosen)
        drivers = {*chosen};
    else if (first)
        drivers.assign(std::begin(kAudioDrivers), std::end(kAudioDrivers));
    else
        drivers = {"pulseaudio"};
    const bool retrying = !chosen || *chosen == "pulseaudio";

    std::string tried;
    bool serverSilent = false;
    for (const auto& name : drivers) {
        tried += (tried.empty() ? "" : ", ") + name;
        if (name == "jack" && !AudioSystem::JackServerAnswers()) {
            tried += " (no server running)";
            continue;
        }
        if (name == "pulseaudio") {
            std::string why;
            if (openPulse(why, serverSilent))
                return;
            tried += " (" + why + ")";
            // A server that takes the connection and never answers holds up
            // ALSA and SDL2 the same way, each for half a minute: stop here.
            if (serverSilent)
                break;
            continue;
        }
        if (openFluidDriver(name, chosen != nullptr))
            return;
    }

    SynthStatus s;
    s.state = SynthStatus::State::Silent;
    s.retrying = retrying;
    {
        std::lock_guard lock(mutex);
        const bool wasLost = status.why == SynthStatus::Why::ServerLost;
        s.why = serverSilent ? SynthStatus::Why::ServerSilent
              : !retrying    ? SynthStatus::Why::NoOutput
              : wasLost      ? SynthStatus::Why::ServerLost
                             : SynthStatus::Why::NoServer;
    }
    // Both instruments open the port at start: one warning is enough.
    if (first && !warnedNoAudio) {
        warnedNoAudio = true;
        qCWarning(lcMidi, "The built-in synthesizer is silent: no audio output could be opened (tried %s)%s",
                  tried.c_str(), retrying ? "; it looks for a sound server again every second" : "");
    } else {
        qCDebug(lcMidi, "No audio output could be opened (tried %s)", tried.c_str());
    }
    setStatus(s);
}

void SynthService::Engine::run(std::shared_ptr<Engine> self, std::string font)
{
    (void)self;  // keeps the engine alive for as long as this thread runs
    const auto finish = [this] {
        std::lock_guard lock(mutex);
        searched = true;
        finished = true;
        changed.notify_all();
    };
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return started || stop; });
        if (stop) {
            lock.unlock();
            finish();  // ended before it was ever started: nothing to load
            return;
        }
    }
    if (!makeSynth(font)) {
        SynthStatus s;
        s.state = SynthStatus::State::Silent;
        s.why = SynthStatus::Why::NoSoundfont;
        setStatus(s);
        finish();
        return;
    }
    search(true);
    {
        std::lock_guard lock(mutex);
        searched = true;
        changed.notify_all();
    }
    // A server that went away is mostly being restarted: it is looked for
    // soon, then every second, and after a while of none every two seconds,
    // which costs an idle keyboard next to nothing.
    using std::chrono::milliseconds;
    constexpr milliseconds kRetries[] = {milliseconds(100), milliseconds(250), milliseconds(500), milliseconds(1000),
                                         milliseconds(1000), milliseconds(1000), milliseconds(1000), milliseconds(2000)};
    constexpr auto kWatch = std::chrono::seconds(1);
    std::size_t retries = 3;  // none at the start: every second, for a while
    std::unique_lock lock(mutex);
    for (;;) {
        const bool retrying = !output && status.retrying;
        const bool watching = output && dynamic_cast<PulseOutput*>(output.get());
        const auto woken = [this] { return stop || lost.load() || retryNow || (clicksAsked && !clickVoiceTried); };
        if (retrying)
            changed.wait_for(lock, kRetries[std::min(retries++, std::size(kRetries) - 1)], woken);
        else if (watching)
            changed.wait_for(lock, kWatch, woken);
        else
            changed.wait(lock, woken);
        if (stop)
            break;
        if (clicksAsked && !clickVoiceTried) {
            lock.unlock();
            makeClickVoice(font);
            lock.lock();
            clickVoiceTried = true;
            changed.notify_all();
            continue;
        }
        retryNow = false;
        if (lost.exchange(false)) {
            ready.store(false);
            std::unique_ptr<AudioOutput> gone = std::move(output);
            lock.unlock();
            gone.reset();  // its thread ends here, away from the keyboards
            SynthStatus s;
            s.state = SynthStatus::State::Silent;
            s.why = SynthStatus::Why::ServerLost;
            s.retrying = true;
            setStatus(s);
            lock.lock();
            retries = 0;
            continue;  // the server is tried again soon, or when asked
        }
        if (output || !status.retrying)
            continue;
        lock.unlock();
        search(false);
        lock.lock();
    }
    lock.unlock();
    finish();
}

SynthService::SynthService(SynthConfig config)
    : config_(std::move(config)), mayStart_(!config_.waitForStart)
{
    AudioSystem::RouteLibraryMessages();
}

SynthService::~SynthService()
{
    if (!engine_)
        return;
    {
        std::lock_guard lock(engine_->listenerMutex);
        engine_->listener = nullptr;  // whoever listened may be gone before the thread
    }
    {
        std::lock_guard lock(engine_->mutex);
        engine_->stop = true;
        engine_->changed.notify_all();
    }
    if (!starter_.joinable())
        return;
    // A thread that waits on a sound server that does not answer is not
    // waited for: the program ends at once, and the thread frees the
    // synthesizer whenever the server lets go of it.
    std::unique_lock lock(engine_->mutex);
    if (engine_->changed.wait_for(lock, std::chrono::milliseconds(300), [this] { return engine_->finished; })) {
        lock.unlock();
        starter_.join();
    } else {
        lock.unlock();
        starter_.detach();
    }
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
    if (foundSoundfont_.empty())
        foundSoundfont_ = FindSoundfont(config_.soundfont);
    return foundSoundfont_;
}

bool SynthService::Available() { return true; }

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
    if (!engine_) {
        if (failed_ || deviceAnswers(-1) != MidiResult::Ok)
            return MidiResult::NoDriver;
        auto engine = std::make_shared<Engine>(config_);
        engine->listener = statusListener_;
        if (config_.audio) {
            // The soundfont and the output come up on a thread of their own.
            engine->started = mayStart_;
            starter_ = std::thread(&Engine::run, engine.get(), engine, findSoundfont());
        } else {
            if (!engine->makeSynth(findSoundfont())) {
                failed_ = true;
                return MidiResult::Error;
            }
            engine->ready.store(true);
        }
        engine_ = std::move(engine);
    }
    handle_ = nextHandle_++;
    if (nextHandle_ == 0)
        nextHandle_ = 1;
    handle = handle_;
    return MidiResult::Ok;
}

bool SynthService::loaded() const { return engine_ && engine_->made.load(); }

std::string SynthService::loadedSoundfont() const
{
    if (!engine_)
        return {};
    std::lock_guard lock(engine_->mutex);
    return engine_->soundfont;
}

std::string SynthService::audioDriver() const
{
    if (!engine_)
        return {};
    std::lock_guard lock(engine_->mutex);
    return engine_->output ? engine_->status.driver : std::string();
}

AudioOutput* SynthService::audioOutput() const
{
    if (!engine_)
        return nullptr;
    std::lock_guard lock(engine_->mutex);
    return engine_->output.get();
}

SynthStatus SynthService::status() const
{
    if (!engine_)
        return {};
    std::lock_guard lock(engine_->mutex);
    return engine_->status;
}

void SynthService::setStatusListener(std::function<void(const SynthStatus&)> listener)
{
    statusListener_ = std::move(listener);
    if (!engine_)
        return;
    std::lock_guard lock(engine_->listenerMutex);
    engine_->listener = statusListener_;
}

bool SynthService::waitForAudio(int timeoutMs)
{
    if (!engine_)
        return false;
    std::unique_lock lock(engine_->mutex);
    engine_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return engine_->searched; });
    return engine_->output != nullptr;
}

void SynthService::start()
{
    mayStart_ = true;
    if (!engine_)
        return;
    std::lock_guard lock(engine_->mutex);
    engine_->started = true;
    engine_->changed.notify_all();
}

void SynthService::reconnectNow()
{
    if (!engine_)
        return;
    std::lock_guard lock(engine_->mutex);
    engine_->retryNow = true;
    engine_->changed.notify_all();
}

int SynthService::close(std::uint32_t handle)
{
    if (handle == 0 || handle != handle_ || !engine_)
        return MidiResult::InvalidHandle;
    handle_ = 0;
    engine_->clicks.stop();
    // The synthesizer, its soundfont and its stream stay for the next open;
    // only what sounds ends with the handle.
    if (!engine_->ready.load()) {
        std::lock_guard lock(engine_->mutex);
        if (!engine_->ready.load()) {
            engine_->pending.dropNotes();
            return MidiResult::Ok;
        }
    }
    engine_->commands->endAllNotes();
    return MidiResult::Ok;
}

bool SynthService::startClicks(std::uint32_t handle, const ClickPattern& pattern)
{
    if (handle == 0 || handle != handle_ || !engine_ || !engine_->ready.load() || !engine_->clicksPlaced())
        return false;
    if (!config_.audio && !engine_->clickVoiceTried) {
        // Offline nothing waits on the time it takes: the clicks sound from
        // their own frames from the first.
        engine_->clickVoiceTried = true;
        engine_->makeClickVoice(findSoundfont());
    }
    engine_->clicks.start(pattern);
    std::lock_guard lock(engine_->mutex);
    if (!engine_->clicksAsked) {
        engine_->clicksAsked = true;
        engine_->changed.notify_all();  // the starter thread makes the voice
    }
    if (config_.audio && engine_->output)
        engine_->output->wake();  // a resting stream renders again: beat one is due now
    return true;
}

void SynthService::stopClicks(std::uint32_t handle)
{
    if (handle != 0 && handle == handle_ && engine_)
        engine_->clicks.stop();
}

int SynthService::sendShortMsg(std::uint32_t handle, std::uint32_t message)
{
    if (handle == 0 || handle != handle_ || !engine_)
        return MidiResult::InvalidHandle;
    const ShortMessage m = DecodeShortMessage(message);
    if (m.length == 0)
        return MidiResult::Error;
    const bool noteOn = (m.status & 0xF0) == 0x90 && m.data2 > 0;
    if (!engine_->ready.load()) {
        // The output is not up: the message waits for it.
        std::lock_guard lock(engine_->mutex);
        if (!engine_->ready.load()) {
            engine_->pending.add(m, message, PendingMessages::Clock::now());
            return MidiResult::Ok;
        }
    }
    const int result = engine_->commands->send(m);
    if (noteOn && config_.audio) {
        std::lock_guard lock(engine_->mutex);
        if (engine_->output)
            engine_->output->wake();
    }
    return result == FLUID_OK ? MidiResult::Ok : MidiResult::Error;
}

bool SynthService::renderS16(int frames, std::int16_t* leftRight)
{
    if (!engine_ || !engine_->ready.load() || config_.audio || frames < 0 || (frames > 0 && !leftRight))
        return false;
    engine_->commands->drain();  // what was sent sounds in this piece
    return engine_->render(frames, leftRight);
}

bool SynthService::renderFloat(int frames, float* leftRight)
{
    if (!engine_ || !engine_->ready.load() || config_.audio || frames < 0 || (frames > 0 && !leftRight))
        return false;
    engine_->commands->drain();
    return engine_->render(frames, leftRight);
}
