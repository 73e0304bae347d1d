#pragma once
#include <string>

// A port of the system's MIDI, output or input, as RtMidi lists it.
struct MidiPort {
    int api;           // RtMidi::Api
    std::string name;  // as the MIDI system shows it, e.g. "FLUID Synth (1234):Synth input port (1234:0)"
};
