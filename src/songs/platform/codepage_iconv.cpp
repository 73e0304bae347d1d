#include "songs/platform/codepage.h"

#include <cstdint>
#include <iconv.h>

namespace songs::codepage {
namespace {

// glibc knows code page 936 as CP936 (with 0x80 as the euro sign, as
// Windows has it); "GBK" is tried where a C library does not.
constexpr const char* kCodePage = "CP936";
constexpr const char* kCodePageFallback = "GBK";
constexpr const char* kCharacter = "UTF-32LE";  // one character: four bytes

// One converter per thread and direction: iconv keeps state in it.
class Converter {
public:
    Converter(bool toCodePage)
    {
        cd_ = toCodePage ? iconv_open(kCodePage, kCharacter) : iconv_open(kCharacter, kCodePage);
        if (cd_ == kNone)
            cd_ = toCodePage ? iconv_open(kCodePageFallback, kCharacter) : iconv_open(kCharacter, kCodePageFallback);
    }
    ~Converter()
    {
        if (cd_ != kNone)
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The whole of `in` as at most `room` bytes; the count, or -1 when any of
    // it does not convert.
    int run(std::string_view in, char* out, std::size_t room)
    {
        if (cd_ == kNone)
            return -1;  // no converter on this system: only ASCII, which callers do themselves
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* outPtr = out;
        std::size_t outLeft = room;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
            return -1;
        return int(outPtr - out);
    }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t cd_;
};

}  // namespace

bool Encode936(char32_t c, std::string& out)
{
    thread_local Converter encoder(true);
    const char in[4] = {char(c & 0xFF), char((c >> 8) & 0xFF), char((c >> 16) & 0xFF), char((c >> 24) & 0xFF)};
    char bytes[8];
    const int n = encoder.run(std::string_view(in, 4), bytes, sizeof bytes);
    // glibc drops the tag characters (U+E0000...) without a byte: no bytes
    // hold them.
    if (n <= 0)
        return false;
    out.append(bytes, std::size_t(n));
    return true;
}

bool Decode936(std::string_view bytes, char32_t& c)
{
    thread_local Converter decoder(false);
    char out[8];
    if (decoder.run(bytes, out, sizeof out) != 4)
        return false;
    const auto b = [&out](int i) { return char32_t(std::uint8_t(out[i])); };
    c = b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
    return true;
}

}  // namespace songs::codepage
