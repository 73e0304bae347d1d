#pragma once
// The arguments after the program name, as UTF-8 on every system, as the
// song library takes paths. Windows hands main() its arguments in the ANSI
// code page, which holds few of the characters a path may have
// (C:\Users\张三\音乐\小星星.hbk on a Western system): there they are read
// from the wide command line instead (arguments_windows.cpp).
#include <string>
#include <vector>

std::vector<std::string> CommandLineArguments(int argc, char** argv);
