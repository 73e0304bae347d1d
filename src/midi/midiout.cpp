#include "midi/midiout.h"

#include "midi/midiservice.h"

#include <chrono>
#include <cstdio>
#include <limits>

namespace MidiOut {

std::uint32_t MidiOutHandle = 0;

namespace {

MidiService* g_service = nullptr;
std::function<void(int)> g_errorSink;
std::FILE* g_trace = nullptr;
// The trace counts from program start so that traces of two runs line up
// with what the user did, not with when the port opened.
const auto g_start = std::chrono::steady_clock::now();

constexpr std::int16_t kNoteOff = 0x80;
constexpr std::int16_t kNoteOn = 0x90;
constexpr std::int16_t kControlChange = 0xB0;
constexpr std::int16_t kProgramChange = 0xC0;
constexpr std::int16_t kBankSelect = 0;

// Statuses are formed as base + channel in 16-bit arithmetic; a sum that
// leaves 16 bits fails the operation instead of wrapping.
bool status16(std::int16_t base, std::int16_t channel, std::int16_t& status)
{
    const int sum = int(base) + int(channel);
    if (sum > std::numeric_limits<std::int16_t>::max() || sum < std::numeric_limits<std::int16_t>::min())
        return false;
    status = std::int16_t(sum);
    return true;
}

void trace(std::int16_t status, std::int16_t data1, std::int16_t data2)
{
    if (!g_trace)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - g_start).count();
    std::fprintf(g_trace, "%lld %02X %02X %02X\n", static_cast<long long>(ms),
                 unsigned(status) & 0xFF, unsigned(data1) & 0xFF, unsigned(data2) & 0xFF);
    std::fflush(g_trace);
}

}  // namespace

void SetService(MidiService* service) { g_service = service; }
MidiService* Service() { return g_service; }

Capture::Capture(MidiService* capture) : liveService_(g_service), liveHandle_(MidiOutHandle)
{
    // The live handle is not closed: the window's port stays open meanwhile.
    MidiOutHandle = 0;
    g_service = capture;
    OpenMidiOut(-1);
}

Capture::~Capture()
{
    CloseMidiOut();
    g_service = liveService_;
    MidiOutHandle = liveHandle_;
}
void SetErrorSink(std::function<void(int)> sink) { g_errorSink = std::move(sink); }

bool SetTrace(const std::string& path)
{
    if (g_trace) {
        std::fclose(g_trace);
        g_trace = nullptr;
    }
    if (path.empty())
        return true;
    g_trace = std::fopen(path.c_str(), "w");
    return g_trace != nullptr;
}

void MidiOutError(std::int16_t code)
{
    // Nothing is shown to the user; the failed operation is simply lost.
    if (g_errorSink)
        g_errorSink(code);
}

bool FindMidiDevice(std::int16_t& deviceId)
{
    if (!g_service)
        return false;
    constexpr int kMapper = -1;
    if (g_service->deviceAnswers(kMapper) == MidiResult::Ok) {
        deviceId = -1;
        return true;
    }
    const int count = g_service->deviceCount();
    for (int id = 0; id < count && id <= std::numeric_limits<std::int16_t>::max(); ++id) {
        if (g_service->deviceAnswers(id) == MidiResult::Ok) {
            deviceId = std::int16_t(id);
            return true;
        }
    }
    return false;
}

bool OpenMidiOut(std::int16_t deviceId)
{
    CloseMidiOut();  // re-opening never leaks a handle
    int result = MidiResult::NoDriver;
    if (g_service) {
        std::uint32_t handle = 0;
        result = g_service->open(int(deviceId), handle);  // widened with its sign: -1 stays -1
        if (result == MidiResult::Ok)
            MidiOutHandle = handle;
    }
    if (result != MidiResult::Ok)
        MidiOutError(std::int16_t(result));
    return MidiOutHandle != 0;
}

void CloseMidiOut()
{
    if (MidiOutHandle == 0)
        return;
    const int result = g_service ? g_service->close(MidiOutHandle) : MidiResult::InvalidHandle;
    if (result != MidiResult::Ok)
        MidiOutError(std::int16_t(result));
    MidiOutHandle = 0;
}

void SendShortMsg(std::int16_t status, std::int16_t data1, std::int16_t data2)
{
    // Data1 * 256 is a 16-bit product: it exists only for Data1 in -128..127.
    // A message whose packing overflows (a note above 127) is dropped unreported.
    const int shifted = int(data1) * 256;
    if (shifted > std::numeric_limits<std::int16_t>::max() || shifted < std::numeric_limits<std::int16_t>::min())
        return;
    const long long packed = static_cast<long long>(data2) * 65536 + shifted + status;
    if (packed > std::numeric_limits<std::int32_t>::max() || packed < std::numeric_limits<std::int32_t>::min())
        return;
    trace(status, data1, data2);
    const int result = g_service ? g_service->sendShortMsg(MidiOutHandle, std::uint32_t(std::int32_t(packed)))
                                 : MidiResult::InvalidHandle;
    if (result != MidiResult::Ok)
        MidiOutError(std::int16_t(result));
}

void NoteOn(std::int16_t channel, std::int16_t note, std::int16_t velocity)
{
    std::int16_t status;
    if (status16(kNoteOn, channel, status))
        SendShortMsg(status, note, velocity);
}

void NoteOff(std::int16_t channel, std::int16_t note)
{
    std::int16_t status;
    if (status16(kNoteOff, channel, status))
        SendShortMsg(status, note, 0);  // release velocity is always 0
}

void ControlChange(std::int16_t channel, std::int16_t controller, std::int16_t value)
{
    std::int16_t status;
    if (status16(kControlChange, channel, status))
        SendShortMsg(status, controller, value);
}

void ProgramChange(std::int16_t channel, std::int16_t bank, std::int16_t program)
{
    ControlChange(channel, kBankSelect, bank);
    std::int16_t status;
    if (status16(kProgramChange, channel, status))
        SendShortMsg(status, program, 0);
}

}  // namespace MidiOut
