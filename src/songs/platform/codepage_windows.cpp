#include "songs/platform/codepage.h"

#include <windows.h>

namespace songs::codepage {
namespace {

constexpr UINT kCodePage = 936;

int unitsOf(char32_t c, wchar_t units[2])
{
    if (c < 0x10000) {
        units[0] = wchar_t(c);
        return 1;
    }
    units[0] = wchar_t(0xD800 + ((c - 0x10000) >> 10));
    units[1] = wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    return 2;
}

}  // namespace

bool Encode936(char32_t c, std::string& out)
{
    wchar_t units[2];
    const int count = unitsOf(c, units);
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes, nullptr,
                                      &usedDefault);
    if (n <= 0 || usedDefault)
        return false;
    // Only bytes that read back as the character hold it: the table also
    // has characters that go one way only.
    wchar_t back[4];
    if (MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, n, back, 4) != count || back[0] != units[0] ||
        (count == 2 && back[1] != units[1]))
        return false;
    out.append(bytes, std::size_t(n));
    return true;
}

bool Decode936(std::string_view bytes, char32_t& c)
{
    wchar_t units[4];
    if (bytes.empty() ||
        MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), units, 4) != 1)
        return false;
    c = char32_t(units[0]);
    return true;
}

}  // namespace songs::codepage
