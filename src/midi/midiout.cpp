#include "midi/midiout.h"

#include "midi/midiservice.h"

#include <chrono>
#include <limits>

namespace {

std::function<void(int)> g_errorSink;
// Traces count from program start so that traces of two runs line up with
// what the user did, not with when the port opened.
const auto g_start = std::chrono::steady_clock::now();

constexpr int kNoteOff = 0x80;
constexpr int kNoteOn = 0x90;
constexpr int kControlChange = 0xB0;
constexpr int kProgramChange = 0xC0;
constexpr int kBankSelect = 0;

}  // namespace

MidiOut::MidiOut(MidiService* service) : service_(service) {}

MidiOut::~MidiOut()
{
    CloseMidiOut();
    SetTrace("");
}

void MidiOut::SetErrorSink(std::function<void(int)> sink) { g_errorSink = std::move(sink); }

bool MidiOut::SetTrace(const std::string& path)
{
    if (trace_) {
        std::fclose(trace_);
        trace_ = nullptr;
    }
    if (path.empty())
        return true;
    trace_ = std::fopen(path.c_str(), "w");
    return trace_ != nullptr;
}

void MidiOut::trace(std::int16_t status, std::int16_t data1, std::int16_t data2)
{
    if (!trace_)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - g_start).count();
    std::fprintf(trace_, "%lld %02X %02X %02X\n", static_cast<long long>(ms),
                 unsigned(status) & 0xFF, unsigned(data1) & 0xFF, unsigned(data2) & 0xFF);
    std::fflush(trace_);
}

void MidiOut::MidiOutError(std::int16_t code)
{
    // Nothing is shown to the user; the failed operation is simply lost.
    if (g_errorSink)
        g_errorSink(code);
}

std::optional<std::int16_t> MidiOut::FindMidiDevice() const
{
    if (!service_)
        return std::nullopt;
    constexpr int kMapper = -1;
    if (service_->deviceAnswers(kMapper) == MidiResult::Ok)
        return std::int16_t(kMapper);
    const int count = service_->deviceCount();
    for (int id = 0; id < count && id <= std::numeric_limits<std::int16_t>::max(); ++id)
        if (service_->deviceAnswers(id) == MidiResult::Ok)
            return std::int16_t(id);
    return std::nullopt;
}

bool MidiOut::OpenMidiOut(std::int16_t deviceId)
{
    CloseMidiOut();  // re-opening never leaks a handle
    int result = MidiResult::NoDriver;
    if (service_) {
        std::uint32_t handle = 0;
        result = service_->open(int(deviceId), handle);  // widened with its sign: -1 stays -1
        if (result == MidiResult::Ok)
            handle_ = handle;
    }
    if (result != MidiResult::Ok)
        MidiOutError(std::int16_t(result));
    if (clicks_)
        StartClicks(*clicks_);  // the new device may time them, or leave them to the caller
    return handle_ != 0;
}

void MidiOut::StartClicks(const ClickPattern& pattern)
{
    clicks_ = pattern;
    clicksTimed_ = handle_ != 0 && service_ && service_->startClicks(handle_, pattern);
}

void MidiOut::StopClicks()
{
    if (clicksTimed_)
        service_->stopClicks(handle_);
    clicks_.reset();
    clicksTimed_ = false;
}

void MidiOut::CloseMidiOut()
{
    if (handle_ == 0)
        return;
    const int result = service_ ? service_->close(handle_) : MidiResult::InvalidHandle;
    if (result != MidiResult::Ok)
        MidiOutError(std::int16_t(result));
    handle_ = 0;
    clicksTimed_ = false;  // the service ended them with the handle
}

void MidiOut::SendShortMsg(std::int16_t status, std::int16_t data1, std::int16_t data2)
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
    const auto word = std::uint32_t(std::int32_t(packed));
    // Counted as sent whether or not the device took it, as the keyboards
    // always counted their own notes.
    sounding_.track(DecodeShortMessage(word));
    const int result = service_ ? service_->sendShortMsg(handle_, word) : MidiResult::InvalidHandle;
    if (result != MidiResult::Ok)
        MidiOutError(std::int16_t(result));
}

bool MidiOut::Sounding(int channel, int note) const
{
    return midi::IsChannel(channel) && midi::IsDataByte(note) && sounding_.sounding(channel, note);
}

void MidiOut::NoteOn(int channel, int note, int velocity)
{
    if (midi::IsChannel(channel) && midi::IsDataByte(note) && midi::IsDataByte(velocity))
        SendShortMsg(std::int16_t(kNoteOn + channel), std::int16_t(note), std::int16_t(velocity));
}

void MidiOut::NoteOff(int channel, int note)
{
    if (midi::IsChannel(channel) && midi::IsDataByte(note))
        SendShortMsg(std::int16_t(kNoteOff + channel), std::int16_t(note), 0);  // release velocity is always 0
}

void MidiOut::ControlChange(int channel, int controller, int value)
{
    if (midi::IsChannel(channel) && midi::IsDataByte(controller) && midi::IsDataByte(value))
        SendShortMsg(std::int16_t(kControlChange + channel), std::int16_t(controller), std::int16_t(value));
}

void MidiOut::ProgramChange(int channel, int bank, int program)
{
    ControlChange(channel, kBankSelect, bank);
    if (midi::IsChannel(channel) && midi::IsDataByte(program))
        SendShortMsg(std::int16_t(kProgramChange + channel), std::int16_t(program), 0);
}
