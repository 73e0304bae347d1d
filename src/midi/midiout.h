#pragma once
#include "midi/services/soundingnotes.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "midi/midiservice.h"

// The ranges of a channel message's parts. A value outside them would turn
// into another message, so nothing outside them is sent.
namespace midi {
constexpr bool IsChannel(int v) { return v >= 0 && v <= 15; }
constexpr bool IsDataByte(int v) { return v >= 0 && v <= 127; }
}  // namespace midi

// One MIDI output port. The window's two keyboards share one (main owns it);
// an export makes its own on the recording service, so that what sounds on
// the window's port is left alone. Every failure is swallowed here: the
// caller carries on and the instrument stays silent.
class MidiOut {
public:
    // The service is not owned and must outlive the port. nullptr: a port
    // with no devices.
    explicit MidiOut(MidiService* service = nullptr);
    ~MidiOut();
    MidiOut(const MidiOut&) = delete;
    MidiOut& operator=(const MidiOut&) = delete;

    void SetService(MidiService* service) { service_ = service; }
    MidiService* Service() const { return service_; }
    // 0 while no port is open.
    std::uint32_t MidiOutHandle() const { return handle_; }

    // The device to open: the mapper when it answers, else the first device
    // that does; none when nothing answers.
    std::optional<std::int16_t> FindMidiDevice() const;
    bool OpenMidiOut(std::int16_t deviceId);
    void CloseMidiOut();
    // Values outside a channel message's ranges are dropped unreported.
    void NoteOn(int channel, int note, int velocity);
    void NoteOff(int channel, int note);
    void ControlChange(int channel, int controller, int value);
    void ProgramChange(int channel, int bank, int program);
    void SendShortMsg(std::int16_t status, std::int16_t data1, std::int16_t data2);

    // The metronome's clicks, timed by the device itself where it can
    // (ClicksTimed); kept across a reopen, also of another device. They are
    // none of the port's messages: no trace, no sounding note.
    void StartClicks(const ClickPattern& pattern);
    void StopClicks();
    bool ClicksTimed() const { return clicksTimed_; }

    // Whether a note-on for this note went out and nothing has ended it yet,
    // whichever keyboard sent it: a keyboard's note-off for a note the other
    // struck on the same channel ends it, as one instrument would hear it.
    bool Sounding(int channel, int note) const;

    // Writes every message that SendShortMsg hands on, also while the port is
    // closed, as "ms SS D1 D2" lines (milliseconds since the program
    // started, hex bytes). An empty path switches the trace off. Returns
    // false when the file cannot be opened.
    bool SetTrace(const std::string& path);

    // Every non-zero result code of every port goes here; used to log, never
    // shown.
    static void MidiOutError(std::int16_t code);
    static void SetErrorSink(std::function<void(int code)> sink);

private:
    void trace(std::int16_t status, std::int16_t data1, std::int16_t data2);

    MidiService* service_ = nullptr;
    std::uint32_t handle_ = 0;
    std::FILE* trace_ = nullptr;
    SoundingNotes sounding_;
    std::optional<ClickPattern> clicks_;
    bool clicksTimed_ = false;
};
