#pragma once
// One instrument on a recording MIDI service, with a keyboard whose flags the
// test sets directly. The instrument's own timers are not started (settings
// loaded as in a designer) unless a test asks for it; tests call the ticks.
#include "instrument/keyboarddevice.h"
#include "instrument/instrument.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"

#include <QGuiApplication>
#include <QObject>
#include <QPalette>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// A resting white key: the desktop's window-background colour, whatever the
// state of the keyboard.
inline QColor restWhite() { return QGuiApplication::palette().color(QPalette::Active, QPalette::Base); }

struct Rig {
    explicit Rig(const PropertyBag& bag = PropertyBag(), bool runtime = false)
    {
        auto device = std::make_unique<KeyboardDevice>();
        keys = device.get();
        midi = std::make_unique<MIDi>(std::move(device));
        midi->setPort(&port);
        midi->LoadSettings(bag, runtime);
        QObject::connect(midi.get(), &MIDi::NotePlayed, midi.get(), [this](std::int16_t note) {
            played.push_back(note);
            sentBeforeEvent.push_back(service.messages.size());
        });
    }
    ~Rig()
    {
        midi.reset();
    }

    // Starts the instrument and forgets what the start sent.
    void start()
    {
        midi->StartMIDi();
        service.clear();
    }
    void press(int code)
    {
        keys->setKey(code, true);
        midi->pollTick();
    }
    void release(int code)
    {
        keys->setKey(code, false);
        midi->pollTick();
    }
    std::string bytes() const { return service.bytes(); }
    int count(int status, int data1, int data2) const
    {
        int n = 0;
        for (const auto& m : service.messages)
            n += m.status == status && m.data1 == data1 && m.data2 == data2;
        return n;
    }

    RecordingService service;
    MidiOut port{&service};
    KeyboardDevice* keys = nullptr;  // owned by midi
    std::unique_ptr<MIDi> midi;
    std::vector<int> played;                   // keys reported by NotePlayed, in order
    std::vector<std::size_t> sentBeforeEvent;  // messages already sent when each report came
};

// "80 24 00,80 25 00,..." for note-offs of notes first..last on a channel.
inline std::string noteOffs(int channel, int first, int last)
{
    std::string out;
    char buf[16];
    for (int n = first; n <= last; ++n) {
        std::snprintf(buf, sizeof buf, "%s%02X %02X 00", out.empty() ? "" : ",", 0x80 + channel, n);
        out += buf;
    }
    return out;
}

namespace scan {
constexpr int Z = 44, X = 45, A = 30, Q = 16, Digit1 = 2, Digit0 = 11, Space = 57;
constexpr int Keypad0 = 82, KeypadEnter = 156, Left = 203, Pause = 197;
}  // namespace scan
