// The system's MIDI on Windows, through WinMM as the keyboard has always
// used it: the default device (-1) is the MIDI mapper, which plays through
// the General MIDI synthesizer every Windows has (or the device the user
// chose for it), and devices 0..n-1 are the MIDI output devices.
#include "midi/services/portservice.h"

#include "midi/services/servicelog.h"
#include "midi/services/shortmessage.h"
#include "midi/services/soundingnotes.h"
#include "midi/services/winmm/wide.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

// WinMM's results are the codes the port shares (midiservice.h): both are
// MMSYSERR values.
int resultOf(MMRESULT r) { return int(r); }

}  // namespace

struct PortService::OpenPort {
    HMIDIOUT out = nullptr;
    std::string name;
    SoundingNotes sounding;
};

PortService::PortService(std::string defaultPort) : defaultPort_(std::move(defaultPort)) {}

PortService::~PortService()
{
    while (!open_.empty())
        close(open_.begin()->first);  // with the note-offs of what still sounds
}

const std::vector<PortService::Port>& PortService::refresh()
{
    ports_.clear();
    const UINT count = midiOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIOUTCAPSW caps{};
        const bool named = midiOutGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR;
        ports_.push_back({int(id), named ? winmm::Utf8(caps.szPname) : "MIDI " + std::to_string(id)});
    }
    listed_ = true;
    return ports_;
}

int PortService::findPort(const std::string& name) const { return FindMidiPort(ports_, name); }

// The WinMM device a device number stands for: -1 is the mapper unless the
// user named a port for it.
int PortService::resolve(int deviceId, bool refreshFirst)
{
    if (refreshFirst || !listed_)
        refresh();
    if (deviceId >= 0)
        return deviceId < int(ports_.size()) ? deviceId : -2;
    if (deviceId != -1)
        return -2;
    if (defaultPort_.empty())
        return -1;
    const int found = findPort(defaultPort_);
    if (found < 0) {
        std::string names;
        for (const auto& p : ports_)
            names += (names.empty() ? "" : ", ") + ("\"" + p.name + "\"");
        const std::string text = "MIDI port \"" + defaultPort_ + "\" not found; ports: " + (names.empty() ? "none" : names);
        if (text != lastMissing_) {
            lastMissing_ = text;
            qCWarning(lcMidi, "%s", text.c_str());
        }
        return -2;
    }
    lastMissing_.clear();
    return found;
}

int PortService::deviceAnswers(int deviceId)
{
    const int device = resolve(deviceId, deviceId == -1);
    if (device < -1)
        return MidiResult::BadDeviceId;
    MIDIOUTCAPSW caps{};
    return resultOf(midiOutGetDevCapsW(device == -1 ? UINT_PTR(MIDI_MAPPER) : UINT_PTR(device), &caps, sizeof caps));
}

int PortService::deviceCount() { return int(refresh().size()); }

int PortService::open(int deviceId, std::uint32_t& handle)
{
    const int device = resolve(deviceId, false);
    if (device < -1)
        return MidiResult::BadDeviceId;
    auto opened = std::make_unique<OpenPort>();
    opened->name = device == -1 ? std::string("MIDI mapper") : ports_[std::size_t(device)].name;
    const MMRESULT r = midiOutOpen(&opened->out, device == -1 ? UINT(MIDI_MAPPER) : UINT(device), 0, 0, CALLBACK_NULL);
    if (r != MMSYSERR_NOERROR) {
        qCWarning(lcMidi, "MIDI output \"%s\" cannot be opened (WinMM error %u)", opened->name.c_str(), unsigned(r));
        return resultOf(r);
    }
    qCInfo(lcMidi, "MIDI output to \"%s\"", opened->name.c_str());
    const std::uint32_t h = nextHandle_++;
    if (nextHandle_ == 0)
        nextHandle_ = 1;
    open_[h] = std::move(opened);
    handle = h;
    return MidiResult::Ok;
}

int PortService::close(std::uint32_t handle)
{
    const auto it = open_.find(handle);
    if (handle == 0 || it == open_.end())
        return MidiResult::InvalidHandle;
    OpenPort& port = *it->second;
    // Notes still sounding are ended first, so that closing the port (or
    // quitting) never leaves an instrument at the other end droning.
    port.sounding.forEachSounding([&](std::uint8_t status, std::uint8_t note) {
        midiOutShortMsg(port.out, DWORD(status) | DWORD(note) << 8);
    });
    const MMRESULT r = midiOutClose(port.out);
    open_.erase(it);
    return resultOf(r);
}

int PortService::sendShortMsg(std::uint32_t handle, std::uint32_t message)
{
    const auto it = open_.find(handle);
    if (handle == 0 || it == open_.end())
        return MidiResult::InvalidHandle;
    const ShortMessage m = DecodeShortMessage(message);
    if (m.length == 0)
        return MidiResult::Error;
    OpenPort& port = *it->second;
    // The packed message goes out as it is: WinMM takes exactly this form.
    const MMRESULT r = midiOutShortMsg(port.out, DWORD(message));
    if (r != MMSYSERR_NOERROR)
        return resultOf(r);
    port.sounding.track(m);
    return MidiResult::Ok;
}
