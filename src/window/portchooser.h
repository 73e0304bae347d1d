#pragma once
// The right-click menu's choice of MIDI ports. The window asks a PortChooser
// what to offer and hands it the user's choice; the one on the program's
// MIDI services re-opens the port and has each keyboard send its program
// again, and keeps the sound lamp in step with the built-in synthesizer.
#include "window/soundlamp.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class CombinedService;
class MIDi;
class MidiInput;
struct SynthStatus;

class PortChooser {
public:
    // The ports present now, and the index of the one in use: -1 for the
    // built-in synthesizer (outputs) or for none (inputs).
    struct Choice {
        QStringList ports;
        int current = -1;
    };
    virtual ~PortChooser() = default;
    virtual Choice outputs() = 0;
    virtual void chooseOutput(int index) = 0;  // an index of the last outputs(), or -1
    virtual Choice inputs() = 0;
    virtual void chooseInput(int index) = 0;   // an index of the last inputs(), or -1
};

// What the lamp shows of the built-in synthesizer, in the window's words.
std::pair<SoundLamp::State, QString> LampOf(const SynthStatus& status);

class ServicePortChooser : public PortChooser {
public:
    // `lamp` shows the sound's state (on the window's thread).
    ServicePortChooser(CombinedService& service, MidiInput& input, MIDi& lower, MIDi& upper,
                       std::function<void(SoundLamp::State, const QString&)> lamp);
    ~ServicePortChooser() override;

    Choice outputs() override;
    void chooseOutput(int index) override;
    Choice inputs() override;
    void chooseInput(int index) override;

    // The ports in use by name, to keep between runs (empty: the built-in
    // synthesizer, or no input), and the ones kept, taken again at start-up
    // where they are present (quietly: a controller may be unplugged).
    QString outputName() const;
    QString inputName() const;
    void restore(const QString& output, const QString& input);
    // The lamp shows what plays now: the keyboards have opened the port.
    void showSound();

private:
    void useOutput(const std::string& name);

    CombinedService& service_;
    MidiInput& input_;
    MIDi& lower_;
    MIDi& upper_;
    std::function<void(SoundLamp::State, const QString&)> lamp_;
    std::vector<std::string> outputs_, inputs_;  // the names last offered
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
