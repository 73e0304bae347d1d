#include "songs/smfread.h"

#include "songs/paths.h"
#include "songs/platform/files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <queue>

namespace songs {
namespace {

// A file larger than this is no song anybody wrote by hand or by a tool.
constexpr std::size_t kLargestFile = 64u << 20;
// What a track reads of the file at a time: a file of many tracks reads less
// for each, so that the buffers stay a few megabytes whatever the file.
constexpr std::size_t kTrackWindow = 64u << 10, kAllWindows = 4u << 20, kLeastWindow = 64;
// A header's count of tracks is 16-bit: no file holds more.
constexpr std::size_t kMostTracks = 65535;
// Of a name or a copyright, what a song could ever show and more.
constexpr std::size_t kLongestText = 4096;
constexpr int kDrums = 9;  // channel 10, which no keyboard plays

// The file's bytes: in memory, or read piece by piece from the file, so that
// a file of millions of notes is not held whole to make a song of its start.
class Bytes {
public:
    explicit Bytes(std::string_view memory) : memory_(memory), size_(memory.size()) {}
    Bytes(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t size() const { return size_; }
    bool failed() const { return failed_; }
    // `n` bytes from `offset` (within the size): a view into memory or into
    // `buffer`. Empty, and failed() from then on, when the file cannot give them.
    std::string_view read(std::uint64_t offset, std::size_t n, std::string& buffer) const
    {
        if (fd_ < 0)
            return memory_.substr(std::size_t(offset), n);
        buffer.resize(n);
        std::size_t got = 0;
        while (got < n) {
            const long long r = files::ReadAt(fd_, buffer.data() + got, n - got, std::int64_t(offset + got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                failed_ = true;  // an error, or a file cut shorter while it is read
                return {};
            }
            got += std::size_t(r);
        }
        return buffer;
    }

private:
    std::string_view memory_;
    int fd_ = -1;
    std::uint64_t size_;
    mutable bool failed_ = false;
};

// Reading one range of the file (a chunk, or the file itself) byte by byte
// through a window of it.
class Cursor {
public:
    Cursor(const Bytes& bytes, std::uint64_t begin, std::uint64_t end, std::size_t window)
        : bytes_(&bytes), pos_(begin), end_(end), window_(window)
    {
    }
    std::uint64_t pos() const { return pos_; }
    std::uint64_t end() const { return end_; }
    std::uint64_t left() const { return end_ - pos_; }
    // False at the end of the range or when the file cannot be read.
    bool byte(std::uint8_t& b)
    {
        if (pos_ >= end_ || (pos_ - viewAt_ >= view_.size() && !fill()))
            return false;
        b = std::uint8_t(view_[std::size_t(pos_++ - viewAt_)]);
        return true;
    }
    void unread() { --pos_; }  // only right after byte()
    bool big(int n, std::uint32_t& v)
    {
        v = 0;
        for (int i = 0; i < n; ++i) {
            std::uint8_t b = 0;
            if (!byte(b))
                return false;
            v = (v << 8) | b;
        }
        return true;
    }
    // Moves on by `n` (at most what is left) without reading.
    void skip(std::uint64_t n) { pos_ += n; }
    // The next `n` bytes (at most what is left), of which the first `keep`
    // come back in `out`.
    bool take(std::uint64_t n, std::size_t keep, std::string& out)
    {
        out.clear();
        const std::uint64_t last = pos_ + n;
        for (std::uint8_t b = 0; out.size() < std::min<std::uint64_t>(keep, n) && byte(b);)
            out += char(b);
        if (out.size() < std::min<std::uint64_t>(keep, n))
            return false;
        pos_ = last;
        return true;
    }
    // A variable-length quantity of at most four bytes, inside the range.
    bool vlq(std::uint32_t& v)
    {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b = 0;
            if (!byte(b))
                return false;
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }

private:
    bool fill()
    {
        viewAt_ = pos_;
        view_ = bytes_->read(pos_, std::size_t(std::min<std::uint64_t>(window_, end_ - pos_)), buffer_);
        return !view_.empty();
    }

    const Bytes* bytes_;
    std::uint64_t pos_, end_;
    std::size_t window_;
    std::string buffer_;
    std::string_view view_;
    std::uint64_t viewAt_ = 0;
};

struct Track {
    Cursor cursor;
    std::uint64_t tick = 0;  // of the event the cursor stands at
    std::uint8_t running = 0;
};

bool fail(std::string& error, std::string why)
{
    error = std::move(why);
    return false;
}

// The file's tracks are read side by side, each as far as the music has got,
// in the order of their events' times (of equal times, the earlier track's
// first, as one sorted list of the file's events would have them), so that
// reading can stop as soon as the song is full.
bool read(const Bytes& bytes, SmfSong& out, std::string& error, std::size_t enough)
{
    out = SmfSong{};
    error.clear();
    Cursor file(bytes, 0, bytes.size(), kTrackWindow);
    std::uint32_t magic = 0, headerLength = 0, format = 0, declaredTracks = 0, division = 0;
    if (bytes.size() < 14 || !file.big(4, magic) || magic != 0x4D546864)  // "MThd"
        return fail(error, "not a MIDI file: no MThd header");
    file.big(4, headerLength);
    if (headerLength < 6 || headerLength > file.left())
        return fail(error, "the MIDI header has a wrong length");
    const std::uint64_t headerEnd = file.pos() + headerLength;
    file.big(2, format);
    file.big(2, declaredTracks);
    file.big(2, division);
    file.skip(headerEnd - file.pos());
    out.format = int(format);
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

    // The chunks: only their headers are read here.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> chunks;  // of the tracks: where each begins and ends
    while (file.left() >= 8) {
        std::uint32_t id = 0, length = 0;
        file.big(4, id);
        file.big(4, length);
        if (bytes.failed())
            break;
        if (length > file.left())
            return fail(error, "a MIDI chunk is truncated: it says " + std::to_string(length) + " bytes, " +
                                   std::to_string(file.left()) + " are left");
        if (id == 0x4D54726B) {  // "MTrk"; chunks of other kinds are skipped, as the standard asks
            if (chunks.size() == kMostTracks)
                return fail(error, "the MIDI file holds more than " + std::to_string(kMostTracks) + " tracks");
            chunks.push_back({file.pos(), file.pos() + length});
        }
        file.skip(length);
    }
    if (bytes.failed())
        return false;
    out.tracks = int(chunks.size());
    if (chunks.empty())
        return fail(error, "the MIDI file holds no track");
    const std::size_t window = std::clamp(kAllWindows / chunks.size(), kLeastWindow, kTrackWindow);
    std::vector<Track> tracks;
    tracks.reserve(chunks.size());
    // The tracks by the time of their next event, earlier tracks first.
    using Due = std::pair<std::uint64_t, std::size_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> due;
    // Reads a track's next event time; false when the track is malformed there.
    const auto advance = [&](std::size_t t) {
        Track& track = tracks[t];
        if (track.cursor.left() == 0)
            return true;
        std::uint32_t delta = 0;
        if (!track.cursor.vlq(delta))
            return fail(error, "a MIDI event time runs past its track");
        if (track.cursor.left() == 0)
            return fail(error, "a MIDI track ends inside an event");
        track.tick += delta;
        due.push({track.tick, t});
        return true;
    };
    for (const auto& [begin, end] : chunks) {
        tracks.push_back({Cursor(bytes, begin, end, window)});
        if (!advance(tracks.size() - 1))
            return false;
    }

    std::string firstTrackName, anyName;
    std::uint64_t segmentTick = 0;
    double segmentMs = 0;
    double msPerTick = smpteMsPerTick > 0 ? smpteMsPerTick : 500.0 / division;  // 120 beats a minute until told
    std::map<int, std::deque<std::size_t>> sounding;  // notes not yet ended, by channel and key
    std::size_t open = 0;
    std::array<std::size_t, 16> perChannel{};
    std::array<bool, 16> pedalDown{};
    bool full = false;  // the song is full: what follows only ends notes already read
    // A fault sets `error` and ends the loop.
    const auto fault = [&error](const char* why) { error = why; };
    while (!due.empty() && !(full && open == 0)) {
        const std::size_t t = due.top().second;
        due.pop();
        Track& track = tracks[t];
        Cursor& r = track.cursor;
        const std::uint64_t tick = track.tick;
        const double ms = segmentMs + double(tick - segmentTick) * msPerTick;
        std::uint8_t status = 0;
        if (!r.byte(status))
            break;
        if (status == 0xFF || status == 0xF0 || status == 0xF7) {
            track.running = 0;  // meta and system exclusive events end a running status
            std::uint8_t type = 0;
            if (status == 0xFF && !r.byte(type)) {
                fault("a MIDI track ends inside an event");
                break;
            }
            std::uint32_t n = 0;
            if (!r.vlq(n) || n > r.left()) {
                fault("a MIDI event has a wrong length");
                break;
            }
            std::string data;
            const bool text = status == 0xFF && (type == 0x03 || type == 0x02);
            if (!r.take(n, text ? kLongestText : status == 0xFF ? 4 : 0, data))
                break;
            if (status == 0xFF && type == 0x2F)
                continue;  // end of track: what follows inside the chunk is ignored
            if (status != 0xFF) {
            } else if (type == 0x51 && n == 3) {
                const std::uint32_t us = (std::uint32_t(std::uint8_t(data[0])) << 16) |
                                         (std::uint32_t(std::uint8_t(data[1])) << 8) | std::uint8_t(data[2]);
                if (us > 0 && smpteMsPerTick == 0) {
                    if (out.firstQuarterMs == 0)
                        out.firstQuarterMs = us / 1000.0;
                    segmentMs = ms;
                    segmentTick = tick;
                    msPerTick = us / 1000.0 / division;
                }
            } else if (type == 0x58 && n >= 2 && out.meterBeats == 0 && data[0] > 0 && std::uint8_t(data[1]) < 7) {
                out.meterBeats = std::uint8_t(data[0]);
                out.meterUnit = 1 << std::uint8_t(data[1]);
            } else if (type == 0x59 && n == 2 && !out.hasKey && std::abs(int(std::int8_t(data[0]))) <= 7) {
                out.hasKey = true;
                out.keySharps = std::int8_t(data[0]);
                out.minorKey = data[1] != 0;
            } else if (type == 0x03 && !data.empty()) {
                if (t == 0 && firstTrackName.empty())
                    firstTrackName = data;
                if (anyName.empty())
                    anyName = data;
            } else if (type == 0x02 && out.copyright.empty()) {
                out.copyright = data;
            }
            if (!advance(t))
                break;
            continue;
        }
        if (status < 0x80) {
            // Running status: the data byte belongs to the last status.
            if (!track.running) {
                fault("a MIDI track has a running status with no status before it");
                break;
            }
            status = track.running;
            r.unread();
        } else if (status >= 0xF8) {
            if (!advance(t))
                break;
            continue;  // a real-time byte: no data, and the running status stands
        } else if (status >= 0xF0) {
            fault("a MIDI track holds a system common message, which files do not carry");
            break;
        } else {
            track.running = status;
        }
        const int kind = status & 0xF0;
        const int size = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        std::uint8_t a = 0, b = 0;
        if (r.left() < std::uint64_t(size) || !r.byte(a) || (size == 2 && !r.byte(b))) {
            fault("a MIDI track ends inside an event");
            break;
        }
        if ((a | b) & 0x80) {
            fault("a MIDI event has a data byte above 127");
            break;
        }
        const auto channel = std::uint8_t(status & 0x0F);
        if (kind == 0x90 && b > 0 && channel == kDrums) {
            out.drums = true;  // which no keyboard plays: nothing to keep but that they are there
        } else if (kind == 0x90 && b > 0) {
            auto& notes = sounding[channel * 128 + a];
            if (full) {
            } else if (!notes.empty() && out.notes[notes.back()].timeMs == ms) {
                // The key struck again at once sounds once, as long as the
                // longer of the two (its last note-off): it fills no song.
                notes.push_back(notes.back());
                ++open;
            } else {
                notes.push_back(out.notes.size());
                ++open;
                out.notes.push_back({ms, channel, a, b});
                ++perChannel[channel];
            }
        } else if (kind == 0x80 || kind == 0x90) {
            // The earliest note of that key still sounding ends.
            auto& notes = sounding[channel * 128 + a];
            if (!notes.empty()) {
                SmfNote& n = out.notes[notes.front()];
                n.lengthMs = ms - n.timeMs;
                notes.pop_front();
                --open;
            }
        } else if (full) {
        } else if (kind == 0xC0) {
            out.programs.push_back({ms, channel, a});
        } else if (kind == 0xB0 && a == 64) {
            if (const bool down = b >= 64; down != pedalDown[channel]) {
                pedalDown[channel] = down;
                out.pedals.push_back({ms, channel, down});
            }
        }
        if (!full && (kind == 0x90 || kind == 0xC0 || kind == 0xB0)) {
            // Full when the two parts with the most notes hold more than the
            // song has room for, or all that is kept of the file (notes of
            // parts left out, program changes, pedal moves) is eight times
            // as much.
            std::size_t first = 0, second = 0;
            for (int c = 0; c < 16; ++c) {
                const std::size_t n = perChannel[std::size_t(c)];
                second = std::max(second, std::min(first, n));
                first = std::max(first, n);
            }
            full = first + second > enough || (out.notes.size() + out.programs.size() + out.pedals.size()) / 8 > enough;
            out.cut = full;
        }
        if (!advance(t))
            break;
    }
    // Once the song is full, a fault further on only ends the reading.
    if (bytes.failed() || (!error.empty() && !full))
        return false;
    error.clear();
    if (smpteMsPerTick == 0 && out.firstQuarterMs == 0)
        out.firstQuarterMs = 500.0;
    out.name = firstTrackName.empty() ? anyName : firstTrackName;
    return true;
}

}  // namespace

bool LooksLikeSmf(std::string_view bytes) { return bytes.substr(0, 4) == "MThd"; }

bool ReadSmf(std::string_view bytes, SmfSong& out, std::string& error, std::size_t enough)
{
    return read(Bytes(bytes), out, error, enough);
}

bool ReadSmfFile(const std::string& path, SmfSong& out, std::string& error, std::size_t enough)
{
    // Only a plain file is read: opening never waits for a pipe.
    const int fd = files::OpenToRead(path);
    files::Info info;
    if (fd < 0 || !files::InfoOf(fd, info)) {
        if (fd >= 0)
            files::Close(fd);
        const std::string why = WhyUnreadable(path);
        return fail(error, "cannot read " + path + ": " + (why.empty() ? "is not a regular file" : why));
    }
    if (std::uint64_t(info.size) > kLargestFile) {
        files::Close(fd);
        return fail(error, path + " is too large for a MIDI file");
    }
    const Bytes bytes(fd, std::uint64_t(info.size));
    bool ok = read(bytes, out, error, enough);
    const int why = errno;
    files::Close(fd);
    if (bytes.failed())
        ok = fail(error, "cannot read " + path + ": " + (why == 0 ? "the file was cut short" : std::strerror(why)));
    return ok;
}

}  // namespace songs
