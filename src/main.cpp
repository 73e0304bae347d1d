// Sonarel: reads the command line, then either runs one of the song tools
// (export, render, dump) or opens the keyboard window.
#include "cli/commandline.h"
#include "cli/songtools.h"
#include "midi/midiout.h"
#include "midi/midiservice.h"
#include "songs/export/songexport.h"
#include "window/form2.h"
#include "window/platform/quitsignals.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

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
    case CommandLine::Action::Window:
        break;
    }
    const MidiOptions& midi = command.midi;
    const std::vector<std::string>& rest = command.operands;

    int qtArgc = ToolkitArgc(argc, argv);
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonarel"));
    QApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));

    std::unique_ptr<MidiService> service = CreateMidiService(midi);
    MidiOut::SetService(service.get());
    if (!midi.trace.empty() && !MidiOut::SetTrace(midi.trace))
        std::fprintf(stderr, "sonarel: cannot write the MIDI trace to %s\n", midi.trace.c_str());

    Form2Options options;
    // The song argument is the text after the program name, as one path.
    for (const std::string& a : rest)
        options.songArgument += (options.songArgument.isEmpty() ? "" : " ") + QString::fromStdString(a);
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
        if (QScreen* screen = QGuiApplication::primaryScreen())
            form.move(screen->availableGeometry().center() - form.rect().center());
        // A logout or `kill` closes the window as its close button does.
        QuitOnTerminationSignals(&form, [&form] { form.close(); });
        form.Load();
        form.show();
        form.activateWindow();
        status = app.exec();
    }
    MidiOut::CloseMidiOut();
    MidiOut::SetTrace("");
    return status;
}
