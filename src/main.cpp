// Sonarel: reads the command line, then either runs one of the song tools
// (export, render, dump) or opens the keyboard window.
#include "cli/commandline.h"
#include "cli/songtools.h"
#include "midi/midiout.h"
#include "midi/midiservice.h"
#include "midi/services/combinedservice.h"
#include "midi/services/midiinput.h"
#include "midi/services/portservice.h"
#include "midi/services/synthservice.h"
#include "songs/export/songexport.h"
#include "window/form2.h"
#include "window/platform/quitsignals.h"
#include "window/singleinstance.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

QStringList names(const std::vector<rtmidisystems::Port>& ports)
{
    QStringList list;
    for (const auto& p : ports)
        list << QString::fromStdString(p.name);
    return list;
}

// What the lamp shows of the built-in synthesizer's sound.
void showSynthStatus(Form2& form, const SynthStatus& s)
{
    using Why = SynthStatus::Why;
    switch (s.state) {
    case SynthStatus::State::Starting:
        form.setSoundState(SoundLamp::State::Starting, QStringLiteral("正在打开声音输出…"));
        return;
    case SynthStatus::State::Playing:
        form.setSoundState(SoundLamp::State::Playing,
                           QStringLiteral("声音输出：内置合成器 → %1").arg(QString::fromStdString(s.driver)));
        return;
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
    form.setSoundState(SoundLamp::State::Silent, why);
}

// The lamp follows the synthesizer, whose thread tells of each change; the
// window hears of it on its own thread.
void wireSoundLamp(Form2& form, CombinedService* combined)
{
    if (!combined || !combined->synth())
        return;
    if (combined->defaultIsPort())
        form.setSoundState(SoundLamp::State::Playing, QStringLiteral("声音输出：MIDI 端口"));
    combined->synth()->setStatusListener([window = QPointer<Form2>(&form), combined](const SynthStatus& s) {
        QMetaObject::invokeMethod(qApp, [window, combined, s] {
            if (window && !combined->defaultIsPort())
                showSynthStatus(*window, s);
        }, Qt::QueuedConnection);
    });
}

// The right-click menu: the ports present when it opens, and what choosing
// one does, as the command line would have done it.
void wirePortMenu(Form2& form, CombinedService* combined, MidiInput& input)
{
    if (!combined || !combined->ports())
        return;
    PortService* ports = combined->ports();
    auto outputs = std::make_shared<std::vector<PortService::Port>>();
    form.outputPorts = [ports, combined, outputs] {
        *outputs = ports->refresh();
        Form2::PortChoice choice;
        for (const auto& p : *outputs)
            choice.ports << QString::fromStdString(p.name);
        choice.current = combined->defaultIsPort() ? ports->findPort(ports->defaultPort()) : -1;
        return choice;
    };
    form.chooseOutput = [&form, combined, outputs](int index) {
        combined->setDefault(index < 0 || index >= int(outputs->size()) ? std::string() : (*outputs)[std::size_t(index)].name);
        std::int16_t device = -1;
        MidiOut::FindMidiDevice(device);
        MidiOut::OpenMidiOut(device);  // the old port is closed first
        form.PortReopened();
        if (combined->defaultIsPort()) {
            form.setSoundState(SoundLamp::State::Playing, QStringLiteral("声音输出：MIDI 端口"));
        } else if (SynthService* synth = combined->synth()) {
            // Chosen again: a lost or missing sound server is looked for now.
            synth->reconnectNow();
            showSynthStatus(form, synth->status());
        }
    };
    auto inputs = std::make_shared<std::vector<rtmidisystems::Port>>();
    form.inputPorts = [&input, inputs] {
        *inputs = MidiInput::Ports();
        Form2::PortChoice choice;
        choice.ports = names(*inputs);
        choice.current = input.isOpen() ? int(choice.ports.indexOf(QString::fromStdString(input.portName()))) : -1;
        return choice;
    };
    form.chooseInput = [&input, inputs](int index) {
        if (index < 0 || index >= int(inputs->size())) {
            input.close();
            return;
        }
        std::string error;
        if (!input.open((*inputs)[std::size_t(index)].name, error))
            std::fprintf(stderr, "sonarel: %s\n", error.c_str());
    };
}

bool hasDesktop()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The desktop session: the display the window goes to.
QString desktopName()
{
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    return wayland.isEmpty() ? qEnvironmentVariable("DISPLAY") : wayland;
}

// The running keyboard has another working folder: it gets the whole path.
QString absoluteSong(QString song)
{
    if (song.size() >= 2 && song.startsWith(QLatin1Char('"')) && song.endsWith(QLatin1Char('"')))
        song = song.mid(1, song.size() - 2);
    return song.isEmpty() ? song : QFileInfo(song).absoluteFilePath();
}

}  // namespace

int main(int argc, char** argv)
{
    CommandLine command;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), command, error)) {
        std::fprintf(stderr, "sonarel: %s\n", error.c_str());
        return 1;
    }
    switch (command.action) {
    case CommandLine::Action::Help:
        PrintHelp(std::cout);
        return 0;
    case CommandLine::Action::Version:
        std::cout << "sonarel " << kProgramVersion << "\n";
        return 0;
    case CommandLine::Action::Tool:
        return RunSongTool(argc, argv, command);
    case CommandLine::Action::ListPorts:
        return ListMidiPorts();
    case CommandLine::Action::Window:
        break;
    }
    const MidiOptions& midi = command.midi;
    const std::vector<std::string>& rest = command.operands;

    int qtArgc = ToolkitArgc(argc, argv);
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonarel"));
    QApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));

    Form2Options options;
    // The song argument is the text after the program name, as one path.
    for (const std::string& a : rest)
        options.songArgument += (options.songArgument.isEmpty() ? "" : " ") + QString::fromStdString(a);

    // One keyboard per desktop: a second start hands its song over and ends.
    // A program with no desktop (offscreen) is on its own.
    SingleInstance instance(desktopName());
    const bool onDesktop = !command.newInstance && hasDesktop();
    if (onDesktop && instance.start(absoluteSong(options.songArgument)) == SingleInstance::Outcome::HandedOver)
        return 0;

    std::unique_ptr<MidiService> service = CreateMidiService(midi, true);
    MidiOut::SetService(service.get());
    if (!midi.trace.empty() && !MidiOut::SetTrace(midi.trace))
        std::fprintf(stderr, "sonarel: cannot write the MIDI trace to %s\n", midi.trace.c_str());

    int status = 0;
    {
        Form2 form(options);
        form.exportMidi = [](const QString& song, const QString& target) {
            std::string error;
            return songs::ExportMidi(song.toStdString(), target.toStdString(), error);
        };
        form.exportWav = [soundfont = midi.soundfont](const QString& song, const QString& target) {
            std::string error;
            return songs::RenderSong(song.toStdString(), target.toStdString(), soundfont, error);
        };
        // A controller plays the keyboards; one that is missing leaves them to
        // the computer keyboard and says so once.
        MidiInput input;
        QObject::connect(&input, &MidiInput::note, &form, &Form2::MidiIn_Note);
        form.liveVelocity = midi.midiInVelocity;
        if (!midi.midiIn.empty() && !input.open(midi.midiIn, error))
            std::fprintf(stderr, "sonarel: %s\n", error.c_str());
        wirePortMenu(form, dynamic_cast<CombinedService*>(service.get()), input);
        wireSoundLamp(form, dynamic_cast<CombinedService*>(service.get()));

        if (QScreen* screen = QGuiApplication::primaryScreen())
            form.move(screen->availableGeometry().center() - form.rect().center());
        // A logout or `kill` closes the window as its close button does.
        QuitOnTerminationSignals(&form, [&form] { form.close(); });
        QObject::connect(&instance, &SingleInstance::songHanded, &form, &Form2::playHandedSong);
        form.Load();
        form.show();
        form.activateWindow();
        // The file and message dialogs speak Chinese like the rest of the
        // window; read once the window shows, since only a dialog needs it.
        // The sound comes up once the window is there, so that loading the
        // soundfont does not take the processor from the window's start.
        QTimer::singleShot(0, &app, [&service] {
            if (auto* combined = dynamic_cast<CombinedService*>(service.get()); combined && combined->synth())
                combined->synth()->start();
        });
        QTimer::singleShot(0, &app, [&app] {
            auto* translator = new QTranslator(&app);
            if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                QCoreApplication::installTranslator(translator);
        });
        status = app.exec();
    }
    MidiOut::CloseMidiOut();
    MidiOut::SetTrace("");
    return status;
}
