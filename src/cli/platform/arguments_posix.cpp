#include "cli/platform/arguments.h"

// The bytes as given: a path on Linux is bytes, whatever their encoding.
std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}
