// The metronome's beat on a clock the test moves: every click at its own
// time from the first, beat one accented, missed clicks not piled up, and
// each click on the percussion channel only.
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"
#include "performance/metronome.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono;
using performance::BeatClock;
using performance::Click;
using performance::Metronome;

TEST(Metronome, clicksKeepTheirOwnTimesWithBeatOneAccented)
{
    steady_clock::time_point now{};
    std::vector<std::pair<milliseconds, Click>> heard;
    const auto at = [&now] { return duration_cast<milliseconds>(now.time_since_epoch()); };
    std::vector<int> handed;  // the tempo an output that times clicks is given, 0 for a stop
    Metronome m([&](const Click& c) { heard.push_back({at(), c}); }, [&now] { return now; },
                [&handed](const BeatClock* b) { handed.push_back(b ? b->tempo() : 0); });
    BeatClock beat;
    beat.setTempo(120);
    beat.setMeter(3, 4);
    m.start(beat);
    // The timer is aimed at the next click's own time, wherever the tick fell.
    EXPECT_EQ(m.Timer.interval(), 500);
    now += milliseconds(503);  // a late tick
    m.clickTick();
    EXPECT_EQ(m.Timer.interval(), 497);
    now += milliseconds(497);
    m.clickTick();
    now += milliseconds(1700);  // held up: the clicks at 1500 and 2000 are past
    m.clickTick();
    m.clickTick();  // nothing new is due
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].first, milliseconds(0));
    EXPECT_EQ(heard[1].first, milliseconds(503));
    EXPECT_EQ(heard[2].first, milliseconds(1000));
    EXPECT_EQ(heard[3].first, milliseconds(2700));  // the click of 2500, late, not three at once
    EXPECT_TRUE(heard[0].second.accent);
    EXPECT_FALSE(heard[1].second.accent);
    EXPECT_FALSE(heard[2].second.accent);
    EXPECT_FALSE(heard[3].second.accent);  // 2500 is beat three of bar two
    EXPECT_GT(heard[0].second.velocity, heard[1].second.velocity);
    EXPECT_NE(heard[0].second.note, heard[1].second.note);
    // A restart (the count-in of a take) puts beat one at once.
    now += milliseconds(100);
    m.start(beat);
    EXPECT_TRUE(heard.back().second.accent);
    EXPECT_EQ(heard.back().first, milliseconds(2800));
    // Re-timed half way through beat one: half way at the new pace, the bar counted on.
    now += milliseconds(250);
    beat.setTempo(60);
    m.retime(beat);
    now += milliseconds(2500);
    m.clickTick();
    EXPECT_TRUE(heard.back().second.accent) << "beat one of the next bar, 2.5 s on";
    EXPECT_EQ(handed.back(), 60) << "an output timing clicks takes the new beat over there";
    m.stop();
    EXPECT_FALSE(m.Timer.isActive());

    // The clock's limits, and the tempo a song keeps: quarters a minute.
    beat.setTempo(20);
    EXPECT_EQ(beat.tempo(), BeatClock::kSlowest);
    beat.setTempo(300);
    EXPECT_EQ(beat.tempo(), BeatClock::kFastest);
    beat.setTempo(120);
    beat.setMeter(6, 8);
    beat.setMeter(5, 3);  // no note value: the unit stays
    EXPECT_EQ(beat.unit(), 8);
    EXPECT_EQ(beat.songTime().tempo, 60);
    EXPECT_EQ(beat.songTime().beats, 5);
}

TEST(Metronome, clicksGoToThePercussionChannelAndEndTheClickBefore)
{
    RecordingService service;
    MidiOut port(&service);
    ASSERT_TRUE(port.OpenMidiOut(-1));
    auto send = performance::ClickSender(&port);
    send({true, BeatClock::kAccentNote, BeatClock::kAccentVelocity});
    send({false, BeatClock::kBeatNote, BeatClock::kBeatVelocity});
    // A note-off may go out with velocity 0 as a note-on; either ends it.
    EXPECT_EQ(service.bytes().substr(0, 8), "99 4C 7F");
    EXPECT_EQ(service.bytes().substr(service.bytes().size() - 8), "99 4D 50");
    ASSERT_EQ(service.messages.size(), 3u);
    EXPECT_EQ(service.messages[1].data1, 76);
    EXPECT_EQ(service.messages[1].status & 0x0F, 9);
}
