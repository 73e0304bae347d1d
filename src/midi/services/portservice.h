#pragma once
#include "midi/midiservice.h"
#include "midi/services/midiport.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class RtMidiOut;

// The system's MIDI output ports (ALSA sequencer, then JACK) as devices
// 0..n-1. The default device (-1) is the port that `defaultPort` names, if
// any: a device number, or a part of a port's name. A machine without a MIDI
// system simply has no devices; nothing here throws.
class PortService : public MidiService {
public:
    using Port = MidiPort;

    explicit PortService(std::string defaultPort = {});
    ~PortService() override;
    PortService(const PortService&) = delete;
    PortService& operator=(const PortService&) = delete;

    int deviceAnswers(int deviceId) override;
    int deviceCount() override;
    int open(int deviceId, std::uint32_t& handle) override;
    int close(std::uint32_t handle) override;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override;

    // Asks the MIDI systems again and returns the ports, in device order.
    const std::vector<Port>& refresh();
    const std::vector<Port>& ports() const { return ports_; }
    // The device number that `name` names in the current list, or -1: a
    // number is a device number, anything else the first port whose name
    // contains it (case does not matter).
    int findPort(const std::string& name) const;
    const std::string& defaultPort() const { return defaultPort_; }
    void setDefaultPort(std::string name) { defaultPort_ = std::move(name); }

private:
    struct OpenPort;
    int resolve(int deviceId, bool refreshFirst);

    std::string defaultPort_;
    std::vector<Port> ports_;
    bool listed_ = false;
    std::map<std::uint32_t, std::unique_ptr<OpenPort>> open_;
    std::uint32_t nextHandle_ = 1;
    std::string lastMissing_;
};
