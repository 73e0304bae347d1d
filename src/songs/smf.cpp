#include "songs/smf.h"

#include "songs/wholefile.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace songs {

namespace {

constexpr std::uint8_t kMetaEvent = 0xFF;
constexpr std::uint8_t kMetaCopyright = 0x02;
constexpr std::uint8_t kMetaTrackName = 0x03;
constexpr std::uint8_t kMetaTimeSignature = 0x58;
constexpr std::uint8_t kMetaKeySignature = 0x59;
constexpr std::uint8_t kMidiClocksPerClick = 24;     // a metronome click each quarter
constexpr std::uint8_t kThirtySecondsPerQuarter = 8;
constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kUpperChannel = 1;
constexpr const char* kLowerTrackName = "lower keyboard";
constexpr const char* kUpperTrackName = "upper keyboard";

void put16(std::string& out, std::uint32_t v)
{
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void put32(std::string& out, std::uint32_t v)
{
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

// Variable-length quantity: 7 bits a byte, high bit set on all but the last.
void putVarLen(std::string& out, std::uint32_t v)
{
    char bytes[5];
    int n = 0;
    bytes[n++] = static_cast<char>(v & 0x7F);
    while ((v >>= 7) != 0)
        bytes[n++] = static_cast<char>(0x80 | (v & 0x7F));
    while (n > 0)
        out += bytes[--n];
}

void putMeta(std::string& track, std::uint32_t delta, std::uint8_t type, const std::string& data)
{
    putVarLen(track, delta);
    track += static_cast<char>(kMetaEvent);
    track += static_cast<char>(type);
    putVarLen(track, static_cast<std::uint32_t>(data.size()));
    track += data;
}

// The largest delta a variable-length quantity holds.
constexpr std::int64_t kMaxTick = 0x0FFFFFFF;

// Milliseconds to file ticks at `ticksPerQuarter` and `usPerQuarter`, to the nearest.
std::int64_t toTick(std::int64_t ms, std::int64_t ticksPerQuarter, std::int64_t usPerQuarter)
{
    if (ms <= 0)
        return 0;
    const std::int64_t scaled = std::min<std::int64_t>(ms, kMaxTick) * 1000 * ticksPerQuarter;
    return std::min(kMaxTick, (2 * scaled + usPerQuarter) / (2 * usPerQuarter));
}

int dataBytes(std::uint8_t status)
{
    const int kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

bool isChannelMessage(std::uint8_t status) { return status >= 0x80 && status < 0xF0; }

struct Event {
    std::int64_t tick;
    const TimedMessage* message;
};

std::string trackChunk(const std::string& body)
{
    std::string out = "MTrk";
    put32(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
}

}  // namespace

int KeySharpsOf(int tonic)
{
    const int sharps = ((7 * tonic) % 12 + 12) % 12;  // each fifth up adds a sharp
    return sharps > 6 ? sharps - 12 : sharps;
}

std::string BuildSmf(const std::vector<TimedMessage>& messages, const SmfHeading& heading)
{
    const bool atTempo = heading.time.known();
    constexpr int kTicksPerMinute = 6000;  // of the song's 10 ms ticks
    const std::uint16_t ticksPerQuarter =
        atTempo ? std::uint16_t(kTicksPerMinute / std::gcd(kTicksPerMinute, heading.time.tempo)) : kSmfTicksPerQuarter;
    const std::uint32_t usPerQuarter =
        atTempo ? std::uint32_t((60000000 + heading.time.tempo / 2) / heading.time.tempo) : kSmfTempoMicroseconds;
    std::vector<Event> tracks[2];
    std::int64_t lastTick = 0;
    for (const TimedMessage& m : messages) {
        if (!isChannelMessage(m.status))
            continue;
        int track = m.track;
        if (track != kLowerTrack && track != kUpperTrack)
            track = (m.status & 0x0F) == kUpperChannel ? kUpperTrack : kLowerTrack;
        const std::int64_t tick = toTick(m.timeMs, ticksPerQuarter, usPerQuarter);
        tracks[track].push_back({tick, &m});
        lastTick = std::max(lastTick, tick);
    }

    // Every track ends where the song ends, so all of them have one length.
    std::string conductor;
    putMeta(conductor, 0, kMetaTrackName, heading.titleUtf8);
    if (!heading.authorUtf8.empty())
        putMeta(conductor, 0, kMetaCopyright, heading.authorUtf8);
    putMeta(conductor, 0, kMetaTempo,
            {char((usPerQuarter >> 16) & 0xFF), char((usPerQuarter >> 8) & 0xFF), char(usPerQuarter & 0xFF)});
    if (atTempo) {
        int log2Unit = 0;
        while ((1 << log2Unit) < heading.time.beatUnit)
            ++log2Unit;
        putMeta(conductor, 0, kMetaTimeSignature,
                {char(heading.time.beats), char(log2Unit), char(kMidiClocksPerClick), char(kThirtySecondsPerQuarter)});
    }
    if (heading.keySharps)
        putMeta(conductor, 0, kMetaKeySignature, {char(std::clamp(*heading.keySharps, -7, 7)), 0});  // major
    putMeta(conductor, static_cast<std::uint32_t>(lastTick), kMetaEndOfTrack, {});

    std::string file = "MThd";
    put32(file, 6);
    put16(file, 1);  // format 1: tracks played together
    put16(file, 3);
    put16(file, ticksPerQuarter);
    file += trackChunk(conductor);

    const char* names[2] = {kLowerTrackName, kUpperTrackName};
    for (int t = 0; t < 2; ++t) {
        std::vector<Event>& events = tracks[t];
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.tick < b.tick; });
        std::string body;
        putMeta(body, 0, kMetaTrackName, names[t]);
        std::int64_t at = 0;
        for (const Event& e : events) {
            putVarLen(body, static_cast<std::uint32_t>(e.tick - at));
            at = e.tick;
            // No running status: every event carries its status byte.
            body += static_cast<char>(e.message->status);
            body += static_cast<char>(e.message->d1 & 0x7F);
            if (dataBytes(e.message->status) == 2)
                body += static_cast<char>(e.message->d2 & 0x7F);
        }
        putMeta(body, static_cast<std::uint32_t>(lastTick - at), kMetaEndOfTrack, {});
        file += trackChunk(body);
    }
    return file;
}

bool WriteSmf(const std::string& path, const std::vector<TimedMessage>& messages, const SmfHeading& heading)
{
    return ReplaceFile(path, BuildSmf(messages, heading), 0644);
}

}  // namespace songs
