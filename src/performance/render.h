#pragma once
// Messages rendered through the built-in synthesizer into a WAV file.
#include "songs/smf.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct RenderOptions {
    std::string soundfont;  // empty: the built-in synthesizer's usual choice
    std::vector<std::pair<std::string, std::string>> synthOptions;
    // Sound kept after the last message, so that the last release and the
    // reverb die away instead of being cut off.
    int tailMs = 2000;
    // Called now and then with the fraction done (0..1), last with 1.
    std::function<void(double fraction)> progress;
};

// Plays `messages` (in time order; equal times keep their order) through the
// built-in synthesizer as fast as it can and writes the sound to `wavPath` as
// a 44.1 kHz 16-bit stereo WAV. The file is written beside the target under
// another name and renamed at the end, so an existing file is replaced only
// by a complete new one. On failure: false, and `error` says why.
// The messages' tracks mean nothing here.
bool RenderToWav(const std::vector<songs::TimedMessage>& messages, const std::string& wavPath,
                 const RenderOptions& options, std::string* error = nullptr);
