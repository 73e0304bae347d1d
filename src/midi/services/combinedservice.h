#pragma once
#include "midi/midiservice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class SynthService;
class PortService;

// What the program plays through: the default device (-1) is the built-in
// synthesizer, or the port the user named, and 0..n-1 are the system's MIDI
// output ports. Either part may be missing (nullptr).
class CombinedService : public MidiService {
public:
    CombinedService(std::unique_ptr<SynthService> synth, std::unique_ptr<PortService> ports, bool defaultIsPort);
    ~CombinedService() override;

    int deviceAnswers(int deviceId) override;
    int deviceCount() override;
    int open(int deviceId, std::uint32_t& handle) override;
    int close(std::uint32_t handle) override;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override;
    bool startClicks(std::uint32_t handle, const ClickPattern& pattern) override;
    void stopClicks(std::uint32_t handle) override;

    // What a device stands for, for logs and tests: "synthesizer", "port NAME"
    // or "none".
    std::string describe(int deviceId);

    SynthService* synth() const { return synth_.get(); }
    PortService* ports() const { return ports_.get(); }
    bool defaultIsPort() const { return defaultIsPort_; }
    // The default device becomes that port (a number or part of a name), or
    // the synthesizer for an empty name; the next open takes it.
    void setDefault(const std::string& port);

private:
    struct Route {
        MidiService* service;
        std::uint32_t handle;
    };
    MidiService* serviceFor(int deviceId) const;

    std::unique_ptr<SynthService> synth_;
    std::unique_ptr<PortService> ports_;
    bool defaultIsPort_;
    // Our handles stand for the parts' handles, which may coincide.
    std::map<std::uint32_t, Route> routes_;
    std::uint32_t nextHandle_ = 1;
};
