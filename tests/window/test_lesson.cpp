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
