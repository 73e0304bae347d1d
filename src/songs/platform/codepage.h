#pragma once
// Code page 936 (GBK, as Windows has it), the song header's code page, one
// character at a time: iconv on Linux (codepage_iconv.cpp), the system's own
// tables on Windows (codepage_windows.cpp). Whole texts are converted by the
// callers, so that what a character cannot become follows their rules and
// never iconv's or Windows' own (a best fit, a default character), and both
// systems give the same bytes.
#include <string>
#include <string_view>

namespace songs::codepage {

// Appends the bytes of `c` (U+0080 or above) to `out`; false, with nothing
// appended, when the code page has no bytes that read back as `c`.
bool Encode936(char32_t c, std::string& out);
// The character that `bytes` (one byte, or a lead and a trail byte) stand
// for; false when they are not one character of the code page.
bool Decode936(std::string_view bytes, char32_t& c);

}  // namespace songs::codepage
