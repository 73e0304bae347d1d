#include "window/portchooser.h"

#include "instrument/instrument.h"
#include "midi/midiout.h"
#include "midi/services/combinedservice.h"
#include "midi/services/midiinput.h"
#include "midi/services/portservice.h"
#include "midi/services/synthservice.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>

namespace {

const QString kPortPlaying = QStringLiteral("声音输出：MIDI 端口");
const QString kPortSilent = QStringLiteral("没有声音：MIDI 输出打不开（这台电脑可能没有 MIDI 输出设备）");

// A system port plays when it opened; one that did not leaves the keyboard silent.
std::pair<SoundLamp::State, QString> portLamp(const MidiOut* port)
{
    return port && port->MidiOutHandle() != 0 ? std::pair{SoundLamp::State::Playing, kPortPlaying}
                                       : std::pair{SoundLamp::State::Silent, kPortSilent};
}

}  // namespace

std::pair<SoundLamp::State, QString> LampOf(const SynthStatus& s)
{
    using Why = SynthStatus::Why;
    switch (s.state) {
    case SynthStatus::State::Starting:
        return {SoundLamp::State::Starting, QStringLiteral("正在打开声音输出…")};
    case SynthStatus::State::Playing:
        return {SoundLamp::State::Playing,
                QStringLiteral("声音输出：内置合成器 → %1").arg(QString::fromStdString(s.driver))};
    case SynthStatus::State::Silent:
        break;
    }
    QString why;
    switch (s.why) {
    case Why::NoSoundfont:
        why = QStringLiteral("没有声音：找不到音色库（请安装 fluid-soundfont-gm）");
        break;
    case Why::ServerSilent:
        why = QStringLiteral("没有声音输出：声音服务器没有响应");
        break;
    case Why::ServerLost:
        why = QStringLiteral("没有声音输出：声音服务器断开了");
        break;
    case Why::NoOutput:
        why = QStringLiteral("没有声音输出：无法打开所选的声音输出");
        break;
    default:
        why = QStringLiteral("没有声音输出：找不到声音服务器");
        break;
    }
    if (s.retrying)
        why += QStringLiteral("。正在重试，声音服务器一出现就有声音。");
    return {SoundLamp::State::Silent, why};
}

ServicePortChooser::ServicePortChooser(CombinedService& service, MidiInput& input, MIDi& lower, MIDi& upper,
                                       std::function<void(SoundLamp::State, const QString&)> lamp)
    : service_(service), input_(input), lower_(lower), upper_(upper), lamp_(std::move(lamp))
{
    SynthService* synth = service_.synth();
    if (!synth)
        return;
    // The synthesizer's thread tells of each change; the lamp hears of it on
    // the window's thread, while this chooser lives.
    synth->setStatusListener([this, alive = std::weak_ptr<bool>(alive_)](const SynthStatus& s) {
        QMetaObject::invokeMethod(qApp, [this, alive, s] {
            if (!alive.expired() && !service_.defaultIsPort()) {
                const auto [state, why] = LampOf(s);
                lamp_(state, why);
            }
        }, Qt::QueuedConnection);
    });
}

ServicePortChooser::~ServicePortChooser()
{
    if (SynthService* synth = service_.synth())
        synth->setStatusListener({});
}

PortChooser::Choice ServicePortChooser::outputs()
{
    Choice choice;
    outputs_.clear();
    PortService* ports = service_.ports();
    if (!ports)
        return choice;
    for (const auto& p : ports->refresh()) {
        outputs_.push_back(p.name);
        choice.ports << QString::fromStdString(p.name);
    }
    choice.current = service_.defaultIsPort() ? ports->findPort(ports->defaultPort()) : -1;
    return choice;
}

void ServicePortChooser::chooseOutput(int index)
{
    useOutput(index < 0 || index >= int(outputs_.size()) ? std::string() : outputs_[std::size_t(index)]);
}

void ServicePortChooser::useOutput(const std::string& name)
{
    service_.setDefault(name);
    if (MidiOut* port = lower_.port())
        port->OpenMidiOut(port->FindMidiDevice().value_or(-1));  // the old port is closed first
    // A port opened anew knows no programs: each keyboard sends its own, as
    // at start-up.
    upper_.SetInstrument(upper_.Instrument());
    lower_.SetInstrument(lower_.Instrument());
    if (!service_.defaultIsPort())
        if (SynthService* synth = service_.synth())
            synth->reconnectNow();  // chosen again: a lost or missing server is looked for now
    showSound();
}

void ServicePortChooser::showSound()
{
    if (service_.defaultIsPort()) {
        const auto [state, why] = portLamp(lower_.port());
        lamp_(state, why);
    } else if (SynthService* synth = service_.synth()) {
        const auto [state, why] = LampOf(synth->status());
        lamp_(state, why);
    }
}

QString ServicePortChooser::outputName() const
{
    PortService* ports = service_.ports();
    return service_.defaultIsPort() && ports ? QString::fromStdString(ports->defaultPort()) : QString();
}

QString ServicePortChooser::inputName() const
{
    return input_.isOpen() ? QString::fromStdString(input_.portName()) : QString();
}

void ServicePortChooser::restore(const QString& output, const QString& input)
{
    if (!output.isEmpty()) {
        PortService* ports = service_.ports();
        if (ports && (ports->refresh(), ports->findPort(output.toStdString()) >= 0))
            useOutput(output.toStdString());
    }
    std::string error;
    if (!input.isEmpty() && !input_.isOpen())
        input_.open(input.toStdString(), error);
}

PortChooser::Choice ServicePortChooser::inputs()
{
    Choice choice;
    inputs_.clear();
    for (const auto& p : MidiInput::Ports()) {
        inputs_.push_back(p.name);
        choice.ports << QString::fromStdString(p.name);
    }
    choice.current = input_.isOpen() ? int(choice.ports.indexOf(QString::fromStdString(input_.portName()))) : -1;
    return choice;
}

void ServicePortChooser::chooseInput(int index)
{
    if (index < 0 || index >= int(inputs_.size())) {
        input_.close();
        return;
    }
    std::string error;
    if (!input_.open(inputs_[std::size_t(index)], error))
        std::fprintf(stderr, "sonarel: %s\n", error.c_str());
}
