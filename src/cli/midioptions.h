#pragma once
#include <string>
#include <utility>
#include <vector>

// The command-line choices of what the keyboards play through.
struct MidiOptions {
    std::string soundfont;  // --soundfont PATH
    std::string midiOut;    // --midi-out PORT: a device number or part of a port's name
    std::string midiIn;     // --midi-in PORT: an input port, the same way
    bool midiInVelocity = false;  // --midi-in-velocity: live notes keep the controller's velocity
    std::vector<std::pair<std::string, std::string>> synthOptions;  // --synth-option NAME=VALUE, repeatable
    std::string trace;      // --midi-trace FILE, for MidiOut::SetTrace
};

// Takes the options above out of `args` (the arguments after the program
// name) and leaves everything else in its order. Each option is written
// "--name value" or "--name=value"; a later one replaces an earlier one,
// except --synth-option, which adds up. A lone "--" ends the options and is
// left in place with everything after it. On a malformed option the result is
// false, `error` says why, and `args` and `options` are left untouched.
bool TakeMidiOptions(std::vector<std::string>& args, MidiOptions& options, std::string* error = nullptr);

// Lines for the program's --help.
std::string MidiOptionsHelp();
