#pragma once
// WinMM names its devices in UTF-16; the program speaks UTF-8.
#include <windows.h>

#include <string>

namespace winmm {

inline std::string Utf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string out(std::size_t(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace winmm
