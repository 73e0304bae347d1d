#include "songs/smfread.h"

#include "songs/wholefile.h"

#include "songs/paths.h"

#include <algorithm>
#include <array>
#include <deque>
#include <cstdlib>
#include <map>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace songs {
namespace {

// A file larger than this is no song anybody wrote by hand or by a tool.
constexpr std::size_t kLargestFile = 64u << 20;

struct Tempo {
    std::uint64_t tick;
    std::uint32_t microsPerQuarter;
};

// An event waiting for the tempo map: its time is known in file ticks only.
struct Pending {
    enum class Kind : std::uint8_t { NoteOn, NoteOff, Program, Pedal };
    std::uint64_t tick;
    std::uint32_t order;  // file order, for equal times
    Kind kind;
    std::uint8_t channel, a, b;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    std::size_t left() const { return bytes_.size() - pos_; }
    std::size_t pos() const { return pos_; }
    std::uint8_t byte() { return std::uint8_t(bytes_[pos_++]); }
    std::uint32_t big(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | byte();
        return v;
    }
    void unread() { --pos_; }
    std::string_view take(std::size_t n)
    {
        const auto s = bytes_.substr(pos_, n);
        pos_ += n;
        return s;
    }
    // A variable-length quantity of at most four bytes, inside `end`.
    bool vlq(std::size_t end, std::uint32_t& v)
    {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= end)
                return false;
            const std::uint8_t b = byte();
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

bool fail(std::string& error, std::string why)
{
    error = std::move(why);
    return false;
}

}  // namespace

bool LooksLikeSmf(std::string_view bytes) { return bytes.substr(0, 4) == "MThd"; }

bool ReadSmf(std::string_view bytes, SmfSong& out, std::string& error)
{
    out = SmfSong{};
    Reader r(bytes);
    if (r.left() < 14 || !LooksLikeSmf(bytes))
        return fail(error, "not a MIDI file: no MThd header");
    r.take(4);
    const std::uint32_t headerLength = r.big(4);
    if (headerLength < 6 || headerLength > r.left())
        return fail(error, "the MIDI header has a wrong length");
    const std::size_t headerEnd = r.pos() + headerLength;
    out.format = int(r.big(2));
    const std::uint32_t declaredTracks = r.big(2);
    const std::uint16_t division = std::uint16_t(r.big(2));
    r.take(headerEnd - r.pos());
    if (out.format > 1)
        return fail(error, "MIDI format " + std::to_string(out.format) + " (independent patterns) is not supported");
    (void)declaredTracks;  // the chunks found count, not what the header promised

    // Milliseconds per file tick for SMPTE time; for musical time the tempo decides.
    double smpteMsPerTick = 0;
    if (division & 0x8000) {
        const int frames = -int(std::int8_t(division >> 8));
        const int perFrame = division & 0xFF;
        const double fps = frames == 29 ? 29.97 : frames;
        if ((frames != 24 && frames != 25 && frames != 29 && frames != 30) || perFrame == 0)
            return fail(error, "the MIDI file has an absurd SMPTE division");
        smpteMsPerTick = 1000.0 / (fps * perFrame);
    } else if (division == 0) {
        return fail(error, "the MIDI file has a division of 0 ticks per quarter note");
    }

    std::vector<Tempo> tempi;
    std::vector<Pending> events;
    std::uint32_t order = 0;
    std::string firstTrackName, anyName;
    while (r.left() >= 8) {
        const std::string_view id = r.take(4);
        const std::uint32_t length = r.big(4);
        if (length > r.left())
            return fail(error, "a MIDI chunk is truncated: it says " + std::to_string(length) + " bytes, " +
                                   std::to_string(r.left()) + " are left");
        const std::size_t end = r.pos() + length;
        if (id != "MTrk") {
            r.take(length);  // chunks of other kinds are skipped, as the standard asks
            continue;
        }
        const int track = out.tracks++;
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        while (r.pos() < end) {
            std::uint32_t delta = 0;
            if (!r.vlq(end, delta))
                return fail(error, "a MIDI event time runs past its track");
            tick += delta;
            if (r.pos() >= end)
                return fail(error, "a MIDI track ends inside an event");
            std::uint8_t status = r.byte();
            if (status == 0xFF || status == 0xF0 || status == 0xF7) {
                running = 0;  // meta and system exclusive events end a running status
                std::uint8_t type = 0;
                if (status == 0xFF) {
                    if (r.pos() >= end)
                        return fail(error, "a MIDI track ends inside an event");
                    type = r.byte();
                }
                std::uint32_t n = 0;
                if (!r.vlq(end, n) || n > end - r.pos())
                    return fail(error, "a MIDI event has a wrong length");
                const std::string_view data = r.take(n);
                if (status != 0xFF)
                    continue;
                if (type == 0x2F)
                    break;  // end of track: what follows inside the chunk is ignored
                if (type == 0x51 && n == 3) {
                    const std::uint32_t us = (std::uint32_t(std::uint8_t(data[0])) << 16) |
                                             (std::uint32_t(std::uint8_t(data[1])) << 8) | std::uint8_t(data[2]);
                    if (us > 0)
                        tempi.push_back({tick, us});
                } else if (type == 0x58 && n >= 2 && out.meterBeats == 0 && data[0] > 0 && std::uint8_t(data[1]) < 7) {
                    out.meterBeats = std::uint8_t(data[0]);
                    out.meterUnit = 1 << std::uint8_t(data[1]);
                } else if (type == 0x59 && n == 2 && !out.hasKey && std::abs(int(std::int8_t(data[0]))) <= 7) {
                    out.hasKey = true;
                    out.keySharps = std::int8_t(data[0]);
                    out.minorKey = data[1] != 0;
                } else if (type == 0x03 && !data.empty()) {
                    if (track == 0 && firstTrackName.empty())
                        firstTrackName = std::string(data);
                    if (anyName.empty())
                        anyName = std::string(data);
                } else if (type == 0x02 && out.copyright.empty()) {
                    out.copyright = std::string(data);
                }
                continue;
            }
            if (status < 0x80) {
                // Running status: the data byte belongs to the last status.
                if (!running)
                    return fail(error, "a MIDI track has a running status with no status before it");
                status = running;
                r.unread();
            } else if (status >= 0xF8) {
                continue;  // a real-time byte: no data, and the running status stands
            } else if (status >= 0xF0) {
                return fail(error, "a MIDI track holds a system common message, which files do not carry");
            } else {
                running = status;
            }
            const int kind = status & 0xF0;
            const int size = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (end - r.pos() < std::size_t(size))
                return fail(error, "a MIDI track ends inside an event");
            const std::uint8_t a = r.byte();
            const std::uint8_t b = size == 2 ? r.byte() : 0;
            if ((a | b) & 0x80)
                return fail(error, "a MIDI event has a data byte above 127");
            const auto channel = std::uint8_t(status & 0x0F);
            if (kind == 0x90 && b > 0)
                events.push_back({tick, order++, Pending::Kind::NoteOn, channel, a, b});
            else if (kind == 0x80 || kind == 0x90)
                events.push_back({tick, order++, Pending::Kind::NoteOff, channel, a, 0});
            else if (kind == 0xC0)
                events.push_back({tick, order++, Pending::Kind::Program, channel, a, 0});
            else if (kind == 0xB0 && a == 64)
                events.push_back({tick, order++, Pending::Kind::Pedal, channel, a, b});
        }
        r.take(end - r.pos());
    }
    if (out.tracks == 0)
        return fail(error, "the MIDI file holds no track");
    out.name = firstTrackName.empty() ? anyName : firstTrackName;

    // The tempo map, from all tracks (format 1 keeps it in the first).
    std::stable_sort(tempi.begin(), tempi.end(), [](const Tempo& x, const Tempo& y) { return x.tick < y.tick; });
    if (smpteMsPerTick == 0)
        out.firstQuarterMs = tempi.empty() ? 500.0 : tempi.front().microsPerQuarter / 1000.0;
    std::stable_sort(events.begin(), events.end(), [](const Pending& x, const Pending& y) {
        return x.tick != y.tick ? x.tick < y.tick : x.order < y.order;
    });
    std::size_t next = 0;
    std::uint64_t segmentTick = 0;
    double segmentMs = 0;
    double msPerTick = smpteMsPerTick > 0 ? smpteMsPerTick : 500.0 / division;  // 120 beats a minute until told
    std::map<int, std::deque<std::size_t>> sounding;  // notes not yet ended, by channel and key
    std::array<bool, 16> pedalDown{};
    for (const Pending& e : events) {
        if (smpteMsPerTick == 0) {
            while (next < tempi.size() && tempi[next].tick <= e.tick) {
                segmentMs += double(tempi[next].tick - segmentTick) * msPerTick;
                segmentTick = tempi[next].tick;
                msPerTick = tempi[next].microsPerQuarter / 1000.0 / division;
                ++next;
            }
        }
        const double ms = segmentMs + double(e.tick - segmentTick) * msPerTick;
        switch (e.kind) {
        case Pending::Kind::NoteOn:
            sounding[e.channel * 128 + e.a].push_back(out.notes.size());
            out.notes.push_back({ms, e.channel, e.a, e.b});
            break;
        case Pending::Kind::NoteOff: {
            // The earliest note of that key still sounding ends.
            auto& open = sounding[e.channel * 128 + e.a];
            if (!open.empty()) {
                SmfNote& n = out.notes[open.front()];
                n.lengthMs = ms - n.timeMs;
                open.pop_front();
            }
            break;
        }
        case Pending::Kind::Program:
            out.programs.push_back({ms, e.channel, e.a});
            break;
        case Pending::Kind::Pedal:
            if (const bool down = e.b >= 64; down != pedalDown[e.channel]) {
                pedalDown[e.channel] = down;
                out.pedals.push_back({ms, e.channel, down});
            }
            break;
        }
    }
    return true;
}

bool ReadSmfFile(const std::string& path, SmfSong& out, std::string& error)
{
    std::string bytes;
    switch (ReadWholeFile(path, bytes, kLargestFile)) {
    case ReadOutcome::Ok:
        return ReadSmf(bytes, out, error);
    case ReadOutcome::TooLarge:
        return fail(error, path + " is too large for a MIDI file");
    default: {
        const std::string why = WhyUnreadable(path);
        return fail(error, "cannot read " + path + ": " + (why.empty() ? "is not a regular file" : why));
    }
    }
}

}  // namespace songs
