#pragma once
#include <string>

// Where the built-in synthesizer's sound goes: a thread of the output's own
// asks the synthesizer for sound and hands it to the sound system. The
// synthesizer is created before its output and deleted after it.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // A note is about to sound: an output that rests while everything is
    // silent starts again now, so the note is not held up.
    virtual void wake() {}
    // "pulseaudio", "alsa", "jack", "file" ...
    virtual std::string name() const = 0;
};
