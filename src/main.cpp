// Sonarel: picks the MIDI service from the command line, then either runs one
// of the song tools (export, render, dump) or opens the keyboard window.
#include "midi/midioptions.h"
#include "midi/midiout.h"
#include "midi/midiservice.h"
#include "songs/dump.h"
#include "songs/export/songexport.h"
#include "window/form2.h"
#include "window/platform/quitsignals.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const kVersion = "1.0.0";

void printHelp()
{
    std::cout << "Usage: sonarel [OPTION]... [SONG.hbk]\n"
                 "A desktop electronic keyboard: two 65-key keyboards played from the computer\n"
                 "keyboard and the mouse. A song named on the command line is played at start-up.\n"
                 "\n"
                 "Song tools (no window):\n"
                 "  --export-midi SONG.hbk OUT.mid  write the song as a Standard MIDI File\n"
                 "  --render SONG.hbk OUT.wav       render the song to 44.1 kHz 16-bit stereo audio\n"
                 "  --dump SONG.hbk                 list the song's records and what they mean\n"
                 "\n"
                 "Sound:\n"
              << MidiOptionsHelp()
              << "\n"
                 "  --help                          show this help and exit\n"
                 "  --version                       show the version and exit\n";
}

// The toolkit reads its own options (-platform, -style...) only before "--":
// a song named like one of them stays a song.
int toolkitArgc(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--")
            return i;
    return argc;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "sonarel: %s\n", message.c_str());
    return 1;
}

// The song tools build keyboards that nobody sees: they need no display.
int runTool(int argc, char** argv, const std::string& tool, const std::vector<std::string>& args,
            const MidiOptions& midi)
{
    if (tool == "--dump") {
        if (args.size() != 1)
            return fail("--dump takes one song file (see --help)");
        bool ok = false;
        const std::string text = songs::DumpSong(args[0], ok);
        if (!ok)
            return fail(text.empty() ? "cannot read " + args[0] : text);
        std::cout << text;
        return 0;
    }
    if (args.size() != 2)
        return fail(tool + " takes a song file and an output file (see --help)");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tools answer in one line; the toolkit's own chatter (a missing
    // runtime folder and the like) is no business of the user's here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "sonarel: %s\n", qPrintable(message));
    });
    int qtArgc = toolkitArgc(argc, argv);
    QApplication app(qtArgc, argv);
    std::string error;
    bool ok;
    if (tool == "--export-midi") {
        ok = songs::ExportMidi(args[0], args[1], error);
    } else {
        bool progressShown = false;
        ok = songs::RenderSong(args[0], args[1], midi.soundfont, error, [&](double done) {
            std::fprintf(stderr, "\rsonarel: rendering %3d%%", int(done * 100));
            progressShown = true;
        });
        if (progressShown)
            std::fprintf(stderr, "\n");
    }
    return ok ? 0 : fail(error);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    MidiOptions midi;
    std::string error;
    if (!TakeMidiOptions(args, midi, &error))
        return fail(error);

    std::string tool;
    std::vector<std::string> rest;
    bool optionsEnd = false;
    for (const std::string& a : args) {
        if (optionsEnd) {
            rest.push_back(a);  // after "--": a song whose name starts with "-" too
            continue;
        }
        if (a == "--") {
            optionsEnd = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            printHelp();
            return 0;
        }
        if (a == "--version") {
            std::cout << "sonarel " << kVersion << "\n";
            return 0;
        }
        if (a == "--export-midi" || a == "--render" || a == "--dump") {
            if (!tool.empty())
                return fail("only one of --export-midi, --render and --dump at a time");
            tool = a;
        } else if (a.size() > 1 && a[0] == '-') {
            return fail("unknown option " + a + " (see --help)");
        } else {
            rest.push_back(a);
        }
    }
    if (!tool.empty())
        return runTool(argc, argv, tool, rest, midi);

    int qtArgc = toolkitArgc(argc, argv);
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonarel"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));

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
