#pragma once
#include <string>
#include <vector>

// A port of the system's MIDI, output or input, as the platform lists it.
struct MidiPort {
    int api;           // RtMidi::Api on Linux; the device number on Windows
    std::string name;  // as the MIDI system shows it, e.g. "FLUID Synth (1234):Synth input port (1234:0)"
};

// The index in `ports` that `name` names, or -1: a number is an index,
// anything else the port whose name is it, or else the first whose name
// contains it (case does not matter).
int FindMidiPort(const std::vector<MidiPort>& ports, const std::string& name);
