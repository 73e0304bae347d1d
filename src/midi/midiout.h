#pragma once
#include <cstdint>
#include <functional>
#include <string>

class MidiService;

// The ranges of a channel message's parts. A value outside them would turn
// into another message, so nothing outside them is sent.
namespace midi {
constexpr bool IsChannel(int v) { return v >= 0 && v <= 15; }
constexpr bool IsDataByte(int v) { return v >= 0 && v <= 127; }
}  // namespace midi

// The program's single MIDI output port. Both instrument controls send
// through it; nothing else in the program talks to MIDI. Every failure is
// swallowed here: the caller carries on and the instrument stays silent.
namespace MidiOut {

// 0 while no port is open. Only OpenMidiOut sets it, only CloseMidiOut clears
// it (and a Capture puts back what it found).
extern std::uint32_t MidiOutHandle;

bool FindMidiDevice(std::int16_t& deviceId);
bool OpenMidiOut(std::int16_t deviceId);
void CloseMidiOut();
void NoteOn(std::int16_t channel, std::int16_t note, std::int16_t velocity);
void NoteOff(std::int16_t channel, std::int16_t note);
void ControlChange(std::int16_t channel, std::int16_t controller, std::int16_t value);
void ProgramChange(std::int16_t channel, std::int16_t bank, std::int16_t program);
void SendShortMsg(std::int16_t status, std::int16_t data1, std::int16_t data2);
void MidiOutError(std::int16_t code);

// The platform service behind the port, chosen once in main() (or by a test).
// The port does not own it. Passing nullptr leaves a port with no devices.
void SetService(MidiService* service);
MidiService* Service();

// While a Capture lives, the port sends to `capture` instead, opened on its
// default device; when it ends, the live port's service and handle are as
// they were. A song export from the running window leaves the window's port
// (and what sounds on it) alone this way.
class Capture {
public:
    explicit Capture(MidiService* capture);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

private:
    MidiService* liveService_;
    std::uint32_t liveHandle_;
};

// Writes every message that SendShortMsg hands on, also while the port is
// closed, as "ms SS D1 D2" lines (milliseconds since the trace started, hex
// bytes). An empty path switches the trace off. Returns false when the file
// cannot be opened.
bool SetTrace(const std::string& path);

// Called with every non-zero result code; used to log, never shown.
void SetErrorSink(std::function<void(int code)> sink);

}  // namespace MidiOut
