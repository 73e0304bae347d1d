// Recording through the window and playing it back: the records each
// action writes, in order, and what playback does with them.
#include "formfixture.h"

#include "notation/scoredrawing.h"
#include "notation/songscore.h"
#include "performance/capture.h"
#include "window/followwindow.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/testsystem.h"

namespace {

const char* const kHeaderOfDesignedKeyboards =
    "@TonD2    |@DiaZ0    |@YinL127  |@YueQ12   |@YinG36   |@XiaYTrue |@YinC100  |"
    "@TonD1    |@DiaZ0    |@YinL127  |@YueQ0    |@YinG36   |@XiaYTrue |@YinC100  ";

}  // namespace

class RecordingTest : public FormTest {
protected:
    // A take of two keys, `gapMs` apart, recorded with the panel's OK.
    void recordTwoKeys(Form2& f, MIDi* first, int a, std::int64_t gapMs, MIDi* second, int b)
    {
        f.Activate();
        confirmPanelSoon();
        click(1);
        strike(first, a);
        advance(gapMs);
        strike(second, b);
        click(7);
    }
};

TEST_F(RecordingTest, recordWaitsForThePanelThenWritesTheHeader)
{
    Form2& f = make();
    f.Activate();
    confirmPanelSoon(QStringLiteral("小星星"));
    click(1);
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(f.songCommands().isRecording());
    EXPECT_TRUE(control(QStringLiteral("Picture1"))->isHidden());
    EXPECT_EQ(title(), QStringLiteral("小星星"));
    for (int i : {0, 1, 5, 6, 7})
        EXPECT_TRUE(button(i)->isEnabled()) << i;
    for (int i : {2, 3, 4})
        EXPECT_FALSE(button(i)->isEnabled()) << i;
    EXPECT_EQ(face(1), "lit");

    click(7);  // Stop ends the recording
    EXPECT_FALSE(f.songCommands().isRecording());
    for (int i : {2, 3, 4})
        EXPECT_TRUE(button(i)->isEnabled()) << i;
    const auto recs = records(f.songCommands().scratchPath());
    EXPECT_EQ(joined(recs), std::string(kHeaderOfDesignedKeyboards) + "|@END 0    ");
    std::string title, author;
    ASSERT_TRUE(songs::ReadHeaderLine(f.songCommands().scratchPath().toStdString(), title, author));
    EXPECT_EQ(title, "小星星");
    EXPECT_EQ(author, "佚名");
}

TEST_F(RecordingTest, switchingHalvesWritesTonDThenDifferingSettingsThenTheNote)
{
    Form2& f = make();
    f.Activate();
    confirmPanelSoon();
    click(1);
    strike(lower, 24);  // first key: "@TonD" even though MIDi1 is already active
    advance(55);
    strike(lower, 26);
    advance(75);
    strike(upper, 31);  // other half, different instrument only
    f.settingsPanel().setListIndex(instrumentList(), 12);  // now equal to MIDi1? no: MIDi2 already has 12
    advance(25);
    lower->SetInstrument(12);  // make the halves equal
    strike(lower, 28);
    click(1);  // Record again stops

    const auto recs = records(f.songCommands().scratchPath());
    ASSERT_GT(recs.size(), 14u);
    EXPECT_EQ(joined(recs, 14),
              "@TonD1    |@YueQ0    |24   5    |26   7    |"
              "@TonD2    |@YueQ12   |31   2    |@YueQ12   |"
              "@TonD1    |28   10   |@END 0    ");
}

TEST_F(RecordingTest, aKeysNoteGoesOutBeforeItsRecordsWhichFollowAtOnce)
{
    Form2& f = make();
    f.Activate();
    confirmPanelSoon();
    click(1);
    const auto headerOnly = records(f.songCommands().scratchPath()).size();
    service.clear();
    strike(lower, 24);
    EXPECT_NE(service.bytes().find("90 "), std::string::npos);  // the note is out
    EXPECT_EQ(records(f.songCommands().scratchPath()).size(), headerOnly);      // its records are not yet
    QCoreApplication::processEvents();                            // the event loop comes back
    const auto recs = records(f.songCommands().scratchPath());
    ASSERT_GT(recs.size(), headerOnly);
    EXPECT_EQ(recs.back().tag + recs.back().value, "24   10   ");

    // A record the disk refuses then ends the recording, as it always has.
    songtest::DiskFull full(std::uintmax_t(QFileInfo(f.songCommands().scratchPath()).size()));
    if (!full.active())
        GTEST_SKIP() << "no way here to make the disk full";
    strike(lower, 26);
    QCoreApplication::processEvents();
    full.lift();
    EXPECT_FALSE(f.songCommands().isRecording());
    EXPECT_TRUE(button(2)->isEnabled());  // Play is offered again
}

TEST_F(RecordingTest, aControllerPlaysTheKeyboardsByChannelAndIsRecorded)
{
    Form2& f = make();
    f.Activate();
    confirmPanelSoon();
    click(1);
    service.clear();
    f.MidiIn_Note(true, 0, 60, 90);  // channel 1: the lower keyboard, key 60 - 36
    EXPECT_EQ(lower->keyColor(24), QColor(250, 210, 0));
    advance(50);
    f.MidiIn_Note(true, 1, 55, 90);  // channel 2: the upper keyboard
    f.MidiIn_Note(false, 1, 55, 0);  // the release restores the colour; the countdown ends the note
    EXPECT_EQ(upper->keyColor(19), QColor(255, 255, 255));
    advance(30);
    f.MidiIn_Note(true, 9, 62, 90);  // any other channel: the keyboard played last
    f.MidiIn_Note(true, 0, 20, 90);  // below the lower keyboard's keys: nothing
    f.MidiIn_Note(true, 0, 101, 90);  // above them: nothing
    click(1);

    std::vector<std::string> ons;
    for (const auto& m : service.messages)
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0)
            ons.push_back(std::to_string(m.status) + " " + std::to_string(m.data1) + " " + std::to_string(m.data2));
    // Each keyboard's own volume, as typed keys have: a song keeps no velocity.
    EXPECT_EQ(ons, (std::vector<std::string>{"144 60 127", "145 55 127", "145 62 127"}));
    EXPECT_EQ(joined(records(f.songCommands().scratchPath()), 14), "@TonD1    |@YueQ0    |24   5    |@TonD2    |@YueQ12   |19   3    |"
                                                    "26   10   |@END 0    ");

    // With the controller's velocity, live notes keep it.
    f.setLiveVelocity(true);
    service.clear();
    f.MidiIn_Note(true, 0, 64, 33);
    ASSERT_FALSE(service.messages.empty());
    EXPECT_EQ(service.messages.back().data2, 33);

    // During a playback the keyboards are not read, from a controller neither.
    click(2);
    ASSERT_TRUE(playing());
    service.clear();
    f.MidiIn_Note(true, 0, 67, 90);
    for (const auto& m : service.messages)
        EXPECT_FALSE((m.status & 0xF0) == 0x90 && m.data1 == 67);
}

TEST_F(RecordingTest, playbackRepeatsTheRecordedKeysOnTheirHalves)
{
    Form2& f = make();
    recordTwoKeys(f, lower, 24, 35, upper, 31);

    service.clear();
    click(2);
    EXPECT_TRUE(playing());
    EXPECT_FALSE(button(1)->isEnabled());
    EXPECT_FALSE(lower->Enabled());
    std::vector<std::pair<int, int>> notes;  // (status, note) of note-ons, in order
    for (int tick = 0; tick < 40 && playing(); ++tick) {
        const auto before = service.messages.size();
        f.songCommands().Timer3_Timer();
        for (auto i = before; i < service.messages.size(); ++i)
            if ((service.messages[i].status & 0xF0) == 0x90)
                notes.push_back({service.messages[i].status, service.messages[i].data1});
    }
    EXPECT_FALSE(playing());  // ended at "@END "
    EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{0x90, 60}, {0x91, 67}}));
    EXPECT_TRUE(button(1)->isEnabled());
    EXPECT_TRUE(lower->Enabled());
    EXPECT_EQ(&f.activeKeyboard(), upper);
    EXPECT_EQ(instrumentList()->currentIndex(), 12);  // the panel shows what playback applied
}

TEST_F(RecordingTest, playingAlongTheKeyboardsStayPlayableAndTheSongKeepsItsKeyboards)
{
    Form2& f = make();
    recordTwoKeys(f, lower, 24, 30, lower, 28);

    for (const bool along : {false, true}) {
        PlayingChoices choices;
        choices.playAlong = along;
        f.setChoices(choices);
        service.clear();
        click(2);
        EXPECT_EQ(upper->Enabled(), along);
        f.songCommands().Timer3_Timer();  // the song's header: the lower keyboard selected
        f.MidiIn_Note(true, 1, 55, 90);   // the player's key on the upper keyboard
        for (int tick = 0; tick < 40 && playing(); ++tick)
            f.songCommands().Timer3_Timer();
        std::vector<std::pair<int, int>> notes;
        for (const auto& m : service.messages)
            if ((m.status & 0xF0) == 0x90 && m.data2 > 0)
                notes.push_back({m.status, m.data1});
        if (along)
            EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{0x91, 55}, {0x90, 60}, {0x90, 64}}));
        else
            EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{0x90, 60}, {0x90, 64}}));
    }

    // 边听边弹 changed in the menu while a song plays applies at once.
    PlayingChoices choices;
    f.setChoices(choices);
    click(2);
    ASSERT_TRUE(playing());
    EXPECT_FALSE(lower->Enabled());
    choices.playAlong = true;
    f.setChoices(choices);
    EXPECT_TRUE(lower->Enabled());
    EXPECT_TRUE(upper->Enabled());
    choices.playAlong = false;
    f.setChoices(choices);
    EXPECT_FALSE(upper->Enabled());
}

TEST_F(RecordingTest, aHeldNoteKeepsItsLengthInTheSongAndInItsPlaybackAndExport)
{
    Form2& f = make();
    PlayingChoices hold;
    hold.holdLower = true;
    f.setChoices(hold);
    f.Activate();
    confirmPanelSoon();
    click(1);
    f.MidiIn_Note(true, 0, 60, 90);  // key 24, held 2 s
    advance(2000);
    f.MidiIn_Note(false, 0, 60, 0);
    advance(500);
    f.MidiIn_Note(true, 0, 62, 90);  // key 26, released at once
    f.MidiIn_Note(false, 0, 62, 0);
    click(7);
    const auto recs = records(f.songCommands().scratchPath(), songs::kFirstRecordSlot + 14);
    EXPECT_EQ(joined(recs), "@TonD1    |@YueQ0    |24   250  |@R124200  |26   10   |@R1260    |@END 0    ");

    // Played back: the note-off comes at its recorded tick, not by the countdown.
    service.clear();
    click(2);
    std::vector<std::pair<int, int>> events;  // (tick, status) of note 60
    for (int tick = 1; tick <= 400 && playing(); ++tick) {
        const auto before = service.messages.size();
        f.songCommands().Timer3_Timer();
        for (auto i = before; i < service.messages.size(); ++i)
            if (service.messages[i].data1 == 60 && (service.messages[i].status & 0xE0) == 0x80)
                events.push_back({tick, service.messages[i].status & 0xF0});
    }
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].second, 0x90);
    EXPECT_EQ(events[1].second, 0x80);
    EXPECT_EQ(events[1].first - events[0].first, 200);

    // And so in the MIDI file made of it.
    performance::SongCapture capture;
    std::string error;
    ASSERT_TRUE(performance::CaptureSong(f.songCommands().scratchPath().toStdString(), capture, error)) << error;
    std::int64_t on = -1, off = -1;
    for (const auto& m : capture.messages) {
        if ((m.status & 0xF0) == 0x90 && m.d1 == 60 && m.d2 > 0 && on < 0)
            on = m.timeMs;
        else if ((m.status & 0xF0) == 0x80 && m.d1 == 60 && on >= 0 && off < 0)
            off = m.timeMs;
    }
    EXPECT_NEAR(double(off - on), 2000.0, 10.0);
}

TEST_F(RecordingTest, playedSettingsMoveTheKnobsTheBoxAndTheSilencerFace)
{
    Form2& f = make();
    f.Activate();
    songs::SongRecorder rec;
    songs::HalfSettings half;
    half.silencer = true;
    ASSERT_TRUE(rec.start(f.songCommands().scratchPath().toStdString(), "歌", "人", half, half));
    rec.writeSettingRecord(songs::Tag::Keyboard, "1");
    rec.writeSettingRecord(songs::Tag::Intensity, "64");
    rec.writeSettingRecord(songs::Tag::Pitch, "12");
    rec.writeSettingRecord(songs::Tag::Mlong, "250");
    rec.writeSettingRecord(songs::Tag::Silencer, "False");
    rec.recordNote(3, 0);
    rec.stop();

    click(2);
    for (int tick = 0; tick < 40 && playing(); ++tick)
        f.songCommands().Timer3_Timer();
    EXPECT_FALSE(playing());
    // As the panel's own handlers would place them.
    EXPECT_DOUBLE_EQ(knob(2)->top(), 360 + 7.5 * (128 - 64));
    EXPECT_DOUBLE_EQ(knob(1)->top(), 360 + 240 * (4 - 12 / 12.0));
    EXPECT_EQ(control<QLineEdit>(QStringLiteral("Text3"))->text(), QStringLiteral("250"));
    EXPECT_EQ(lower->Mlong(), 250);
    EXPECT_FALSE(lower->Silencer());
    EXPECT_EQ(face(6), "normal");
}

TEST_F(RecordingTest, lockedSettingsAreSkippedDuringPlayback)
{
    Form2& f = make();
    f.Activate();
    confirmPanelSoon();
    click(1);
    click(7);
    lower->SetInstrument(33);
    click(8);
    click(2);
    for (int tick = 0; tick < 10 && playing(); ++tick)
        f.songCommands().Timer3_Timer();
    EXPECT_EQ(lower->Instrument(), 33);
    EXPECT_EQ(&f.activeKeyboard(), lower);
}

TEST_F(RecordingTest, aScratchFileThatCannotBeReplacedEndsTheCommandCleanly)
{
    Form2& f = make();
    // A folder where the scratch file should be: it can be neither deleted nor created.
    QDir().mkpath(f.songCommands().scratchPath());
    QFile inside(f.songCommands().scratchPath() + QStringLiteral("/keep"));
    ASSERT_TRUE(inside.open(QIODevice::WriteOnly));
    inside.close();
    confirmPanelSoon();
    click(1);
    EXPECT_FALSE(f.songCommands().isRecording());
    for (int i : {1, 2, 3, 4})
        EXPECT_TRUE(button(i)->isEnabled()) << i;
    EXPECT_EQ(face(1), "normal");
    EXPECT_TRUE(QFileInfo::exists(f.songCommands().scratchPath() + QStringLiteral("/keep")));
    strike(lower, 24);  // playing on is harmless
}

TEST_F(RecordingTest, keysDuringTheOpenPanelWriteNothing)
{
    Form2& f = make();
    f.Activate();
    QTimer::singleShot(0, &f, [&] {
        strike(lower, 40);  // random play reaching a key while the panel waits
        f.songCommands().Command1_Click();
    });
    click(1);
    click(7);
    EXPECT_EQ(joined(records(f.songCommands().scratchPath())), std::string(kHeaderOfDesignedKeyboards) + "|@END 0    ");
}

TEST_F(RecordingTest, aFullSongStopsWithItsEndMarker)
{
    Form2& f = make();
    f.Activate();
    confirmPanelSoon();
    click(1);
    // Keys until the song has no slot left for a note.
    for (int i = 0; i <= songs::kLastNoteSlot && f.songCommands().isRecording(); ++i)
        strike(lower, 24 + i % 2);
    EXPECT_FALSE(f.songCommands().isRecording());
    EXPECT_TRUE(button(2)->isEnabled());
    const auto last = records(f.songCommands().scratchPath(), 32768);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].tag + last[0].value, "@END 0    ");
}

TEST_F(RecordingTest, theLastTakeIsKeptAndACancelledRecordTouchesNothing)
{
    Form2& f = make();
    f.Activate();
    const QByteArray take = [&] {
        songs::SongRecorder rec;
        EXPECT_TRUE(rec.start(f.songCommands().scratchPath().toStdString(), "录音A", "甲", {}, {}));
        rec.recordNote(5, 3);
        rec.stop();
        QFile file(f.songCommands().scratchPath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }();

    // Esc on the panel: the command ends, the file and the buttons as before.
    button(4)->setEnabled(false);
    QTimer::singleShot(0, &f, [this] {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(control<QLineEdit>(QStringLiteral("Text1")), &esc);
    });
    click(1);
    EXPECT_FALSE(f.songCommands().isRecording());
    EXPECT_TRUE(control(QStringLiteral("Picture1"))->isHidden());
    for (int i = 0; i <= 7; ++i)
        EXPECT_EQ(button(i)->isEnabled(), i != 4) << i;
    EXPECT_TRUE(lower->Enabled());
    QFile scratch(f.songCommands().scratchPath());
    ASSERT_TRUE(scratch.open(QIODevice::ReadOnly));
    EXPECT_EQ(scratch.readAll(), take);
    scratch.close();

    // A take whose time stamp names it is pruned beyond the newest 50; a song
    // the user saved into the folder under a name of its own never is.
    const QString takes = f.songCommands().musicFolder() + QStringLiteral("/录音");
    QDir().mkpath(takes);
    for (int i = 0; i < 55; ++i)
        QFile(takes + QStringLiteral("/2001-01-01 00-00-%1 old.hbk").arg(i, 2, 10, QLatin1Char('0'))).open(QIODevice::WriteOnly);
    QFile(takes + QStringLiteral("/我的歌.hbk")).open(QIODevice::WriteOnly);

    confirmPanelSoon(QStringLiteral("录音B"));
    click(1);
    ASSERT_TRUE(f.songCommands().isRecording());
    strike(lower, 24);
    click(7);
    const QStringList kept = QDir(takes).entryList({QStringLiteral("*.hbk")}, QDir::Files, QDir::Name);
    EXPECT_EQ(kept.size(), 51);
    EXPECT_TRUE(kept.contains(QStringLiteral("我的歌.hbk")));
    EXPECT_FALSE(kept.contains(QStringLiteral("2001-01-01 00-00-05 old.hbk")));
    const QStringList mine = kept.filter(QStringLiteral(" 录音A.hbk"));
    ASSERT_EQ(mine.size(), 1);
    QFile keptTake(takes + QLatin1Char('/') + mine[0]);
    ASSERT_TRUE(keptTake.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptTake.readAll(), take);
    std::string title, author;
    ASSERT_TRUE(songs::ReadHeaderLine(f.songCommands().scratchPath().toStdString(), title, author));
    EXPECT_EQ(title, "录音B");

    // Another program recording into the shared scratch file: this one
    // records into a file of its own and Save offers that take.
    songs::ScratchLock other;
    ASSERT_TRUE(other.tryLock(f.songCommands().scratchPath().toStdString()));
    confirmPanelSoon(QStringLiteral("录音C"));
    click(1);
    EXPECT_NE(f.songCommands().shownSong(), f.songCommands().scratchPath());
    click(7);
    ASSERT_TRUE(songs::ReadHeaderLine(f.songCommands().scratchPath().toStdString(), title, author));
    EXPECT_EQ(title, "录音B");
    ASSERT_TRUE(songs::ReadHeaderLine(f.songCommands().shownSong().toStdString(), title, author));
    EXPECT_EQ(title, "录音C");
}

TEST_F(RecordingTest, aFullDiskNeverLetsEmptyTakesPushOutRealOnes)
{
    Form2& f = make();
    f.Activate();
    std::vector<QString> notices;
    f.songCommands().notice = [&notices](const QString& text) { notices.push_back(text); };
    auto recordOneKey = [&](const QString& title) {
        confirmPanelSoon(title);
        click(1);
        strike(lower, 24);
        click(7);
    };
    const QString takes = f.songCommands().musicFolder() + QStringLiteral("/录音");
    auto takesHolding = [&](const char* title) {
        return QDir(takes).entryList({QStringLiteral("* %1.hbk").arg(QString::fromUtf8(title))}, QDir::Files).size();
    };
    recordOneKey(QStringLiteral("甲"));
    recordOneKey(QStringLiteral("乙"));  // 甲 is a take now, 乙 the scratch file
    // 48 older takes: with 甲 and 乙 the folder is full.
    QFile::copy(f.songCommands().scratchPath(), takes + QStringLiteral("/2001-01-01 00-00-00 old.hbk"));
    for (int i = 1; i < 48; ++i)
        QFile::copy(takes + QStringLiteral("/2001-01-01 00-00-00 old.hbk"),
                    takes + QStringLiteral("/2001-01-01 00-00-%1 old.hbk").arg(i, 2, 10, QLatin1Char('0')));

    {
        // The disk is full: no file may grow.
        songtest::DiskFull full(0);
        if (!full.active())
            GTEST_SKIP() << "no way here to make the disk full";
        for (int attempt = 0; attempt < 5; ++attempt)
            recordOneKey(QStringLiteral("丙"));
        EXPECT_FALSE(f.songCommands().isRecording());
    }
    EXPECT_EQ(notices.size(), 5u) << "one notice for each Record that could not write";
    EXPECT_EQ(takesHolding("甲"), 1);
    EXPECT_EQ(takesHolding("乙"), 1);
    // A scratch file the full disk left without a note is no take, and
    // keeping nothing makes room for nothing.
    EXPECT_EQ(takesHolding("old"), 48);
    for (const QFileInfo& take : QDir(takes).entryInfoList({QStringLiteral("*.hbk")}, QDir::Files))
        EXPECT_GT(take.size(), songs::kHeaderBytes) << take.fileName().toStdString();

    // A disk that fills up during a recording: the take ends, says so once,
    // and keeps what it wrote.
    notices.clear();
    confirmPanelSoon(QStringLiteral("丁"));
    click(1);
    strike(lower, 24);
    QCoreApplication::processEvents();
    ASSERT_TRUE(f.songCommands().isRecording());
    {
        songtest::DiskFull full(QFileInfo(f.songCommands().scratchPath()).size());
        strike(lower, 26);
        QCoreApplication::processEvents();
        strike(lower, 28);
        QCoreApplication::processEvents();
        EXPECT_FALSE(f.songCommands().isRecording());
    }
    click(7);
    EXPECT_EQ(notices.size(), 1u);
    // The next recording that can be written makes room for itself.
    recordOneKey(QStringLiteral("戊"));
    EXPECT_EQ(takesHolding("丁"), 1);
    EXPECT_EQ(takesHolding("乙"), 1);
    EXPECT_EQ(QDir(takes).entryList({QStringLiteral("*.hbk")}, QDir::Files).size(), 50);
}

TEST_F(RecordingTest, theLiveScoreOfARecordingIsInItsKeyUnderItsTitle)
{
    Form2& f = make();
    f.Activate();
    f.settingsPanel().setListIndex(keyList(), 2);  // 调 D on the lower keyboard
    f.showFollowWindow();
    FollowWindow& follow = *f.followWindowIfShown();
    confirmPanelSoon(QStringLiteral("我的曲子"));
    click(1);
    for (const int key : {24, 26, 28})  // D E F#
        strike(lower, key);
    QCoreApplication::processEvents();
    follow.rescoreRecording();
    // (Struck within moments, the keys may be written as one chord.)
    const notation::Score& live = follow.score();
    EXPECT_EQ(live.title, "我的曲子");
    EXPECT_EQ(live.tonic, 2);
    ASSERT_FALSE(live.lower.empty());
    for (const notation::Note& n : live.lower) {
        if (n.pitch >= 0) {
            EXPECT_EQ(notation::Spell(live, n).digit, char('1' + (n.pitch - 62) / 2)) << n.pitch;  // D E F# are 1 2 3
        }
    }
    // The same take written down afterwards is in the same key.
    click(7);
    notation::Score written;
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(notation::ScoreOfFile(f.songCommands().scratchPath().toStdString(), std::nullopt, written, error, notices))
        << error;
    EXPECT_EQ(written.tonic, live.tonic);
}

TEST(FollowWindowTest, theMarkFollowsRepeatsPassesTiedNotesAndMarksTheSyllableSung)
{
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("tune.txt"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("2/4\n上: |: 1 2~ | 2 3 :|\n词: 一 二 _\n");
    file.close();
    FollowWindow follow;
    follow.resize(600, 400);
    follow.showSong(text);
    std::vector<int> marked;
    for (const int key : {60, 62, 64, 60, 62, 64}) {
        follow.struck(true, key);
        marked.push_back(follow.marked().second);
    }
    // The tied-on 2 (note 2) is never struck; the repeat starts over.
    EXPECT_EQ(marked, (std::vector<int>{0, 1, 3, 0, 1, 3}));
    // On 3, whose syllable is held from the note before, that one is marked.
    QImage image(follow.page()->size(), QImage::Format_RGB32);
    follow.page()->render(&image);
    const QRectF held = follow.page()->drawing()->boxOf(true, 1);
    int yellow = 0;
    for (int y = int(held.bottom()) + 8; y < int(held.bottom()) + 30; ++y)
        for (int x = int(held.left()); x < int(held.right()); ++x) {
            const QColor c = image.pixelColor(x, y);
            yellow += c.red() > 200 && c.green() > 180 && c.blue() < 120 ? 1 : 0;
        }
    EXPECT_GT(yellow, 10) << "二 marked";
}
