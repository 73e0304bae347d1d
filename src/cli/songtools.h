#pragma once
// The song tools of the command line: export, render and dump, without a window.
#include "cli/commandline.h"

// Runs the tool the command line named; the exit status of the program. Any
// failure is one line on stderr.
int RunSongTool(int argc, char** argv, const CommandLine& command);
