// 练习 on the window: the next key marked on the player's keyboard, the
// accompaniment waiting for the right key, and the result in the display.
#include "formfixture.h"
#include "instrument/keyboardview.h"
#include "window/followwindow.h"
#include "performance/metronome.h"
#include "window/lessonrun.h"
#include "notation/scoredrawing.h"
#include "songs/smf.h"

#include <set>

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
    EXPECT_EQ(title(), QStringLiteral("练习结束：对 50%（1/2），早 0，晚 0，错 1，漏 0；多练第 1 小节；最好 50%"));
}

// A tune of three bars of 2/4 at ♩=120 (a bar is a second), opened and drawn.
class ScoredLessonTest : public FormTest {
protected:
    Form2& open(const char* tune)
    {
        Form2& f = make();
        const QString text = dir.path() + QStringLiteral("/tune.txt");
        QFile file(text);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(tune);
        file.close();
        f.fileDialog().chooser = [text](bool, const Co&) { return text; };
        click(4);
        f.lesson().setMonotonicClock([this] { return clockMs; });
        return f;
    }
    void press(int pitch, MIDi* keyboard = nullptr)
    {
        keyboard = keyboard ? keyboard : upper;
        const int key = pitch - keyboard->Pitch() - keyboard->Tone();
        keyboard->PlayLive(key, true);
        keyboard->PlayLive(key, false);
        QCoreApplication::processEvents();
    }
    // The lower keyboard's notes heard since the last call.
    std::vector<int> heard()
    {
        QCoreApplication::processEvents();
        std::vector<int> notes;
        for (const auto& m : service.messages)
            if (m.status == 0x90 && m.data2 > 0)
                notes.push_back(m.data1);
        service.clear();
        return notes;
    }
};

TEST_F(ScoredLessonTest, theBarsClickedInTheScoreRepeatMarkedInBothWays)
{
    Form2& f = open("1=C 2/4 ♩=120\n上: 1 2 | 3 4 | 5 6 | 1' |\n下: 1, 1, | 3, 3, | 5, 5, | 1 |\n");
    f.showFollowWindow();
    FollowWindow& follow = *f.followWindowIfShown();
    ScorePage* page = follow.page();
    const auto clickBar = [page](int bar) {
        const QPointF at = page->drawing()->barBoxes(0, bar).front().center();
        QMouseEvent e(QEvent::MouseButtonPress, at, page->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(page, &e);
    };
    const auto line = [&follow] { return follow.findChild<QLabel*>(QStringLiteral("loopLine"))->text(); };
    clickBar(2);
    EXPECT_EQ(line(), QStringLiteral("循环从第 3 小节起，再点最后一个小节"));
    clickBar(1);
    EXPECT_EQ(line(), QStringLiteral("练习循环第 2–3 小节"));
    EXPECT_EQ(page->lessonMarks().loop, (std::pair{1, 2})) << "the chosen bars are shaded";

    // Waiting: the loop's notes marked in turn, and after its last the first again.
    service.clear();
    ASSERT_TRUE(f.lesson().start(f.songCommands().shownSong(), performance::LessonPart::Upper));
    const auto next = [page] { return page->lessonMarks().next; };
    for (int pass = 0; pass < 2; ++pass) {
        advance(100);
        f.lesson().tick();
        EXPECT_EQ(next(), (std::set<std::pair<bool, int>>{{true, 2}})) << "pass " << pass;
        press(64);
        EXPECT_EQ(heard(), std::vector<int>{52}) << "the accompaniment repeats with the loop";
        for (const int pitch : {65, 67, 69}) {
            advance(500);
            f.lesson().tick();
            if (pass == 0 && pitch == 69)
                press(71);  // wrong, in the last bar
            press(pitch);
        }
        EXPECT_EQ(heard(), (std::vector<int>{52, 55, 55}));
        EXPECT_EQ(next(), (std::set<std::pair<bool, int>>{{true, 2}})) << "the loop's first, not the bar after it";
        advance(600);
        f.lesson().tick();
    }
    f.lesson().stop();
    EXPECT_EQ(page->lessonMarks().weak, std::set<int>{2}) << "the bar of the wrong key";
    EXPECT_TRUE(page->lessonMarks().next.empty());
    EXPECT_FALSE(title().contains(QStringLiteral("最好"))) << "a loop is no result for the song";

    // In time, the same bars over and over with nothing struck.
    heard();
    f.lesson().mode = performance::LessonMode::InTime;
    ASSERT_TRUE(f.lesson().start(f.songCommands().shownSong(), performance::LessonPart::Upper));
    for (int ms = 0; ms < 5000; ms += 10) {
        f.lesson().tick();
        advance(10);
    }
    EXPECT_EQ(heard(), (std::vector<int>{52, 52, 55, 55, 52, 52, 55, 55, 52, 52})) << "five seconds, two bars a pass";
    f.lesson().stop();

    follow.findChild<QPushButton*>(QStringLiteral("clearLoop"))->click();
    EXPECT_EQ(page->lessonMarks().loop.first, -1);
}

TEST_F(ScoredLessonTest, theBestResultOfASongIsKeptAcrossARestart)
{
    const char* tune = "1=C 2/4\n下: 1 2 |\n";
    Form2& first = open(tune);
    ASSERT_TRUE(first.lesson().start(first.songCommands().shownSong(), performance::LessonPart::Lower));
    press(60, lower);
    press(62, lower);
    advance(2000);
    first.lesson().tick();
    EXPECT_TRUE(title().endsWith(QStringLiteral("；最好 100%"))) << title().toStdString();
    const QString kept = dir.filePath(QStringLiteral("config/sonarel.conf"));
    ASSERT_TRUE(SaveChoices(kept, first.choices()));

    Form2& second = open(tune);
    second.setChoices(LoadChoices(kept));
    ASSERT_TRUE(second.lesson().start(second.songCommands().shownSong(), performance::LessonPart::Lower));
    press(64, lower);
    press(60, lower);
    press(62, lower);
    advance(2000);
    second.lesson().tick();
    EXPECT_TRUE(title().startsWith(QStringLiteral("练习结束：对 50%"))) << title().toStdString();
    EXPECT_TRUE(title().endsWith(QStringLiteral("；最好 100%"))) << title().toStdString();

    // The list stays bounded: the song practised longest ago goes.
    PlayingChoices many = second.choices();
    for (int i = 0; i < kMostLessonBests; ++i)
        KeepLessonBest(many, QString::number(i), 10);
    ASSERT_TRUE(SaveChoices(kept, many));
    const PlayingChoices back = LoadChoices(kept);
    EXPECT_EQ(back.lessonBests.size(), std::size_t(kMostLessonBests));
    EXPECT_EQ(back, many);
    EXPECT_EQ(KeepLessonBest(many, dir.path() + QStringLiteral("/tune.txt"), -1), -1);
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
    c.tempo = 50;
    f.setChoices(c);
    EXPECT_EQ(f.metronome().beat().tempo(), 60) << "the take's 120 at the lesson's new half";
    f.lesson().stop();
    // A MIDI file's own beat: 2/4 at 120, at 50 % a bar of 2 s, 1 s of the song.
    const QString midi = dir.path() + QStringLiteral("/two.mid");
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(), {{0, songs::kLowerTrack, 0x90, 60, 100}},
                                songs::SmfHeading{"二拍", {}, {}, {120, 2, 4}}));
    f.fileDialog().chooser = [midi](bool, const Co&) { return midi; };
    click(4);
    ASSERT_TRUE(f.lesson().start(f.songCommands().shownSong(), performance::LessonPart::Both));
    EXPECT_EQ(f.lesson().lesson()->songMs(clockMs), -1000);

    // Without the metronome the lesson starts at once.
    c.metronome = false;
    f.setChoices(c);
    ASSERT_TRUE(f.lesson().start(f.songCommands().scratchPath(), performance::LessonPart::Upper));
    EXPECT_EQ(f.lesson().lesson()->songMs(clockMs), 0);
}
