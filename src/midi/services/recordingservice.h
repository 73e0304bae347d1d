#pragma once
#include "midi/midiservice.h"

#include <cstdint>
#include <string>
#include <vector>

// A MIDI service that keeps every call, for tests and for rendering songs
// offline. It has the default device and `deviceCount` numbered devices; any
// of its answers can be made to fail.
class RecordingService : public MidiService {
public:
    struct Message {
        std::uint32_t handle;
        std::uint8_t status, data1, data2;
        std::int64_t time;  // the service's clock at the send (see setClock)
    };

    int deviceAnswers(int deviceId) override;
    int deviceCount() override;
    int open(int deviceId, std::uint32_t& handle) override;
    int close(std::uint32_t handle) override;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override;

    // Knobs for tests.
    int devices = 2;                 // numbered devices 0..devices-1
    bool mapperAnswers = true;       // does the default device answer?
    std::vector<int> answeringDevices;  // numbered devices that answer (empty: all)
    int openResult = 0;              // non-zero makes open fail
    int sendResult = 0;              // non-zero makes sends fail (also on a closed port)
    bool failOnClosedHandle = true;  // a send on handle 0 fails like the platform's

    // Everything that was asked of the service, in order.
    std::vector<std::string> calls;  // "answers -1", "count", "open -1", "close 1", "send"
    std::vector<Message> messages;   // accepted sends only
    std::vector<Message> attempts;   // every send, accepted or not

    void setClock(std::int64_t now) { clock_ = now; }
    void clear();
    // Short text of the accepted messages, e.g. "90 30 7F,80 30 00".
    std::string bytes() const;

private:
    std::uint32_t nextHandle_ = 1;
    std::uint32_t openHandle_ = 0;
    std::int64_t clock_ = 0;
};
