#pragma once
// The song tools and --help print where they were started from. A Windows
// program with a window has no console of its own: it takes over the console
// of the command prompt that started it, unless its output already goes to
// a file or a pipe (console_windows.cpp). Elsewhere there is nothing to do.
void UseStartingConsole();
