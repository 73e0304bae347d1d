// 练习 on the window: the next key marked on the player's keyboard, the
// accompaniment waiting for the right key, and the result in the display.
#include "formfixture.h"
#include "instrument/keyboardview.h"
#include "window/lessonrun.h"

using LessonTest = FormTest;

TEST_F(LessonTest, theAccompanimentWaitsForTheMarkedKeyAndTheResultShows)
{
    Form2& f = make();
    chooseText("1=C\n上: 1 2 |\n下: 1, 5, |\n", QStringLiteral("duet.txt"));
    click(4);
    ASSERT_TRUE(playing());
    f.lesson().setMonotonicClock([this] { return clockMs; });
    ASSERT_TRUE(f.lesson().start(f.songCommands().shownSong(), performance::LessonPart::Upper));
    EXPECT_FALSE(playing()) << "the lesson takes the song's place";
    EXPECT_TRUE(title().startsWith(QStringLiteral("练习 上 · 等待")));

    const int c4 = 60 - upper->Pitch() - upper->Tone();
    const auto heard = [this](int note) {
        QCoreApplication::processEvents();
        for (const auto& m : service.messages)
            if ((m.status & 0xF0) == 0x90 && m.data2 > 0 && m.data1 == note)
                return true;
        return false;
    };
    EXPECT_EQ(upper->keyboardView()->lessonKeys(), std::vector<int>{c4});
    service.clear();
    upper->PlayLive(c4 + 4, true);  // E4: wrong
    upper->PlayLive(c4 + 4, false);
    advance(3000);
    f.lesson().tick();
    EXPECT_FALSE(heard(48)) << "a wrong key keeps the accompaniment waiting";
    EXPECT_EQ(upper->keyboardView()->lessonKeys(), std::vector<int>{c4});

    upper->PlayLive(c4, true);
    upper->PlayLive(c4, false);
    EXPECT_TRUE(heard(48)) << "the right key lets it go on at once";
    EXPECT_EQ(upper->keyboardView()->lessonKeys(), std::vector<int>{c4 + 2});
    advance(5000);
    f.lesson().tick();
    EXPECT_FALSE(heard(55)) << "and it waits at the next note";
    upper->PlayLive(c4 + 2, true);
    upper->PlayLive(c4 + 2, false);
    EXPECT_TRUE(heard(55));
    advance(5000);
    f.lesson().tick();
    EXPECT_FALSE(f.lesson().running());
    EXPECT_TRUE(upper->keyboardView()->lessonKeys().empty());
    EXPECT_EQ(title(), QStringLiteral("练习结束：对 50%（1/2），早 0，晚 0，错 1，漏 0；多练第 1 小节"));
}

TEST_F(LessonTest, withTheMetronomeATakeKeepsNoClickAndALessonOnItIsCountedInAtItsOwnBeat)
{
    Form2& f = make();
    PlayingChoices c = f.choices();
    c.metronome = true;
    c.metronomeTempo = 120;
    c.metronomeBeats = 3;
    c.metronomeUnit = 4;
    f.setChoices(c);
    const auto clicks = [this] {
        std::string s;
        for (const auto& m : service.messages)
            if (m.status == 0x99)
                s += (s.empty() ? "" : ",") + std::to_string(m.data1) + "/" + std::to_string(m.data2);
        return s;
    };
    EXPECT_EQ(clicks(), "76/127") << "beat one sounds at once on channel 10, accented";

    // A take to the metronome: its count-in click is no note of it.
    service.clear();
    f.Activate();
    confirmPanelSoon();
    click(1);
    EXPECT_EQ(clicks(), "76/127") << "the take's count-in starts a bar";
    strike(upper, 12);
    click(7);
    const auto recs = records(f.songCommands().scratchPath());
    const std::string take = joined(recs);
    EXPECT_NE(take.find("@SuDu120  |@PaiH3/4  "), std::string::npos) << take;
    EXPECT_EQ(std::count_if(recs.begin(), recs.end(), [](const Rec& r) { return r.tag[0] != '@'; }), 1) << take;

    // Another beat chosen; the lesson on the take keeps the take's own: a
    // bar of three beats at 120 (1.5 s) is counted in before its first note.
    c.metronomeTempo = 60;
    c.metronomeBeats = 4;
    f.setChoices(c);
    f.lesson().setMonotonicClock([this] { return clockMs; });
    service.clear();
    ASSERT_TRUE(f.lesson().start(f.songCommands().scratchPath(), performance::LessonPart::Upper));
    EXPECT_EQ(clicks(), "76/127");
    EXPECT_EQ(f.lesson().lesson()->songMs(clockMs), -1500);
    advance(1500);
    EXPECT_EQ(f.lesson().lesson()->songMs(clockMs), 0);
    f.lesson().stop();

    // Without the metronome the lesson starts at once.
    c.metronome = false;
    f.setChoices(c);
    ASSERT_TRUE(f.lesson().start(f.songCommands().scratchPath(), performance::LessonPart::Upper));
    EXPECT_EQ(f.lesson().lesson()->songMs(clockMs), 0);
}
