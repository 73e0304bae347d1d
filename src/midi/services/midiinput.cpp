// What a MIDI input does with what arrives, whatever the MIDI system.
#include "midi/services/midiinput.h"

#include <QMetaObject>

void MidiInput::arrivedOnItsThread(std::vector<unsigned char> bytes)
{
    // On the MIDI system's thread: the bytes wait in a queue of our own for
    // the input's thread, where the instruments are, and one call takes all
    // that came meanwhile, so a controller's clock flood is no flood of
    // events. A call queued for an input that is gone by then is dropped
    // with it.
    bool first = false;
    {
        std::lock_guard lock(arrivedLock_);
        first = arrived_.empty();
        arrived_.push_back(std::move(bytes));
    }
    if (first)
        QMetaObject::invokeMethod(this, "takeArrived", Qt::QueuedConnection);
}

void MidiInput::takeArrived()
{
    std::vector<std::vector<unsigned char>> taken;
    {
        std::lock_guard lock(arrivedLock_);
        taken.swap(arrived_);
    }
    for (const auto& bytes : taken)
        deliver(bytes);
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
