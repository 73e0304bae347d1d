#pragma once
// The song tools of the command line: export, render and dump, without a window.
#include "cli/commandline.h"

// The exit status of an import (or a score made through a song) that wrote
// only the start of its file: a song has no room for more.
constexpr int kWrittenInPart = 2;

// Runs the tool the command line named; the exit status of the program: 0,
// kWrittenInPart, or 1 for a failure, which is one line on stderr.
int RunSongTool(int argc, char** argv, const CommandLine& command);
