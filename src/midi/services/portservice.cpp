#include "midi/services/portservice.h"

#include "midi/services/audiosystem.h"
#include "midi/services/rtmidisystems.h"
#include "midi/services/servicelog.h"
#include "midi/services/shortmessage.h"
#include "midi/services/soundingnotes.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr const char* kPortName = "Sonarel out";
// A few JACK process cycles: one is 1024 frames at 48 kHz (21 ms) at most in
// the usual set-ups.
constexpr std::chrono::milliseconds kJackCycles(60);

std::unique_ptr<RtMidiOut> makeOut(RtMidi::Api api, bool* failed)
{
    return rtmidisystems::MakeClient<RtMidiOut>(api, failed);
}

}  // namespace

struct PortService::OpenPort {
    std::unique_ptr<RtMidiOut> out;
    std::string name;
    bool failed = false;  // set by RtMidi's error callback
    SoundingNotes sounding;
};

PortService::PortService(std::string defaultPort)
    : defaultPort_(std::move(defaultPort))
{
    AudioSystem::RouteLibraryMessages();
}

PortService::~PortService()
{
    while (!open_.empty())
        close(open_.begin()->first);  // with the note-offs of what still sounds
}

const std::vector<PortService::Port>& PortService::refresh()
{
    ports_ = rtmidisystems::ListPorts<RtMidiOut>();
    listed_ = true;
    return ports_;
}

int PortService::findPort(const std::string& name) const
{
    return FindMidiPort(ports_, name);
}

int PortService::resolve(int deviceId, bool refreshFirst)
{
    if (refreshFirst || !listed_)
        refresh();
    if (deviceId >= 0)
        return deviceId < int(ports_.size()) ? deviceId : -1;
    if (deviceId != -1 || defaultPort_.empty())
        return -1;
    const int found = findPort(defaultPort_);
    if (found < 0) {
        std::string names;
        for (const auto& p : ports_)
            names += (names.empty() ? "" : ", ") + ("\"" + p.name + "\"");
        const std::string text = "MIDI port \"" + defaultPort_ + "\" not found; ports: " + (names.empty() ? "none" : names);
        if (text != lastMissing_) {  // said once while nothing changes
            lastMissing_ = text;
            qCWarning(lcMidi, "%s", text.c_str());
        }
    } else {
        lastMissing_.clear();
    }
    return found;
}

int PortService::deviceAnswers(int deviceId)
{
    // The default device is looked up afresh: it is asked first, once per start.
    return resolve(deviceId, deviceId == -1) >= 0 ? MidiResult::Ok : MidiResult::BadDeviceId;
}

int PortService::deviceCount()
{
    return int(refresh().size());
}

int PortService::open(int deviceId, std::uint32_t& handle)
{
    const int index = resolve(deviceId, false);
    if (index < 0)
        return MidiResult::BadDeviceId;
    const Port port = ports_[std::size_t(index)];

    auto opened = std::make_unique<OpenPort>();
    opened->name = port.name;
    opened->out = makeOut(RtMidi::Api(port.api), &opened->failed);
    if (!opened->out) {
        qCWarning(lcMidi, "MIDI port \"%s\" cannot be opened: its MIDI system is gone", port.name.c_str());
        return MidiResult::NoDriver;
    }
    // Port numbers are per client and may have moved since the list was made;
    // the name is what the user chose.
    try {
        const unsigned count = opened->out->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            if (opened->out->getPortName(i) == port.name) {
                opened->out->openPort(i, kPortName);
                break;
            }
        }
        if (!opened->out->isPortOpen() || opened->failed) {
            qCWarning(lcMidi, "MIDI port \"%s\" cannot be opened", port.name.c_str());
            return MidiResult::Error;
        }
    } catch (const std::exception& e) {
        qCWarning(lcMidi, "MIDI port \"%s\" cannot be opened: %s", port.name.c_str(), e.what());
        return MidiResult::Error;
    }
    qCInfo(lcMidi, "MIDI output to \"%s\"", port.name.c_str());
    std::uint32_t h = nextHandle_++;
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
    try {
        // Notes still sounding are ended first, so that closing the port (or
        // quitting) never leaves the instrument at the other end droning.
        bool ended = false;
        port.sounding.forEachSounding([&](std::uint8_t status, std::uint8_t note) {
            const unsigned char noteOff[3] = {status, note, 0};
            port.out->sendMessage(noteOff, sizeof noteOff);
            ended = true;
        });
        // RtMidi's JACK output hands its messages to the server in a later
        // process cycle and tells nobody when: a port unregistered before
        // that cycle has passed loses them (one close in five on a loaded
        // machine). The note-offs get a few cycles first; this is a close,
        // never a key's way to its note.
        if (ended && port.out->getCurrentApi() == RtMidi::UNIX_JACK)
            std::this_thread::sleep_for(kJackCycles);
        port.out->closePort();
    } catch (const std::exception& e) {
        qCDebug(lcMidi, "rtmidi: %s", e.what());
    }
    open_.erase(it);
    return MidiResult::Ok;
}

int PortService::sendShortMsg(std::uint32_t handle, std::uint32_t message)
{
    const auto it = open_.find(handle);
    if (handle == 0 || it == open_.end())
        return MidiResult::InvalidHandle;
    const ShortMessage m = DecodeShortMessage(message);
    if (m.length == 0)
        return MidiResult::Error;
    // A program change is two bytes on the wire: the packed third byte is
    // padding, and sending it would read as a running-status data byte.
    const unsigned char bytes[3] = {m.status, m.data1, m.data2};
    OpenPort& port = *it->second;
    port.failed = false;
    try {
        port.out->sendMessage(bytes, std::size_t(m.length));
    } catch (const std::exception& e) {
        qCDebug(lcMidi, "rtmidi: %s", e.what());
        return MidiResult::Error;
    }
    if (port.failed)
        return MidiResult::Error;
    port.sounding.track(m);
    return MidiResult::Ok;
}
