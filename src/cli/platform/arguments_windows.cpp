#include "cli/platform/arguments.h"

#include <windows.h>

#include <shellapi.h>

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(std::size_t(n > 0 ? n : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}
