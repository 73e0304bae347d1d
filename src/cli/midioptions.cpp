#include "cli/midioptions.h"

namespace {

enum class Option { None, Soundfont, MidiOut, MidiIn, SynthOption, Trace };

struct Known {
    const char* name;
    Option option;
    const char* what;  // for "needs ..." errors
};

constexpr Known kKnown[] = {
    {"--soundfont", Option::Soundfont, "a soundfont file"},
    {"--midi-out", Option::MidiOut, "a port number or name"},
    {"--midi-in", Option::MidiIn, "a port number or name"},
    {"--synth-option", Option::SynthOption, "NAME=VALUE"},
    {"--midi-trace", Option::Trace, "a file"},
};

bool fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

}  // namespace

bool TakeMidiOptions(std::vector<std::string>& args, MidiOptions& options, std::string* error)
{
    MidiOptions taken = options;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            rest.insert(rest.end(), args.begin() + std::ptrdiff_t(i), args.end());
            break;
        }
        if (arg == "--midi-in-velocity") {
            taken.midiInVelocity = true;
            continue;
        }
        const Known* known = nullptr;
        std::string value;
        bool hasValue = false;
        for (const Known& k : kKnown) {
            const std::string name = k.name;
            if (arg == name) {
                known = &k;
            } else if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
                known = &k;
                value = arg.substr(name.size() + 1);
                hasValue = true;
            }
        }
        if (!known) {
            rest.push_back(arg);
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size())
                return fail(error, std::string(known->name) + " needs " + known->what);
            value = args[++i];
        }
        switch (known->option) {
        case Option::Soundfont:
        case Option::MidiOut:
        case Option::MidiIn:
        case Option::Trace:
            if (value.empty())
                return fail(error, std::string(known->name) + " needs " + known->what);
            (known->option == Option::Soundfont ? taken.soundfont
             : known->option == Option::MidiOut ? taken.midiOut
             : known->option == Option::MidiIn  ? taken.midiIn
                                                : taken.trace) = value;
            break;
        case Option::SynthOption: {
            const auto eq = value.find('=');
            if (eq == std::string::npos || eq == 0)
                return fail(error, "--synth-option needs NAME=VALUE, got \"" + value + "\"");
            taken.synthOptions.emplace_back(value.substr(0, eq), value.substr(eq + 1));
            break;
        }
        case Option::None:
            break;
        }
    }
    options = std::move(taken);
    args = std::move(rest);
    return true;
}

std::string MidiOptionsHelp()
{
    return "  --soundfont PATH          soundfont of the built-in synthesizer\n"
           "                            (default: Debian's FluidR3_GM, TimGM6mb, default-GM)\n"
           "  --midi-out PORT           play through a MIDI port instead of the built-in\n"
           "                            synthesizer: its number or part of its name\n"
           "  --synth-option NAME=VALUE a FluidSynth setting, repeatable\n"
           "                            (e.g. audio.driver=alsa, synth.gain=1.0)\n"
           "  --midi-in PORT            play the keyboards from a MIDI input port (a controller):\n"
           "                            its number or part of its name; channel 1 plays the\n"
           "                            lower keyboard, channel 2 the upper, others the one\n"
           "                            played last\n"
           "  --midi-in-velocity        live notes from the input keep their own velocity\n"
           "                            (a recording keeps the keyboard's volume: a song has\n"
           "                            no velocity per note)\n"
           "  --list-ports              list the MIDI output and input ports, numbered, and exit\n"
           "  --midi-trace FILE         write every MIDI message sent to FILE\n";
}
