#pragma once
// A MIDI input port of the system (a controller keyboard, through the ALSA
// sequencer or JACK, or WinMM on Windows). Its notes are handed on on the
// thread the input lives on; the MIDI system calls back on a thread of its own.
#include "midi/midiinparser.h"
#include "midi/services/midiport.h"

#include <QObject>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MidiInput : public QObject {
    Q_OBJECT
public:
    explicit MidiInput(QObject* parent = nullptr);
    ~MidiInput() override;

    // The input ports present now, in the order --midi-in numbers them.
    static std::vector<MidiPort> Ports();

    // Opens the port that `wanted` names (a number or part of a name), closing
    // the one open before. False, with a one-line reason, when there is none.
    bool open(const std::string& wanted, std::string& error);
    void close();
    bool isOpen() const { return bool(in_); }
    const std::string& portName() const { return name_; }

    // What arrived, as bytes off the wire, on the input's own thread (tests).
    void deliver(const std::vector<unsigned char>& bytes);
    // The same from the MIDI system's thread: the bytes go on to the input's.
    void arrivedOnItsThread(std::vector<unsigned char> bytes);

signals:
    void note(bool on, int channel, int note, int velocity);
    void pedal(bool down, int channel);

private:
    // The open port of the platform's MIDI system.
    struct Device;

    // On the input's thread: what the MIDI system's thread has queued.
    Q_INVOKABLE void takeArrived();

    std::mutex arrivedLock_;
    std::vector<std::vector<unsigned char>> arrived_;  // under arrivedLock_

    std::unique_ptr<Device> in_;
    std::string name_;
    bool failed_ = false;
    MidiInParser parser_;
};
