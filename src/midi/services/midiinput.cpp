// What a MIDI input does with what arrives, whatever the MIDI system.
#include "midi/services/midiinput.h"

#include <QMetaObject>

void MidiInput::arrivedOnItsThread(std::vector<unsigned char> bytes)
{
    // On the MIDI system's thread: the bytes travel to the input's thread,
    // where the instruments are. A message queued for an input that is gone
    // by then is dropped with it.
    QMetaObject::invokeMethod(this, [this, bytes = std::move(bytes)] { deliver(bytes); }, Qt::QueuedConnection);
}

void MidiInput::deliver(const std::vector<unsigned char>& bytes)
{
    parser_.feed(bytes.data(), bytes.size(), [this](const MidiNote& n) {
        if (n.pedal)
            emit pedal(n.on, n.channel);
        else
            emit note(n.on, n.channel, n.note, n.velocity);
    });
}
