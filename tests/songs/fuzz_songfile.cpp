// Arbitrary bytes as a song file: the header reader, every record, a whole
// playback and the dump must come through without a fault, and the header
// writer must keep any text inside the header slots. The same bytes as a
// MIDI file: read and made into a song, every record is one the player reads.
#include "songs/dump.h"
#include "songs/midiimport.h"
#include "songs/player.h"
#include "songs/smf.h"
#include "songs/smfread.h"
#include "songs/songfile.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;

void cleanUp()
{
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        abort();
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size))
        abort();
    ::close(fd);
}

class FuzzHost : public songs::PlaybackHost {
public:
    void playKey(std::int16_t, std::int16_t) override
    {
        // A key group never holds more than one keyboard's worth of keys.
        if (++keysInGroup > songs::kMaxKeyGroup)
            abort();
    }
    void selectHalf(std::int16_t) override { keysInGroup = 0; }
    void applySetting(const songs::Record& r) override
    {
        if (r.tag.size() != 5 || r.value.size() != 5)
            abort();
    }
    bool settingsLocked() const override { return locked; }
    void setTimerEnabled(bool) override { keysInGroup = 0; }
    void endOfPlayback() override { ended = true; }

    bool locked = false;
    bool ended = false;
    int keysInGroup = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/sonarel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
        abort();
    g_dir = pattern;
    atexit(cleanUp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = g_dir + "/song.hbk";
    writeFile(path, data, size);
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    std::string title, author;
    songs::ReadHeaderLine(path, title, author);

    songs::SongFile file;
    if (!file.openForReading(path))
        abort();
    const std::int32_t slots = static_cast<std::int32_t>(size / songs::kSlotSize) + 2;
    for (std::int32_t slot = 0; slot <= slots; ++slot) {
        songs::Record r;
        if (file.readRecord(slot, r) == songs::ReadStatus::Ok && (r.tag.size() != 5 || r.value.size() != 5))
            abort();
    }
    file.close();

    songs::SongPlayer player;
    FuzzHost host;
    host.locked = size > 0 && (data[0] & 1);
    if (!player.start(path))
        abort();
    for (int tick = 0; tick < 20000 && !host.ended; ++tick) {
        if (player.TickCount < player.WaitTicks)
            player.TickCount = player.WaitTicks;  // skip the pauses, not the reading
        player.tick(host);
    }

    songs::SmfSong midi;
    std::string error;
    if (songs::ReadSmf(bytes, midi, error)) {
        songs::ImportedSong imported;
        if (songs::MakeSong(midi, "fuzz", imported, error)) {
            if (imported.body.empty() || imported.body.back().first != "@END " ||
                imported.body.size() > std::size_t(songs::kLastNoteSlot))
                abort();
            for (const auto& [tag, value] : imported.body) {
                if (tag[0] != '@' && (std::stoi(tag) < 0 || std::stoi(tag) > 64))
                    abort();
                if (value.empty() || value.size() > 5 || std::stol(value) < 0 || std::stol(value) > 32767)
                    abort();
            }
        }
    } else if (error.empty()) {
        abort();  // a refusal always says why
    }

    std::ostringstream listing;
    std::string dumpError;
    if (!songs::DumpSong(path, listing, dumpError))
        abort();

    // Reading never changes the file.
    std::string after(size, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || read(fd, after.data(), size) != static_cast<ssize_t>(size) || after != bytes)
        abort();
    ::close(fd);

    // Any text, valid UTF-8 or not, gives a header line inside the header slots.
    const std::string header = g_dir + "/header.hbk";
    const std::size_t half = size / 2;
    if (!songs::WriteHeaderLine(header, bytes.substr(0, half), bytes.substr(half)))
        abort();
    if (std::filesystem::file_size(header) > 87)
        abort();
    std::string t2, a2;
    if (!songs::ReadHeaderLine(header, t2, a2) || t2.find('"') != std::string::npos ||
        a2.find('"') != std::string::npos)
        abort();

    // The same bytes as MIDI messages, eight bytes each.
    std::vector<songs::TimedMessage> messages;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        songs::TimedMessage m;
        m.timeMs = static_cast<std::int16_t>(data[i] | data[i + 1] << 8) * 97;
        m.track = static_cast<std::int8_t>(data[i + 2]);
        m.status = data[i + 3];
        m.d1 = data[i + 4];
        m.d2 = data[i + 5];
        messages.push_back(m);
    }
    const std::string smf = songs::BuildSmf(messages, title);
    if (smf.compare(0, 4, "MThd") != 0)
        abort();
    return 0;
}
