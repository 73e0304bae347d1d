// The lesson on a clock the test moves: the wait that only the right keys
// end, with the accompaniment waiting too; strikes scored against their
// notes in time; the A-B loop; the tempo stretching the gaps.
#include "performance/lesson.h"

#include <gtest/gtest.h>

using namespace performance;

namespace {

// Bars of 1 s. Upper: C4 at 0, E4 at 500, G4 at 1000; lower: C3 at 0, G3 at 500, C3 at 1000.
constexpr LessonBars kSecondBars{0, 1000};
std::vector<LessonNote> Song()
{
    return {{0, 400, true, 60}, {500, 400, true, 64}, {1000, 400, true, 67},
            {0, 400, false, 48}, {500, 400, false, 55}, {1000, 400, false, 48}};
}

std::vector<int> PitchesOf(const std::vector<LessonSound>& sounds)
{
    std::vector<int> out;
    for (const LessonSound& s : sounds)
        out.push_back(s.pitch);
    return out;
}

}  // namespace

TEST(Lesson, waitsForTheRightKeyWithTheAccompaniment)
{
    Lesson lesson(Song(), kSecondBars, LessonPart::Upper, LessonMode::Wait);
    lesson.start(0);
    EXPECT_TRUE(lesson.advance(0).empty()) << "the accompaniment struck with the first note waits for it";
    EXPECT_TRUE(lesson.waiting(0));
    ASSERT_EQ(lesson.upcoming(0).size(), 1u);
    EXPECT_EQ(lesson.upcoming(0)[0].pitch, 60);
    EXPECT_EQ(lesson.upcoming(1)[0].pitch, 64);

    EXPECT_EQ(lesson.strike(true, 62, 300), Lesson::Strike::Wrong);
    EXPECT_TRUE(lesson.advance(5000).empty()) << "a wrong key keeps it waiting";
    EXPECT_EQ(lesson.songMs(5000), 0);
    EXPECT_EQ(lesson.strike(false, 50, 5000), Lesson::Strike::Ignored) << "the accompaniment's keyboard";

    EXPECT_EQ(lesson.strike(true, 60, 6000), Lesson::Strike::Right);
    EXPECT_EQ(PitchesOf(lesson.advance(6000)), std::vector<int>{48});
    EXPECT_TRUE(lesson.advance(6499).empty());
    EXPECT_TRUE(lesson.advance(6500).empty()) << "the clock goes on from the note, and stops at the next";
    EXPECT_EQ(lesson.songMs(9000), 500);
    EXPECT_EQ(lesson.strike(true, 64, 9000), Lesson::Strike::Right);
    EXPECT_EQ(PitchesOf(lesson.advance(9000)), std::vector<int>{55});
    EXPECT_EQ(lesson.strike(true, 67, 9100), Lesson::Strike::Right) << "struck ahead, the song does not stop";
    EXPECT_EQ(PitchesOf(lesson.advance(9500)), std::vector<int>{48});
    EXPECT_TRUE(lesson.finished());

    const LessonResult r = lesson.result();
    EXPECT_EQ(r.notes, 3);
    EXPECT_EQ(r.right, 2) << "the note awaited with a wrong key is not right";
    EXPECT_EQ(r.wrong, 1);
    EXPECT_EQ(r.weakestBars, std::vector<int>{0});
}

TEST(Lesson, scoresEachStrikeInTime)
{
    std::vector<LessonNote> notes;
    for (int i = 0; i < 6; ++i)
        notes.push_back({1000 * i, 300, true, 60 + i});
    Lesson lesson(notes, LessonBars{0, 2000}, LessonPart::Upper, LessonMode::InTime);
    lesson.start(0);
    EXPECT_EQ(lesson.strike(true, 60, 70), Lesson::Strike::OnTime);
    EXPECT_EQ(lesson.strike(true, 61, 850), Lesson::Strike::Early);
    EXPECT_EQ(lesson.strike(true, 62, 2200), Lesson::Strike::Late);
    EXPECT_EQ(lesson.strike(true, 70, 3000), Lesson::Strike::Wrong);
    EXPECT_EQ(lesson.strike(true, 63, 3000), Lesson::Strike::OnTime);
    lesson.advance(4300);  // 64 unstruck, 300 ms after its time
    EXPECT_EQ(lesson.strike(true, 64, 4300), Lesson::Strike::Wrong) << "too late to be its note";
    EXPECT_EQ(lesson.upcoming(0)[0].pitch, 65);
    EXPECT_EQ(lesson.strike(true, 65, 4760), Lesson::Strike::Early) << "240 ms ahead";
    lesson.advance(6000);
    EXPECT_TRUE(lesson.finished());

    const LessonResult r = lesson.result();
    EXPECT_EQ(r.notes, 6);
    EXPECT_EQ(r.right, 2);
    EXPECT_EQ(r.early, 2);
    EXPECT_EQ(r.late, 1);
    EXPECT_EQ(r.missed, 1);
    EXPECT_EQ(r.wrong, 2);
    EXPECT_EQ(r.rightPercent(), 33);
    EXPECT_EQ(r.weakestBars, (std::vector<int>{2, 1, 0})) << "bar 2: a miss, a wrong key and an early note";
}

TEST(Lesson, loopRepeatsItsBarsUntilStopped)
{
    Lesson lesson(Song(), kSecondBars, LessonPart::Lower, LessonMode::InTime);
    lesson.setLoop(1, 1);
    lesson.start(0);
    std::vector<int> heard;
    for (std::int64_t t = 0; t <= 2500; t += 10) {
        for (int p : PitchesOf(lesson.advance(t)))
            heard.push_back(p);
        if (t == 900) {  // 130 ms before the next pass's C3, just before the loop goes round
            EXPECT_EQ(lesson.strike(false, 48, t), Lesson::Strike::Early);
            EXPECT_EQ(lesson.strike(false, 48, t + 20), Lesson::Strike::Wrong) << "struck once a pass";
        }
    }
    EXPECT_EQ(heard, (std::vector<int>{67, 67, 67})) << "bar 1 only, once each pass";
    EXPECT_FALSE(lesson.finished());
    EXPECT_EQ(lesson.result().missed, 2) << "the pass's C3 struck early is not missed";
    lesson.stop();
    EXPECT_TRUE(lesson.finished());
}

TEST(Lesson, halfTempoDoublesEveryGap)
{
    Lesson lesson(Song(), kSecondBars, LessonPart::Lower, LessonMode::InTime);
    lesson.setTempo(50);
    lesson.start(0);
    std::vector<std::pair<std::int64_t, int>> heard;
    for (std::int64_t t = 0; t <= 3000; ++t)
        for (const LessonSound& s : lesson.advance(t)) {
            heard.push_back({t, s.pitch});
            EXPECT_EQ(s.lengthMs, 800);
        }
    EXPECT_EQ(heard, (std::vector<std::pair<std::int64_t, int>>{{0, 60}, {1000, 64}, {2000, 67}}));
    // The windows are real time: 80 ms of the song late is 160 ms late.
    Lesson scored(Song(), kSecondBars, LessonPart::Lower, LessonMode::InTime);
    scored.setTempo(50);
    scored.start(0);
    EXPECT_EQ(scored.strike(false, 55, 1160), Lesson::Strike::Late);
    scored.setTempo(10);
    EXPECT_EQ(scored.tempo(), 40);
}

TEST(Lesson, aStruckChordTakesAlongWhatSoundsWithIt)
{
    // Upper: C4 with C7 at 0, C8 alone at 500, E4 at 1000; no key reaches C7
    // or C8. Lower: C3 a tick after the first chord, as a song switching
    // keyboards strikes it.
    std::vector<LessonNote> notes{{0, 400, true, 60}, {0, 400, true, 96}, {500, 400, true, 108},
                                  {1000, 400, true, 64}, {10, 400, false, 48}};
    Lesson lesson(notes, kSecondBars, LessonPart::Upper, LessonMode::Wait, [](const LessonNote& n) { return n.pitch < 90; });
    EXPECT_EQ(lesson.unreachable(), 2);
    lesson.start(0);
    EXPECT_TRUE(lesson.advance(1000).empty()) << "the chord's other note waits with the note struck";
    EXPECT_EQ(lesson.upcoming(0).size(), 1u);
    EXPECT_EQ(lesson.strike(true, 60, 2000), Lesson::Strike::Right);
    EXPECT_EQ(PitchesOf(lesson.advance(2000)), (std::vector<int>{96, 48})) << "at the strike, not a tick later";
    EXPECT_EQ(PitchesOf(lesson.advance(2500)), std::vector<int>{108}) << "a note alone off the keys does not stop the song";
    EXPECT_TRUE(lesson.waiting(3000));
    EXPECT_EQ(lesson.strike(true, 64, 3000), Lesson::Strike::Right);
    lesson.advance(3000);
    EXPECT_TRUE(lesson.finished());
    EXPECT_EQ(lesson.result().notes, 2);
    EXPECT_EQ(lesson.result().rightPercent(), 100);
}
