#include "cli/commandline.h"

#include <charconv>
#include <ostream>
#include <string_view>

const char* const kProgramVersion = "1.0.0";

bool ParseCommandLine(std::vector<std::string> args, CommandLine& out, std::string& error)
{
    out = CommandLine{};
    if (!TakeMidiOptions(args, out.midi, &error))
        return false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded) {
            out.operands.push_back(a);  // after "--": a song whose name starts with "-" too
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            out.action = CommandLine::Action::Help;
            return true;
        } else if (a == "--new-instance") {
            out.newInstance = true;
        } else if (a == "--hold") {
            out.hold = true;
        } else if (a == "--play-along") {
            out.playAlong = true;
        } else if (a == "--keys" || a.rfind("--keys=", 0) == 0) {
            if (a == "--keys") {
                if (++i >= args.size()) {
                    error = "--keys needs piano or classic";
                    return false;
                }
                out.keys = args[i];
            } else {
                out.keys = a.substr(7);
            }
            if (out.keys != "piano" && out.keys != "classic") {
                error = "--keys needs piano or classic, got \"" + out.keys + "\"";
                return false;
            }
        } else if (a == "--lesson") {
            if (++i >= args.size() || (args[i] != "上" && args[i] != "下" && args[i] != "双手")) {
                error = "--lesson needs the part to play: 上, 下 or 双手";
                return false;
            }
            out.lessonPart = args[i];
        } else if (a == "--list-ports") {
            out.action = CommandLine::Action::ListPorts;
        } else if (a == "--version") {
            out.action = CommandLine::Action::Version;
            return true;
        } else if (a == "--tempo" || a.rfind("--tempo=", 0) == 0) {
            std::string value;
            if (a == "--tempo") {
                if (++i >= args.size()) {
                    error = "--tempo needs a number of quarter notes a minute";
                    return false;
                }
                value = args[i];
            } else {
                value = a.substr(8);
            }
            int tempo = 0;
            const auto r = std::from_chars(value.data(), value.data() + value.size(), tempo);
            if (r.ec != std::errc() || r.ptr != value.data() + value.size() || tempo < 20 || tempo > 400) {
                error = "--tempo needs a number of quarter notes a minute from 20 to 400, got \"" + value + "\"";
                return false;
            }
            out.tempo = tempo;
        } else if (a == "--export-midi" || a == "--render" || a == "--dump" || a == "--import-midi" ||
                   a == "--import-jianpu" || a == "--jianpu") {
            if (!out.tool.empty()) {
                error = "only one of --export-midi, --render, --dump, --import-midi, --import-jianpu and --jianpu at a time";
                return false;
            }
            out.tool = a;
            out.action = CommandLine::Action::Tool;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a + " (see --help)";
            return false;
        } else {
            out.operands.push_back(a);
        }
    }
    if (!out.lessonPart.empty() && out.operands.empty()) {
        error = "--lesson needs a song to learn";
        return false;
    }
    return true;
}

void PrintHelp(std::ostream& out)
{
    out << "Usage: sonarel [OPTION]... [--] [SONG.hbk | SONG.mid | SONG.txt]\n"
           "A desktop electronic keyboard: two 65-key keyboards played from the computer\n"
           "keyboard and the mouse. A song named on the command line is played at start-up,\n"
           "a MIDI file too (its two melodic parts with the most notes on the two keyboards),\n"
           "and a jianpu text (.txt, .jianpu; see below);\n"
           "after \"--\" every argument is part of the song's path.\n"
           "One keyboard runs per desktop: a second start hands its song to the running\n"
           "one, which plays it and comes to the front.\n"
           "  --new-instance                  open another keyboard all the same\n"
           "\n"
           "Ways of playing (each also in the right-click menu, where it is kept):\n"
           "  --hold                          a key sounds until it is released (both keyboards)\n"
           "  --keys piano|classic            piano: the lower keyboard's black keys on the row\n"
           "                                  above its white ones (Z S X D C ..., Q 2 W 3 E ...)\n"
           "  --play-along                    the keyboards stay playable while a song plays\n"
           "  --lesson 上|下|双手 SONG         learn the song's upper, lower or both parts (练习):\n"
           "                                  it waits at each of your notes until you strike it\n"
           "  The sustain pedal is Left Shift for the lower keyboard, Right Ctrl for the upper.\n"
           "\n"
           "Song tools (no window):\n"
           "  --export-midi SONG.hbk OUT.mid  write the song as a Standard MIDI File\n"
           "  --render SONG.hbk OUT.wav       render the song to 44.1 kHz 16-bit stereo audio\n"
           "  --dump SONG.hbk                 list the song's records and what they mean\n"
           "  --import-midi IN.mid OUT.hbk    make a song of a Standard MIDI File; the song\n"
           "                                  keeps note lengths and the pedal, no velocities\n"
           "  --import-jianpu IN.txt OUT.hbk  make a song of a jianpu text\n"
           "  --jianpu SONG OUT.txt|.pdf|.svg write a song, MIDI file or jianpu text as jianpu:\n"
           "                                  text, or a printable score\n"
           "  --tempo N                       the tempo --jianpu writes a song in (quarter notes\n"
           "                                  a minute); without it a text's or MIDI file's own,\n"
           "                                  or one estimated from the song's gaps\n"
           "  A song holds about 32,700 notes: of a longer file only the start is written,\n"
           "  stderr says how many notes, and the exit status is 2 (0 done, 1 failed).\n"
           "\n"
           "Jianpu text (UTF-8, or GBK): header lines, then notes; % starts a comment.\n"
           "  标题: 茉莉花   作者: 民歌   调: 1=D (1=C, 1=#F, 1=bB ...)   拍号: 3/4   速度: 90\n"
           "  (title: author: key: meter: tempo: too; or bare 1=D  3/4  \u2669=90 lines)\n"
           "  上: 3 5 6. 1'_ | 5 - 0 ||      the upper keyboard's line; 下: the lower's\n"
           "  A note: [#|b] 1-7 (0 a rest), then ' up an octave, , down, _ half as long,\n"
           "  . half again; - alone adds a quarter; | ends a bar, || or |] the piece.\n"
           "  An unmarked 1 is the key's tonic from middle C up (1=C: C4, 1=D: D4).\n"
           "  词: 好 一 朵  after a line of notes: a syllable for each note sung (_ holds one on).\n"
           "  Ties 1~1 1 \u2312 1, slurs (1 2), triplets 3(1_ 2_ 3_), a fermata 1^, repeats |: :|\n"
           "  with endings [1. [2., a pickup (弱起); full-width signs and GBK texts are read.\n"
           "\n"
           "Sound:\n"
        << MidiOptionsHelp()
        << "\n"
           "  --help                          show this help and exit\n"
           "  --version                       show the version and exit\n";
}

int ToolkitArgc(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--")
            return i;
    return argc;
}
