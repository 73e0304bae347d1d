// Windows has no built-in synthesizer of ours: FluidSynth and its soundfont
// are not shipped there, and the MIDI mapper plays through the General MIDI
// synthesizer that comes with Windows. The service exists so that what asks
// for it (the port menu, the audio export) hears "there is none".
#include "midi/services/synthservice.h"

#include "midi/midiservice.h"

const std::vector<std::string> SynthService::kDebianSoundfonts;

bool SynthService::Available() { return false; }

SynthService::SynthService(SynthConfig config) : config_(std::move(config)) {}
SynthService::~SynthService() = default;

int SynthService::deviceAnswers(int) { return MidiResult::NoDriver; }
int SynthService::deviceCount() { return 0; }
int SynthService::open(int, std::uint32_t&) { return MidiResult::NoDriver; }
int SynthService::close(std::uint32_t) { return MidiResult::InvalidHandle; }
int SynthService::sendShortMsg(std::uint32_t, std::uint32_t) { return MidiResult::InvalidHandle; }
bool SynthService::startClicks(std::uint32_t, const ClickPattern&) { return false; }
void SynthService::stopClicks(std::uint32_t) {}
std::string SynthService::findSoundfont() const { return {}; }
std::string SynthService::FindSoundfont(const std::string&) { return {}; }
bool SynthService::loaded() const { return false; }
std::string SynthService::loadedSoundfont() const { return {}; }
std::string SynthService::audioDriver() const { return {}; }
AudioOutput* SynthService::audioOutput() const { return nullptr; }

SynthStatus SynthService::status() const
{
    SynthStatus s;
    s.state = SynthStatus::State::Silent;
    s.why = SynthStatus::Why::NoSoundfont;
    return s;
}

void SynthService::setStatusListener(std::function<void(const SynthStatus&)> listener)
{
    statusListener_ = std::move(listener);
}

bool SynthService::waitForAudio(int) { return false; }
void SynthService::reconnectNow() {}
void SynthService::start() {}
bool SynthService::renderS16(int, std::int16_t*) { return false; }
bool SynthService::renderFloat(int, float*) { return false; }
