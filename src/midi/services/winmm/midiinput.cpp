// A controller keyboard on Windows: a WinMM MIDI input device. WinMM calls
// back on a thread of its own with each short message, packed as the output
// packs them.
#include "midi/services/midiinput.h"

#include "midi/services/servicelog.h"
#include "midi/services/shortmessage.h"
#include "midi/services/winmm/wide.h"

#include <windows.h>
#include <mmsystem.h>

struct MidiInput::Device {
    HMIDIIN in = nullptr;
};

namespace {

void CALLBACK arrived(HMIDIIN, UINT message, DWORD_PTR self, DWORD_PTR packed, DWORD_PTR)
{
    // Only data: WinMM must not be called from here.
    if (message != MIM_DATA)
        return;
    const ShortMessage m = DecodeShortMessage(std::uint32_t(packed));
    if (m.length == 0)
        return;
    const std::uint8_t bytes[3] = {m.status, m.data1, m.data2};
    reinterpret_cast<MidiInput*>(self)->arrivedOnItsThread(std::vector<unsigned char>(bytes, bytes + m.length));
}

}  // namespace

MidiInput::MidiInput(QObject* parent) : QObject(parent) {}

MidiInput::~MidiInput() { close(); }

std::vector<MidiPort> MidiInput::Ports()
{
    std::vector<MidiPort> ports;
    const UINT count = midiInGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIINCAPSW caps{};
        const bool named = midiInGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR;
        ports.push_back({int(id), named ? winmm::Utf8(caps.szPname) : "MIDI " + std::to_string(id)});
    }
    return ports;
}

bool MidiInput::open(const std::string& wanted, std::string& error)
{
    close();
    const auto ports = Ports();
    const int index = FindMidiPort(ports, wanted);
    if (index < 0) {
        std::string names;
        for (const auto& p : ports)
            names += (names.empty() ? "" : ", ") + ("\"" + p.name + "\"");
        error = "no MIDI input port \"" + wanted + "\"; ports: " + (names.empty() ? "none" : names);
        return false;
    }
    const MidiPort& port = ports[std::size_t(index)];
    auto device = std::make_unique<Device>();
    if (midiInOpen(&device->in, UINT(port.api), DWORD_PTR(&arrived), DWORD_PTR(this), CALLBACK_FUNCTION) !=
        MMSYSERR_NOERROR) {
        error = "MIDI input \"" + port.name + "\" cannot be opened";
        return false;
    }
    parser_ = MidiInParser();
    if (midiInStart(device->in) != MMSYSERR_NOERROR) {
        midiInClose(device->in);
        error = "MIDI input \"" + port.name + "\" cannot be started";
        return false;
    }
    in_ = std::move(device);
    name_ = port.name;
    qCInfo(lcMidi, "MIDI input from \"%s\"", name_.c_str());
    return true;
}

void MidiInput::close()
{
    if (!in_)
        return;
    // Stopped and reset before the close: no call comes in once it is gone.
    midiInStop(in_->in);
    midiInReset(in_->in);
    midiInClose(in_->in);
    in_.reset();
    name_.clear();
}
