#include "midi/services/midiinput.h"

#include "midi/services/rtmidisystems.h"
#include "midi/services/servicelog.h"


namespace {

constexpr const char* kPortName = "Sonarel in";

void arrived(double, std::vector<unsigned char>* message, void* self)
{
    static_cast<MidiInput*>(self)->arrivedOnItsThread(*message);
}

}  // namespace

struct MidiInput::Device {
    std::unique_ptr<RtMidiIn> in;
};

MidiInput::MidiInput(QObject* parent) : QObject(parent) {}

MidiInput::~MidiInput() { close(); }

std::vector<MidiPort> MidiInput::Ports() { return rtmidisystems::ListPorts<RtMidiIn>(); }

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
    const auto& port = ports[std::size_t(index)];
    failed_ = false;
    auto in = rtmidisystems::MakeClient<RtMidiIn>(RtMidi::Api(port.api), &failed_);
    if (!in) {
        error = "MIDI input \"" + port.name + "\" cannot be opened: its MIDI system is gone";
        return false;
    }
    try {
        // The numbers may have moved since the list was made; the name is
        // what was chosen.
        const unsigned count = in->getPortCount();
        for (unsigned i = 0; i < count; ++i)
            if (in->getPortName(i) == port.name) {
                in->openPort(i, kPortName);
                break;
            }
        if (!in->isPortOpen() || failed_) {
            error = "MIDI input \"" + port.name + "\" cannot be opened";
            return false;
        }
        // System exclusive, clock and active sensing come too: the parser
        // skips them, and a stream with them in it reads as one without.
        in->ignoreTypes(false, false, false);
        in->setCallback(&arrived, this);
    } catch (const std::exception& e) {
        error = "MIDI input \"" + port.name + "\" cannot be opened: " + e.what();
        return false;
    }
    in_ = std::make_unique<Device>(Device{std::move(in)});
    name_ = port.name;
    parser_ = MidiInParser();
    qCInfo(lcMidi, "MIDI input from \"%s\"", name_.c_str());
    return true;
}

void MidiInput::close()
{
    if (!in_)
        return;
    try {
        in_->in->cancelCallback();  // no call may come in once the port is gone
        in_->in->closePort();
    } catch (const std::exception& e) {
        qCDebug(lcMidi, "rtmidi: %s", e.what());
    }
    in_.reset();
    name_.clear();
}
