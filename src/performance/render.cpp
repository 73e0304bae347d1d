#include "performance/render.h"

#include "midi/services/synthservice.h"

#include "songs/wholefile.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerSample = 2;
constexpr int kFrameBytes = kChannels * kBytesPerSample;
constexpr int kHeaderBytes = 44;
constexpr int kBlockFrames = 4096;
constexpr int kProgressSteps = 100;
// The data size is a 32-bit field: a little under 6 h 45 min of sound.
constexpr std::int64_t kMaxDataBytes = 0xFFFFFFFFLL - (kHeaderBytes - 8);

std::int64_t frameAt(std::int64_t ms)
{
    return std::max<std::int64_t>(ms, 0) * SynthService::kSampleRate / 1000;
}

std::array<char, kHeaderBytes> wavHeader(std::uint32_t dataBytes)
{
    std::array<char, kHeaderBytes> h{};
    auto put32 = [&](int at, std::uint32_t v) { qToLittleEndian<quint32>(v, h.data() + at); };
    auto put16 = [&](int at, std::uint16_t v) { qToLittleEndian<quint16>(v, h.data() + at); };
    std::memcpy(h.data(), "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);  // size of the format chunk
    put16(20, 1);   // PCM
    put16(22, kChannels);
    put32(24, SynthService::kSampleRate);
    put32(28, SynthService::kSampleRate * kFrameBytes);
    put16(32, kFrameBytes);
    put16(34, 8 * kBytesPerSample);
    std::memcpy(h.data() + 36, "data", 4);
    put32(40, dataBytes);
    return h;
}

bool fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

}  // namespace

using songs::TimedMessage;

bool RenderToWav(const std::vector<TimedMessage>& messages, const std::string& wavPath,
                 const RenderOptions& options, std::string* error)
{
    std::vector<TimedMessage> events = messages;
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.timeMs < b.timeMs; });
    const std::int64_t lastMs = events.empty() ? 0 : std::max<std::int64_t>(events.back().timeMs, 0);
    const std::int64_t totalFrames = frameAt(lastMs) + frameAt(std::max(options.tailMs, 0));
    if (totalFrames * kFrameBytes > kMaxDataBytes)
        return fail(error, "the piece is too long for a WAV file");

    SynthConfig config;
    config.soundfont = options.soundfont;
    config.options = options.synthOptions;
    config.audio = false;
    if (!SynthService::Available())
        return fail(error, "audio needs the built-in synthesizer, which this build of the program has not");
    SynthService synth(config);
    std::uint32_t handle = 0;
    if (synth.findSoundfont().empty())
        return fail(error, options.soundfont.empty() ? "no soundfont found" : "cannot read soundfont " + options.soundfont);
    if (synth.open(-1, handle) != 0)
        return fail(error, "the synthesizer could not be started");

    const auto cannotWrite = [&] { return fail(error, "cannot write " + wavPath + ": " + std::strerror(errno)); };
    songs::ReplacingFile file(wavPath, songs::NewFileMode());
    if (!file.open())
        return cannotWrite();
    const auto header = wavHeader(std::uint32_t(totalFrames * kFrameBytes));
    if (!file.write(std::string_view(header.data(), kHeaderBytes)))
        return cannotWrite();

    std::vector<std::int16_t> block(std::size_t(kBlockFrames) * kChannels);
    std::size_t next = 0;
    std::int64_t done = 0;
    std::int64_t nextReport = 0;
    while (done < totalFrames) {
        // Messages go in at the first frame at or after their time.
        while (next < events.size() && frameAt(events[next].timeMs) <= done) {
            const TimedMessage& m = events[next++];
            // A message the synthesizer refuses is skipped, as on a live port.
            synth.sendShortMsg(handle, std::uint32_t(m.status) | std::uint32_t(m.d1) << 8 | std::uint32_t(m.d2) << 16);
        }
        std::int64_t until = totalFrames;
        if (next < events.size())
            until = std::min(until, frameAt(events[next].timeMs));
        const int frames = int(std::min<std::int64_t>(until - done, kBlockFrames));
        if (!synth.renderS16(frames, block.data()))
            return fail(error, "the synthesizer failed while rendering");
        for (int i = 0; i < frames * kChannels; ++i)
            block[std::size_t(i)] = qToLittleEndian(block[std::size_t(i)]);
        if (!file.write(std::string_view(reinterpret_cast<const char*>(block.data()), std::size_t(frames) * kFrameBytes)))
            return cannotWrite();
        done += frames;
        if (options.progress && done >= nextReport && done < totalFrames) {
            options.progress(double(done) / double(totalFrames));
            nextReport = done + totalFrames / kProgressSteps;
        }
    }
    synth.close(handle);
    if (!file.commit())
        return cannotWrite();
    if (options.progress)
        options.progress(1.0);
    return true;
}
