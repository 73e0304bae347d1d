#include "cli/songtools.h"

#include "notation/scorefile.h"
#include "notation/songscore.h"
#include "performance/capture.h"
#include "songs/dump.h"
#include "songs/midiimport.h"
#include "songs/paths.h"

#include <QApplication>

#include <cstdio>
#include <iostream>

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "sonarel: %s\n", message.c_str());
    return 1;
}

}  // namespace

// The song tools build keyboards that nobody sees: they need no display.
int RunSongTool(int argc, char** argv, const CommandLine& command)
{
    const std::string& tool = command.tool;
    const std::vector<std::string>& args = command.operands;
    const MidiOptions& midi = command.midi;
    if (tool == "--dump") {
        if (args.size() != 1)
            return fail("--dump takes one song file (see --help)");
        std::string error;
        if (!songs::DumpSong(args[0], std::cout, error))
            return fail(error.empty() ? "cannot write the listing" : error);
        return 0;
    }
    if (args.size() != 2)
        return fail(tool + (tool == "--import-midi"     ? " takes a MIDI file and a song file"
                            : tool == "--import-jianpu" ? " takes a jianpu text and a song file"
                                                        : " takes a song file and an output file") +
                    " (see --help)");
    // Nothing is written over the input, nor over what is not a plain file.
    if (const std::string why = songs::WhyNotTarget(args[0], args[1]); !why.empty())
        return fail(why);
    if (tool == "--import-midi") {
        songs::ImportedSong song;
        std::string error;
        if (!songs::ImportMidiFile(args[0], args[1], song, error))
            return fail(error);
        // What the song could not keep is said; a song of the file's start
        // only is a status of its own.
        for (const std::string& notice : song.notices)
            std::fprintf(stderr, "sonarel: %s\n", notice.c_str());
        return song.partial ? kWrittenInPart : 0;
    }
    if (tool == "--import-jianpu") {
        songs::ImportedSong song;
        std::string error;
        std::vector<std::string> notices;
        if (!notation::ImportJianpuFile(args[0], args[1], song, error, notices))
            return fail(error);
        for (const std::string& notice : notices)
            std::fprintf(stderr, "sonarel: %s\n", notice.c_str());
        return song.partial ? kWrittenInPart : 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tools answer in one line; the toolkit's own chatter (a missing
    // runtime folder and the like) is no business of the user's here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "sonarel: %s\n", qPrintable(message));
    });
    int qtArgc = ToolkitArgc(argc, argv);
    QApplication app(qtArgc, argv);
    std::string error;
    bool ok, partial = false;
    if (tool == "--export-midi") {
        ok = performance::ExportMidi(args[0], args[1], error);
    } else if (tool == "--jianpu") {
        notation::Score score;
        std::vector<std::string> notices;
        const std::optional<int> tempo = command.tempo > 0 ? std::optional<int>(command.tempo) : std::nullopt;
        ok = notation::ScoreOfFile(args[0], tempo, score, error, notices, &partial) &&
             notation::WriteScoreFile(score, args[1], error);
        for (const std::string& notice : notices)
            std::fprintf(stderr, "sonarel: %s\n", notice.c_str());
    } else {
        bool progressShown = false;
        ok = performance::RenderSong(args[0], args[1], midi.soundfont, error, [&](double done) {
            std::fprintf(stderr, "\rsonarel: rendering %3d%%", int(done * 100));
            progressShown = true;
        });
        if (progressShown)
            std::fprintf(stderr, "\n");
    }
    return !ok ? fail(error) : partial ? kWrittenInPart : 0;
}

