#pragma once
#include <cstdint>

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
};

// Result codes shared by the services, modelled on the platform's MMSYSERR values.
namespace MidiResult {
constexpr int Ok = 0;
constexpr int Error = 1;
constexpr int BadDeviceId = 2;
constexpr int InvalidHandle = 5;
constexpr int NoDriver = 6;
}
