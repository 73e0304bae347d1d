#pragma once
// The keys of one keyboard, as a song's note records number them and the
// instrument draws them: how many, and which are black.

namespace keys {

constexpr int kKeyCount = 65;  // key indexes 0 .. 64, from a C
constexpr int kLastKey = kKeyCount - 1;

// C# D# F# G# A# of every octave from the lowest C.
constexpr bool IsBlackKey(int key)
{
    const int n = key % 12;
    return n == 1 || n == 3 || n == 6 || n == 8 || n == 10;
}

}  // namespace keys
