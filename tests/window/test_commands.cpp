// The ten picture buttons: dispatch, faces, enabled states, save and random play.
#include "formfixture.h"
#include "window/followwindow.h"
#include "window/randomplay.h"

#include "songs/recorder.h"
#include "songs/smf.h"

#include <QFileDialog>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

#include <deque>
#include <set>

using CommandTest = FormTest;

TEST_F(CommandTest, aClickWhileRandomPlayRunsSwitchesItOffFirst)
{
    make();
    click(9);
    EXPECT_EQ(face(9), "lit");
    const bool logo = lower->Logo();
    click(5);  // key names, after random play is off
    EXPECT_EQ(face(9), "normal");
    EXPECT_EQ(lower->Logo(), !logo);
    EXPECT_EQ(upper->Logo(), false);  // only the active keyboard

    click(9);
    click(9);  // a click on random play itself only stops it
    EXPECT_EQ(face(9), "normal");
}

TEST_F(CommandTest, theKeyNamesLampShowsWhetherTheActiveKeyboardsStripShows)
{
    Form2& f = make();
    const auto lit = [&] { return face(5) == "lit"; };
    EXPECT_TRUE(lower->Logo());
    EXPECT_TRUE(lit());  // the strip shows from the start
    click(5);
    EXPECT_FALSE(lower->Logo());
    EXPECT_FALSE(lit());
    strike(upper, 3);  // the upper keyboard, without its strip, becomes the active one
    click(5);
    EXPECT_TRUE(upper->Logo());
    EXPECT_TRUE(lit());
    strike(lower, 3);
    EXPECT_FALSE(lit());
    // A song that plays on the upper keyboard makes it the active one too.
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(f.songCommands().scratchPath().toStdString(), "歌", "人", songs::HalfSettings{}, songs::HalfSettings{}));
    rec.writeSettingRecord(songs::Tag::Keyboard, "2");
    rec.recordNote(5, 0);
    rec.stop();
    click(2);
    for (int tick = 0; tick < 100 && playing(); ++tick)
        f.songCommands().Timer3_Timer();
    EXPECT_EQ(&f.activeKeyboard(), upper);
    EXPECT_TRUE(lit());
}

TEST_F(CommandTest, pressedNormalAndLitFaces)
{
    Form2& f = make();
    mouse(8, QEvent::MouseButtonPress);
    EXPECT_EQ(face(8), "pressed");
    mouse(8, QEvent::MouseButtonRelease, true);  // let go past its edge: no click
    EXPECT_EQ(face(8), "normal");
    EXPECT_FALSE(f.songCommands().locked());
    click(8);
    EXPECT_TRUE(f.songCommands().locked());
    EXPECT_EQ(face(8), "lit");
    click(8);
    EXPECT_FALSE(f.songCommands().locked());
    EXPECT_EQ(face(8), "normal");
}

TEST_F(CommandTest, silencerTogglesMutesAndShowsItsFace)
{
    make();
    service.clear();
    click(6);
    EXPECT_FALSE(lower->Silencer());
    EXPECT_TRUE(upper->Silencer());
    EXPECT_EQ(face(6), "normal");
    EXPECT_EQ(service.messages.size(), 65u);  // the notes still sounding are ended
    click(6);
    EXPECT_TRUE(lower->Silencer());
    EXPECT_EQ(face(6), "lit");
}

TEST_F(CommandTest, playAndStopSetTheEnabledStates)
{
    Form2& f = make();
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(f.songCommands().scratchPath().toStdString(), "歌", "人", songs::HalfSettings{}, songs::HalfSettings{}));
    rec.recordNote(5, 0);
    rec.recordNote(7, 200);
    rec.stop();

    // While a song plays, the keyboards take no mouse and Record, Save and
    // Open wait; Play shows it is lit. Stopped, everything is given back.
    const auto expectPlaying = [&](bool on) {
        EXPECT_EQ(playing(), on);
        for (int i : {1, 3, 4})
            EXPECT_EQ(button(i)->isEnabled(), !on) << i;
        EXPECT_EQ(lower->Enabled(), !on);
        EXPECT_EQ(upper->Enabled(), !on);
        EXPECT_EQ(face(2), on ? "lit" : "normal");
    };
    click(2);
    expectPlaying(true);
    click(7);  // Stop
    expectPlaying(false);

    // Without a scratch recording Play ends at once, as at the end marker:
    // no note, and everything it switched off is on again.
    QFile::remove(f.songCommands().scratchPath());
    service.clear();
    click(2);
    expectPlaying(false);
    for (const auto& m : service.messages)
        EXPECT_NE(m.status & 0xF0, 0x90);
}

TEST_F(CommandTest, saveCopiesTheScratchFileAndNeverDestroysTheTarget)
{
    Form2& f = make();
    confirmPanelSoon(QStringLiteral("  我的歌  "));  // a take under a title with blanks around it
    click(1);
    click(7);
    QFile scratch(f.songCommands().scratchPath());
    ASSERT_TRUE(scratch.open(QIODevice::WriteOnly | QIODevice::Truncate));
    scratch.write(QByteArray(300, 'r'));
    scratch.close();

    QString proposed;
    QString answer;
    f.fileDialog().chooser = [&](bool save, const Co& d) {
        EXPECT_TRUE(save);
        proposed = d.FileName;
        return answer;
    };
    // A cancelled dialog copies nothing.
    click(3);
    EXPECT_EQ(proposed, QStringLiteral("我的歌"));
    EXPECT_FALSE(QFileInfo::exists(f.songCommands().musicFolder() + QStringLiteral("/我的歌.hbk")));

    answer = f.songCommands().musicFolder() + QStringLiteral("/我的歌.hbk");
    click(3);
    QFile copy(answer);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(300, 'r'));
    copy.close();

    EXPECT_TRUE(warnings.empty());

    // Saving again over it replaces the whole file with the new recording.
    ASSERT_TRUE(scratch.open(QIODevice::WriteOnly | QIODevice::Truncate));
    scratch.write(QByteArray(120, 's'));
    scratch.close();
    click(3);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(120, 's'));
    copy.close();
    // No half-written copy is left beside it.
    EXPECT_TRUE(QDir(f.songCommands().musicFolder()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).isEmpty());

    // A target that cannot be written is reported and nothing is created.
    answer = dir.path() + QStringLiteral("/no/such/folder/song.hbk");
    click(3);
    EXPECT_FALSE(QFileInfo::exists(answer));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("song.hbk")));

    // Without a scratch recording the saved song stays as it was, and the
    // user hears that nothing was saved.
    answer = f.songCommands().musicFolder() + QStringLiteral("/我的歌.hbk");
    QFile::remove(f.songCommands().scratchPath());
    click(3);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(120, 's'));
    copy.close();
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(CommandTest, randomPlayStrikesTheActiveKeyboardAsTheGeneratorSays)
{
    std::deque<double> draws;
    const auto rnd = [&] {
        const double r = draws.front();
        draws.pop_front();
        return r;
    };
    const auto step = [&](std::deque<double> three) {
        draws = std::move(three);
        const RandomStep s = NextRandomStep(rnd);
        return std::vector<int>{s.waitMs, s.key, s.ticks};
    };
    // Spread round(0.9 * 3) = 3: wait round(0.5 * 900 + 1) = 451 ms; key round(0.5 * 64) = 32, held 45 ticks.
    EXPECT_EQ(step({0.9, 0.5, 0.5}), (std::vector<int>{451, 32, 45}));
    // Spread round(0.5) = 0 (halves to even): a 1 ms wait, held no tick.
    EXPECT_EQ(step({1.0 / 6, 0.7, 0.0}), (std::vector<int>{1, 0, 0}));
    // Keys 0 and 64 are half as likely as the others; every key is reachable.
    std::vector<int> counts(65, 0);
    const int n = 64 * 200;
    for (int i = 0; i < n; ++i)
        ++counts[step({0.5, 0.5, (i + 0.5) / n})[1]];
    EXPECT_EQ(counts[0], 100);
    EXPECT_EQ(counts[64], 100);
    EXPECT_EQ(counts[32], 200);

    // Each tick re-seeds, then strikes on the keyboard played last.
    Form2& f = make();
    int seeds = 0;
    f.Randomize = [&] { ++seeds; };
    f.Rnd = rnd;
    std::vector<std::int16_t> keys;
    QObject::connect(upper, &MIDi::NotePlayed, [&](std::int16_t k) { keys.push_back(k); });
    strike(upper, 3);
    draws = {0.9, 0.5, 0.5};
    f.Timer4_Timer();
    EXPECT_EQ(keys, (std::vector<std::int16_t>{3, 32}));
    EXPECT_EQ(seeds, 1);
}

TEST_F(CommandTest, theSaveDialogOffersSongsFirstThenMidiAndAudio)
{
    Form2& f = make();
    EXPECT_EQ(Co::kSongFilter, QStringLiteral("  *.hbk(Harbeck音乐文件 )|*.hbk"));
    QStringList offered;
    QString answer;
    f.fileDialog().chooser = [&](bool, const Co& d) {
        offered = d.qtFilters();
        return answer;
    };
    QStringList exported;
    f.songCommands().exportMidi = [&](const QString& song, const QString& target) {
        exported << QStringLiteral("mid ") + song + QStringLiteral(" -> ") + target;
        return true;
    };
    f.songCommands().exportWav = [&](const QString& song, const QString& target) {
        exported << QStringLiteral("wav ") + song + QStringLiteral(" -> ") + target;
        return true;
    };
    answer = dir.path() + QStringLiteral("/out.mid");
    click(3);
    ASSERT_EQ(offered.size(), 3);
    EXPECT_EQ(offered[0], QStringLiteral("  *.hbk(Harbeck音乐文件 ) (*.hbk)"));
    EXPECT_EQ(offered[1], QStringLiteral("MIDI 文件 (*.mid)"));
    EXPECT_EQ(offered[2], QStringLiteral("WAV 音频 (*.wav)"));
    answer = dir.path() + QStringLiteral("/out.wav");
    click(3);
    EXPECT_EQ(exported, (QStringList{QStringLiteral("mid ") + f.songCommands().scratchPath() + QStringLiteral(" -> ") + dir.path() + QStringLiteral("/out.mid"),
                                     QStringLiteral("wav ") + f.songCommands().scratchPath() + QStringLiteral(" -> ") + dir.path() + QStringLiteral("/out.wav")}));
    // Without a synthesizer to render it (Windows) no audio is offered.
    f.songCommands().exportWav = nullptr;
    answer.clear();
    click(3);
    EXPECT_EQ(offered.size(), 2);
    // The open dialog offers everything it opens first, then the songs, MIDI
    // files and jianpu texts each.
    answer.clear();
    click(4);
    EXPECT_EQ(offered, (QStringList{QStringLiteral("全部可打开的文件 (*.hbk *.mid *.midi *.txt *.jianpu)"),
                                    QStringLiteral("  *.hbk(Harbeck音乐文件 ) (*.hbk)"),
                                    QStringLiteral("MIDI 文件 (*.mid *.midi)"), QStringLiteral("简谱文件 (*.txt *.jianpu)")}));
}

TEST_F(CommandTest, theRealOpenDialogSpeaksChineseWhateverTheSystemLocale)
{
    Form2& f = make();
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Co::UseChinese();  // as the program does once its window shows
    const QString music = f.songCommands().musicFolder();
    QFile song(music + QStringLiteral("/歌.hbk"));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly));
    song.write(QByteArray(552, 's'));
    song.close();
    ASSERT_TRUE(QDir(music).mkpath(QStringLiteral("旧歌")));
    QStringList shown, filters;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        auto* view = dialog->findChild<QTreeView*>();
        const auto row = [view](const QString& name) {
            QAbstractItemModel* model = view->model();
            return model->match(model->index(0, 0, view->rootIndex()), Qt::DisplayRole, name, 1, Qt::MatchExactly).value(0);
        };
        // The folder is read on a thread of the dialog's own.
        QTest::qWaitFor([&] { return row(QStringLiteral("歌.hbk")).isValid() && row(QStringLiteral("旧歌")).isValid(); }, 10000);
        for (const QString& name : {QStringLiteral("歌.hbk"), QStringLiteral("旧歌")})
            for (int column = 1; column < 4; ++column)
                shown << row(name).siblingAtColumn(column).data().toString();
        dialog->reject();
    });
    f.fileDialog().chooser = nullptr;
    click(4);
    QLocale::setDefault(before);
    EXPECT_EQ(filters.value(0), QStringLiteral("全部可打开的文件 (*.hbk *.mid *.midi *.txt *.jianpu)"));
    ASSERT_EQ(shown.size(), 6) << shown.join(QLatin1Char('|')).toStdString();
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    EXPECT_EQ(shown[0], chinese.formattedDataSize(552));
    EXPECT_EQ(shown[2], chinese.toString(QFileInfo(song).lastModified(), QLocale::ShortFormat));
    EXPECT_EQ(shown[4], QStringLiteral("文件夹"));
    for (const QString& text : shown)
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{3}")))) << text.toStdString();
}

TEST_F(CommandTest, anOpenedMidiFilePlaysAndSaveKeepsItAsASong)
{
    Form2& f = make();
    // The last take, not saved yet.
    QFile scratch(f.songCommands().scratchPath());
    ASSERT_TRUE(scratch.open(QIODevice::WriteOnly));
    scratch.write(QByteArray(300, 'r'));
    scratch.close();
    const QString midi = dir.path() + QStringLiteral("/tune.mid");
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(),
                                {{0, songs::kLowerTrack, 0x90, 60, 100}, {500, songs::kLowerTrack, 0x90, 64, 100}},
                                "小调"));
    QString answer = midi;
    f.fileDialog().chooser = [&](bool, const Co&) { return answer; };
    service.clear();
    click(4);
    EXPECT_TRUE(playing());
    EXPECT_EQ(title(), QStringLiteral("小调"));
    for (int tick = 0; tick < 100 && playing(); ++tick)
        f.songCommands().Timer3_Timer();
    std::vector<int> notes;
    for (const auto& m : service.messages)
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0)
            notes.push_back(m.data1);
    EXPECT_EQ(notes, (std::vector<int>{60, 64}));

    // Save keeps the song made of it; the take in the scratch file stays.
    answer = dir.path() + QStringLiteral("/kept.hbk");
    click(3);
    EXPECT_EQ(records(answer).size(), records(f.songCommands().shownSong()).size());
    EXPECT_NE(f.songCommands().shownSong(), f.songCommands().scratchPath());
    ASSERT_TRUE(scratch.open(QIODevice::ReadOnly));
    EXPECT_EQ(scratch.readAll(), QByteArray(300, 'r'));
    scratch.close();
    std::string savedTitle, savedAuthor;
    ASSERT_TRUE(songs::ReadHeaderLine(answer.toStdString(), savedTitle, savedAuthor));
    EXPECT_EQ(savedTitle, "小调");

    // A file that only looks like a MIDI file is refused without a word.
    const QString bad = dir.path() + QStringLiteral("/bad.mid");
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("MThd\0\0\0\6\0\1\0\1\0\0");  // a division of 0
    file.close();
    const QString before = f.songCommands().shownSong();
    answer = bad;
    click(4);
    EXPECT_FALSE(playing());
    EXPECT_EQ(f.songCommands().shownSong(), before);
    EXPECT_EQ(title(), QStringLiteral("无法打开 bad.mid"));
    f.endNotice();
    EXPECT_EQ(title(), QStringLiteral("小调"));
    EXPECT_TRUE(warnings.empty());

    // One longer than a song plays its start, and the display says how much.
    std::vector<songs::TimedMessage> many;
    for (int i = 0; i < 40000; ++i)
        many.push_back({i * 20, songs::kLowerTrack, 0x90, std::uint8_t(48 + i % 24), 100});
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(), many, "长曲"));
    answer = midi;
    click(4);
    EXPECT_TRUE(playing());
    EXPECT_EQ(title(), QStringLiteral("只导入了前 32743 个音符"));
    f.endNotice();
    EXPECT_EQ(title(), QStringLiteral("长曲"));
    click(7);
}

TEST_F(CommandTest, anOpenedJianpuTextPlaysAndTheScoreFollowsTheNotes)
{
    Form2& f = make();
    QFile file(chooseText("标题: 小曲\n1=D\n下: 1 2_ 3_ 1' |\n"));
    f.showFollowWindow();
    FollowWindow& follow = *f.followWindowIfShown();
    service.clear();
    click(4);
    EXPECT_TRUE(playing());
    EXPECT_EQ(title(), QStringLiteral("小曲"));
    EXPECT_EQ(follow.score().lower.size(), 4u);
    std::vector<int> notes, marked;
    for (int tick = 0; tick < 300 && playing(); ++tick) {
        f.songCommands().Timer3_Timer();
        QCoreApplication::processEvents();
        if (marked.empty() || marked.back() != follow.marked().second)
            marked.push_back(follow.marked().second);
    }
    for (const auto& m : service.messages)
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0)
            notes.push_back(m.data1);
    EXPECT_EQ(notes, (std::vector<int>{62, 64, 66, 74}));
    // Each note marked as it sounds, in turn.
    EXPECT_EQ(marked, (std::vector<int>{-1, 0, 1, 2, 3}));

    // A typed tune with a mistake says where it is, and nothing plays.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1=D\n下: 1 2 x 3 |\n");
    file.close();
    click(4);
    EXPECT_FALSE(playing());
    EXPECT_EQ(title(), QStringLiteral("tune.txt 第2行第8列有误"));
    // One saved as GBK plays; one in neither encoding says so, in words.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xB1\xEA\xCC\xE2: \xD0\xA1\xC7\xFA\n1 2 3 |\n");  // 标题: 小曲
    file.close();
    click(4);
    EXPECT_TRUE(playing());
    EXPECT_EQ(title(), QStringLiteral("小曲"));
    for (int tick = 0; tick < 300 && playing(); ++tick)
        f.songCommands().Timer3_Timer();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xFF\xFE\n1 2 3 |\n");
    file.close();
    click(4);
    EXPECT_FALSE(playing());
    EXPECT_EQ(title(), QStringLiteral("tune.txt 不是 UTF-8 文本"));
}

TEST_F(CommandTest, halfTempoDoublesEveryGapAndNoteLength)
{
    Form2& f = make();
    chooseText("1=C\n下: 1 2_ 3_ 5 - |\n");
    // Each note-on (+note) and note-off (-note) at its time on the window's
    // clock from the first, the clock moved a millisecond at a time; and how
    // long the first key shows down.
    const auto playAt = [&](int percent, int& shown) {
        PlayingChoices c = f.choices();
        c.tempo = percent;
        f.setChoices(c);
        service.clear();
        click(4);
        std::vector<std::pair<std::int64_t, int>> heard;
        std::int64_t first = -1;
        for (int ms = 0; ms < 20000 && playing(); ++ms, advance(1)) {
            const std::size_t seen = service.messages.size();
            f.songCommands().playbackDue();
            for (std::size_t i = seen; i < service.messages.size(); ++i) {
                const auto& m = service.messages[i];
                const bool on = (m.status & 0xF0) == 0x90 && m.data2 > 0;
                if ((m.status & 0xE0) != 0x80)
                    continue;  // neither a note-on nor a note-off
                if (first < 0) {
                    first = clockMs;
                    shown = lower->playTimes(*lower->keyOfNote(m.data1));
                }
                heard.push_back({clockMs - first, on ? m.data1 : -m.data1});
            }
        }
        return heard;
    };
    int shownOwn = 0, shownHalf = 0;
    const auto own = playAt(100, shownOwn);
    const auto half = playAt(50, shownHalf);
    ASSERT_EQ(own.size(), 8u) << "four notes, each ended by its length";
    ASSERT_EQ(half.size(), own.size());
    for (std::size_t i = 0; i < own.size(); ++i)
        EXPECT_EQ(half[i], std::make_pair(2 * own[i].first, own[i].second)) << i;
    EXPECT_EQ(shownHalf, 2 * shownOwn);
}

TEST_F(CommandTest, openPlaysTheChosenSongAndACancelDoesNothing)
{
    Form2& f = make();
    const QString song = dir.path() + QStringLiteral("/chosen.hbk");
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(song.toStdString(), "茉莉花", "李四", songs::HalfSettings{}, songs::HalfSettings{}));
    rec.recordNote(5, 0);
    rec.stop();

    QString answer;
    f.fileDialog().chooser = [&](bool save, const Co&) {
        EXPECT_FALSE(save);
        return answer;
    };
    click(4);  // cancelled
    EXPECT_EQ(f.songCommands().shownSong(), f.songCommands().scratchPath());
    EXPECT_FALSE(playing());

    answer = song;
    click(4);
    EXPECT_EQ(f.songCommands().shownSong(), song);
    EXPECT_EQ(title(), QStringLiteral("茉莉花"));
    EXPECT_EQ(author(), QStringLiteral("李四"));
    EXPECT_TRUE(playing());
    for (int i : {1, 3, 4})
        EXPECT_FALSE(button(i)->isEnabled()) << i;
    click(7);
    EXPECT_FALSE(playing());
    for (int i : {1, 3, 4})
        EXPECT_TRUE(button(i)->isEnabled()) << i;

    // A file that holds no song header ends the command where its header
    // would be read: the chosen path is kept, the captions and the buttons
    // stay as they were and nothing plays, then or on Play.
    for (const QByteArray& bytes : {QByteArray(), QByteArray("no header here"), QByteArray(200, '\0')}) {
        const QString bad = dir.path() + QStringLiteral("/bad.hbk");
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        answer = bad;
        service.clear();
        click(4);
        EXPECT_EQ(title(), QStringLiteral("无法打开 bad.hbk"));
        f.endNotice();
        EXPECT_EQ(title(), QStringLiteral("茉莉花")) << bytes.size();
        EXPECT_EQ(author(), QStringLiteral("李四"));
        EXPECT_FALSE(playing());
        EXPECT_TRUE(lower->Enabled());
        for (int i : {1, 3, 4})
            EXPECT_TRUE(button(i)->isEnabled()) << i;
        EXPECT_EQ(face(2), "normal");
        click(2);  // it is the chosen file that Play plays: no note
        for (int tick = 0; tick < 100 && playing(); ++tick)
            f.songCommands().Timer3_Timer();
        for (const auto& m : service.messages)
            EXPECT_NE(m.status & 0xF0, 0x90);
    }
}

TEST_F(CommandTest, saveKeepsTheSongOnTheDisplayAndNeverOverwritesTheOpenSong)
{
    Form2& f = make();
    const auto write = [](const QString& path, const char* title) {
        songs::SongRecorder rec;
        EXPECT_TRUE(rec.start(path.toStdString(), title, "人", {}, {}));
        rec.recordNote(7, 2);
        rec.stop();
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    const QByteArray take = write(f.songCommands().scratchPath(), "录音A");
    const QString opened = f.songCommands().musicFolder() + QStringLiteral("/qwe 小星星.hbk");
    const QByteArray song = write(opened, "qwe 小星星");
    QString proposed, answer = opened;
    f.fileDialog().chooser = [&](bool, const Co& d) {
        proposed = d.FileName;
        return answer;
    };
    click(4);
    click(7);
    // Save proposes the title, whose file is the one open: nothing changes.
    click(3);
    EXPECT_EQ(proposed, QStringLiteral("qwe 小星星"));
    const auto bytes = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(bytes(opened), song);
    EXPECT_EQ(bytes(f.songCommands().scratchPath()), take);
    // Elsewhere it writes the song shown, not the last take.
    answer = dir.path() + QStringLiteral("/copy.hbk");
    click(3);
    EXPECT_EQ(bytes(answer), song);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(CommandTest, aSongOfTheBankIsListedInItsGroupAndPlaysAtOnceOnBothKeyboards)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("曲库")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(SONAREL_SONGBANK "/molihua.jianpu"), dir.path() + QStringLiteral("/曲库/molihua.jianpu")));
    Form2& f = make();
    QMenu menu;
    f.songCommands().addBankMenu(&menu);
    QMenu* bank = menu.findChild<QMenu*>();
    ASSERT_NE(bank, nullptr);
    EXPECT_EQ(bank->title(), QStringLiteral("曲库"));
    ASSERT_EQ(bank->actions().size(), 1);
    QMenu* folk = bank->actions().front()->menu();
    ASSERT_NE(folk, nullptr);
    EXPECT_EQ(folk->title(), QStringLiteral("民歌"));
    ASSERT_EQ(folk->actions().size(), 1);
    EXPECT_EQ(folk->actions().front()->text(), QStringLiteral("茉莉花  1=F  ★★"));
    EXPECT_TRUE(f.fileDialog().Places.contains(dir.path() + QStringLiteral("/曲库")));

    service.clear();
    folk->actions().front()->trigger();
    EXPECT_TRUE(playing());
    EXPECT_EQ(title(), QStringLiteral("茉莉花"));
    std::set<int> channels;
    for (int tick = 0; tick < 200 && playing(); ++tick) {
        f.songCommands().Timer3_Timer();
        QCoreApplication::processEvents();
    }
    for (const auto& m : service.messages)
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0)
            channels.insert(m.status & 0x0F);
    EXPECT_EQ(channels.size(), 2u) << "both keyboards play";
    // 显示简谱 draws the text, lyrics and all, not the song made of it.
    f.showFollowWindow();
    const auto& sung = f.followWindowIfShown()->score().upper;
    EXPECT_TRUE(std::any_of(sung.begin(), sung.end(), [](const notation::Note& n) { return n.lyric == "茉"; }));
}
