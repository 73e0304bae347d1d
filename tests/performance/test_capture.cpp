// The song played on a virtual clock: what is captured, and that the live
// port of a running window is left alone.
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"
#include "performance/capture.h"
#include "songs/recorder.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

namespace {

// Notes as (key, ticks to the next one); the last note gets the recorder's 10.
std::string makeSong(const QTemporaryDir& dir, const std::vector<std::pair<int, int>>& notes)
{
    const std::string path = dir.filePath(QStringLiteral("song.hbk")).toStdString();
    songs::SongRecorder rec;
    songs::HalfSettings upper;
    upper.instrument = 12;
    upper.silencer = true;
    songs::HalfSettings lower;
    lower.silencer = false;  // chords sound whole
    EXPECT_TRUE(rec.start(path, "和弦", "佚名", upper, lower));
    int gap = 0;
    for (const auto& [key, next] : notes) {
        rec.recordNote(std::int16_t(key), std::int16_t(gap));
        gap = next;
    }
    rec.stop();
    return path;
}

}  // namespace

TEST(Capture, keysOfOneTickSoundAtTheSameTimeAndEndOnce)
{
    QTemporaryDir dir;
    const auto path = makeSong(dir, {{24, 0}, {28, 0}, {31, 20}, {36, 10}});
    performance::SongCapture capture;
    std::string error;
    ASSERT_TRUE(performance::CaptureSong(path, capture, error)) << error;
    EXPECT_EQ(capture.title, "和弦");

    std::map<int, std::int64_t> on, off;
    for (const auto& m : capture.messages) {
        if ((m.status & 0xF0) == 0x90 && m.d2 > 0) {
            EXPECT_EQ(on.count(m.d1), 0u) << "struck twice: " << int(m.d1);
            on[m.d1] = m.timeMs;
        } else if ((m.status & 0xF0) == 0x80) {
            EXPECT_EQ(off.count(m.d1), 0u) << "ended twice: " << int(m.d1);
            off[m.d1] = m.timeMs;
        }
    }
    ASSERT_EQ(on.size(), 4u);
    EXPECT_EQ(on[60], on[64]);
    EXPECT_EQ(on[64], on[67]);
    EXPECT_EQ(on[72] - on[60], 200);
    // The countdown ends each note ten to eleven steps of 100 ms after its strike.
    for (const auto& [note, t] : on) {
        ASSERT_EQ(off.count(note), 1u) << note;
        EXPECT_GE(off[note] - t, 1000) << note;
        EXPECT_LE(off[note] - t, 1100) << note;
    }
    EXPECT_GE(capture.silentMs, on[72] + 1000);
}

TEST(Capture, theLivePortIsLeftAsItWas)
{
    QTemporaryDir dir;
    const auto path = makeSong(dir, {{24, 5}});
    RecordingService live;
    MidiOut port(&live);
    ASSERT_TRUE(port.OpenMidiOut(-1));
    const auto handle = port.MidiOutHandle();
    live.clear();

    performance::SongCapture capture;
    std::string error;
    ASSERT_TRUE(performance::CaptureSong(path, capture, error)) << error;
    EXPECT_FALSE(capture.messages.empty());
    EXPECT_EQ(port.Service(), &live);
    EXPECT_EQ(port.MidiOutHandle(), handle);
    EXPECT_TRUE(live.calls.empty());
    port.NoteOn(0, 60, 100);
    EXPECT_EQ(live.bytes(), "90 3C 64");
}

TEST(Capture, whatIsNoSongIsRefusedWithAReason)
{
    QTemporaryDir dir;
    performance::SongCapture capture;
    std::string error;
    EXPECT_FALSE(performance::CaptureSong(dir.filePath(QStringLiteral("none.hbk")).toStdString(), capture, error));
    EXPECT_NE(error.find("No such file"), std::string::npos);
    EXPECT_FALSE(performance::CaptureSong(dir.path().toStdString(), capture, error));
    EXPECT_NE(error.find("is a folder"), std::string::npos);
    const std::string empty = dir.filePath(QStringLiteral("empty.hbk")).toStdString();
    FILE* f = std::fopen(empty.c_str(), "wb");
    std::fclose(f);
    EXPECT_FALSE(performance::CaptureSong(empty, capture, error));
    EXPECT_NE(error.find("not a song"), std::string::npos);
}
