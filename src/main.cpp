// Sonarel: reads the command line, then either runs one of the song tools
// (export, render, dump) or opens the keyboard window.
#include "cli/commandline.h"
#include "cli/platform/arguments.h"
#include "cli/platform/console.h"
#include "cli/midiservices.h"
#include "cli/songtools.h"
#include "midi/midiout.h"
#include "midi/services/combinedservice.h"
#include "midi/services/midiinput.h"
#include "midi/services/synthservice.h"
#include "performance/capture.h"
#include "window/form2.h"
#include "window/lessonrun.h"
#include "window/platform/quitsignals.h"
#include "window/portchooser.h"
#include "window/singleinstance.h"
#include "window/songcommands.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

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

// Save's two exports besides the song copy.
void offerExports(SongCommands& commands, const std::string& soundfont)
{
    commands.exportMidi = [](const QString& song, const QString& target) {
        std::string error;
        return performance::ExportMidi(song.toStdString(), target.toStdString(), error);
    };
    // Audio is rendered by the built-in synthesizer: where there is none
    // (Windows), Save offers no WAV.
    if (!SynthService::Available())
        return;
    commands.exportWav = [soundfont](const QString& song, const QString& target) {
        std::string error;
        return performance::RenderSong(song.toStdString(), target.toStdString(), soundfont, error);
    };
}

// The ways of playing kept from the last run, with this run's command line
// over them; read once the window shows. What the user changes in the menu
// is kept, with the ports in use.
void keepChoices(Form2& form, ServicePortChooser& ports, const CommandLine& command)
{
    const QString path = ChoicesPath();
    PlayingChoices kept = LoadChoices(path);
    PlayingChoices choices = kept;
    choices.holdLower = choices.holdLower || command.hold;
    choices.holdUpper = choices.holdUpper || command.hold;
    if (!command.keys.empty())
        choices.pianoKeys = command.keys == "piano";
    choices.playAlong = choices.playAlong || command.playAlong;
    form.setChoices(choices);
    if (command.midi.midiOut.empty())
        ports.restore(kept.midiOut, command.midi.midiIn.empty() ? kept.midiIn : QString());
    form.choicesChanged = [&ports, path](PlayingChoices changed) {
        changed.midiOut = ports.outputName();
        changed.midiIn = ports.inputName();
        SaveChoices(path, changed);
    };
}

}  // namespace

int main(int argc, char** argv)
{
    UseStartingConsole();
    CommandLine command;
    std::string error;
    if (!ParseCommandLine(CommandLineArguments(argc, argv), command, error)) {
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

    std::unique_ptr<CombinedService> service = CreateMidiService(midi, true);
    // After the service, so that it is closed before the service goes.
    MidiOut port(service.get());
    options.port = &port;
    LogMidiFailures();
    if (!midi.trace.empty() && !port.SetTrace(midi.trace))
        std::fprintf(stderr, "sonarel: cannot write the MIDI trace to %s\n", midi.trace.c_str());

    int status = 0;
    {
        // The song named on the command line plays once the kept choices are
        // in force (边听边弹 among them), after the window shows.
        const QString startSong = std::exchange(options.songArgument, QString());
        Form2 form(options);
        offerExports(form.songCommands(), midi.soundfont);
        // A controller plays the keyboards; one that is missing leaves them to
        // the computer keyboard and says so once.
        MidiInput input;
        QObject::connect(&input, &MidiInput::note, &form, &Form2::MidiIn_Note);
        QObject::connect(&input, &MidiInput::pedal, &form, &Form2::MidiIn_Pedal);
        form.setLiveVelocity(midi.midiInVelocity);
        if (!midi.midiIn.empty() && !input.open(midi.midiIn, error))
            std::fprintf(stderr, "sonarel: %s\n", error.c_str());
        // The right-click menu's ports, and the lamp that follows the sound.
        ServicePortChooser ports(*service, input, form.lowerKeyboard(), form.upperKeyboard(),
                                 [&form](SoundLamp::State state, const QString& why) { form.setSoundState(state, why); });
        form.setPortChooser(&ports);

        if (QScreen* screen = QGuiApplication::primaryScreen())
            form.move(screen->availableGeometry().center() - form.rect().center());
        // A logout or `kill` closes the window as its close button does.
        QuitOnTerminationSignals(&form, [&form] { form.close(); });
        QObject::connect(&instance, &SingleInstance::songHanded, &form, &Form2::playHandedSong);
        form.Load();
        ports.showSound();
        form.show();
        form.activateWindow();
        // The sound comes up once the window is there, so that loading the
        // soundfont does not take the processor from the window's start.
        QTimer::singleShot(0, &app, [&service] {
            if (SynthService* synth = service->synth())
                synth->start();
        });
        // The file and message dialogs speak Chinese like the rest of the
        // window; read once the window shows, since only a dialog needs it.
        QTimer::singleShot(0, &app, [] { Co::UseChinese(); });
        QTimer::singleShot(0, &form, [&form, &ports, &command, &startSong] {
            keepChoices(form, ports, command);
            if (!startSong.isEmpty())
                form.songCommands().playSongArgument(startSong);
            // The lesson takes the song that opened; a song that could not
            // be opened has said so, and there is nothing to learn.
            if (!command.lessonPart.empty() && !startSong.isEmpty() &&
                form.songCommands().shownSong() != form.songCommands().scratchPath())
                form.lesson().start(form.songCommands().shownSong(), command.lessonPart == "上"   ? performance::LessonPart::Upper
                                                                     : command.lessonPart == "下" ? performance::LessonPart::Lower
                                                                                                  : performance::LessonPart::Both);
        });
        status = app.exec();
    }
    port.CloseMidiOut();
    return status;
}
