#pragma once
// The one place that chooses what the program plays through, from the
// command line: the default device (-1) is the built-in synthesizer, or the
// port --midi-out names; devices 0..n-1 are the system's MIDI output ports.
#include "cli/midioptions.h"

#include <memory>

class CombinedService;

// The service to hand to MidiOut::SetService. synthWaitsForStart: the
// built-in synthesizer's soundfont and output wait for SynthService::start()
// (the window calls it once it shows).
std::unique_ptr<CombinedService> CreateMidiService(const MidiOptions& options, bool synthWaitsForStart = false);

// Every failure of the port (a result code other than 0) goes to the MIDI
// log category, one line per kind of failure every few seconds: a port that
// is gone fails every note, and the log must stay readable.
void LogMidiFailures();

// Prints the numbered MIDI output and input ports, as --midi-out and
// --midi-in take their numbers.
int ListMidiPorts();
