#pragma once
#include <cstdint>

// The metronome's beat as a service that times clicks itself plays it:
// click n sounds beatUs * n after the first, on `channel`, the first of every
// `beats` accented.
struct ClickPattern {
    std::int64_t beatUs = 500000;
    int beats = 4;
    int channel = 9;
    int accentNote = 76, accentVelocity = 127;
    int beatNote = 77, beatVelocity = 80;
};

// The five things the output port needs from a platform MIDI system. The
// default device (-1) and the numbered devices 0..n-1 are the service's to
// interpret; a result of 0 means success, anything else is a failure code
// that MidiOut swallows.
class MidiService {
public:
    virtual ~MidiService() = default;

    virtual int deviceAnswers(int deviceId) = 0;   // 0 = the device exists and answers
    virtual int deviceCount() = 0;
    virtual int open(int deviceId, std::uint32_t& handle) = 0;  // 0 and a non-zero handle on success
    virtual int close(std::uint32_t handle) = 0;
    virtual int sendShortMsg(std::uint32_t handle, std::uint32_t message) = 0;

    // Clicks timed on the service's own sound clock (the built-in
    // synthesizer's samples), each at its place however late the caller's
    // thread runs; the first sounds at once, and a new pattern starts its bar
    // again. false: the service cannot, and the caller times them itself.
    // They are no messages of the port: nothing that watches its notes sees them.
    virtual bool startClicks(std::uint32_t handle, const ClickPattern& pattern)
    {
        (void)handle;
        (void)pattern;
        return false;
    }
    virtual void stopClicks(std::uint32_t handle) { (void)handle; }
};

// Result codes shared by the services, modelled on the platform's MMSYSERR values.
namespace MidiResult {
constexpr int Ok = 0;
constexpr int Error = 1;
constexpr int BadDeviceId = 2;
constexpr int InvalidHandle = 5;
constexpr int NoDriver = 6;
}
