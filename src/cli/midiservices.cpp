#include "cli/midiservices.h"

#include "midi/midiout.h"
#include "midi/services/combinedservice.h"
#include "midi/services/midiinput.h"
#include "midi/services/portservice.h"
#include "midi/services/servicelog.h"
#include "midi/services/synthservice.h"

#include <chrono>
#include <iostream>
#include <map>

std::unique_ptr<CombinedService> CreateMidiService(const MidiOptions& options, bool synthWaitsForStart)
{
    SynthConfig config;
    config.waitForStart = synthWaitsForStart;
    config.soundfont = options.soundfont;
    config.options = options.synthOptions;
    // Where there is no built-in synthesizer the default device is the
    // system's own (the MIDI mapper on Windows).
    auto synth = SynthService::Available() ? std::make_unique<SynthService>(std::move(config)) : nullptr;
    const bool defaultIsPort = !options.midiOut.empty() || !synth;
    return std::make_unique<CombinedService>(std::move(synth), std::make_unique<PortService>(options.midiOut),
                                             defaultIsPort);
}

void LogMidiFailures()
{
    MidiOut::SetErrorSink([lastLogged = std::map<int, std::chrono::steady_clock::time_point>()](int code) mutable {
        constexpr auto kQuiet = std::chrono::seconds(10);
        const auto now = std::chrono::steady_clock::now();
        const auto last = lastLogged.find(code);
        if (last != lastLogged.end() && now - last->second < kQuiet)
            return;
        lastLogged[code] = now;
        const char* what = code == MidiResult::BadDeviceId     ? "no such device"
                           : code == MidiResult::InvalidHandle ? "the port is not open"
                           : code == MidiResult::NoDriver      ? "no MIDI driver"
                                                               : "the device failed";
        qCWarning(lcMidi, "MIDI port failure %d: %s", code, what);
    });
}

int ListMidiPorts()
{
    PortService outputs;
    const auto& out = outputs.refresh();
    std::cout << "MIDI output ports (--midi-out):\n";
    if (out.empty())
        std::cout << "  none\n";
    for (std::size_t i = 0; i < out.size(); ++i)
        std::cout << "  " << i << "  " << out[i].name << "\n";
    const auto in = MidiInput::Ports();
    std::cout << "MIDI input ports (--midi-in):\n";
    if (in.empty())
        std::cout << "  none\n";
    for (std::size_t i = 0; i < in.size(); ++i)
        std::cout << "  " << i << "  " << in[i].name << "\n";
    return 0;
}
