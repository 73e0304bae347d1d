#pragma once
// What the output ports and the input ports share of RtMidi: which of its
// back ends may be asked at all (ALSA sequencer, JACK), its error reports,
// the listing of ports and the choice of one by number or by name.
#include "midi/services/midiport.h"

#include <rtmidi/RtMidi.h>

#include <memory>
#include <string>
#include <vector>

namespace rtmidisystems {

constexpr const char* kClientName = "Sonarel";

using Port = MidiPort;

// Without an ALSA sequencer or a JACK server, RtMidi's constructors fail or
// crash inside the system's library: those back ends are asked first.
bool ApiUsable(RtMidi::Api api);

// RtMidi reports through this callback instead of throwing once it is set;
// `failed` (a bool*) becomes true on an error.
void ReportError(RtMidiError::Type type, const std::string& text, void* failed);

// A client of the back end, or nullptr when it cannot be made.
template <typename Client>
std::unique_ptr<Client> MakeClient(RtMidi::Api api, bool* failed);

// The ports of every usable back end, ALSA's pass-through port last; the
// program's own ports are not among them.
template <typename Client>
std::vector<Port> ListPorts();

}  // namespace rtmidisystems
