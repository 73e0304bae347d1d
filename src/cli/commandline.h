#pragma once
// What the command line asks for: the window (with a song to play), or one of
// the song tools, or the help or the version; and the sound options.
#include "cli/midioptions.h"

#include <iosfwd>
#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Window, Tool, Help, Version, ListPorts };
    Action action = Action::Window;
    std::string tool;                   // "--export-midi", "--render" or "--dump"
    std::vector<std::string> operands;  // the song (and output) named; "--" ends the options
    bool newInstance = false;           // a window of its own beside a running one
    // Ways of playing for this run, over the ones kept: --hold (both
    // keyboards), --keys piano|classic, --play-along.
    bool hold = false;
    std::string keys;  // "", "piano" or "classic"
    bool playAlong = false;
    std::string lessonPart;  // --lesson: "上", "下" or "双手"; empty for none
    int tempo = 0;  // --tempo for --jianpu; 0 when not given
    MidiOptions midi;
};

// `args` are the arguments after the program name. False, with a one-line
// reason, for an option nobody knows or two tools at once.
bool ParseCommandLine(std::vector<std::string> args, CommandLine& out, std::string& error);

void PrintHelp(std::ostream& out);

extern const char* const kProgramVersion;

// How many of argv the toolkit may read its own options (-platform,
// -style...) from: those before "--", so a song named like one stays a song.
int ToolkitArgc(int argc, char** argv);
