// The ten picture buttons: dispatch, faces, enabled states, save and random play.
#include "formfixture.h"
#include "window/followwindow.h"

#include "songs/recorder.h"
#include "songs/smf.h"

#include <QFileDialog>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

#include <deque>

using CommandTest = FormTest;

TEST_F(CommandTest, aClickWhileRandomPlayRunsSwitchesItOffFirst)
{
    Form2& f = make();
    FormParts w(f);
    f.Com_Click(9);
    EXPECT_TRUE(w.Timer4.isActive());
    EXPECT_EQ(w.Com[9]->face().toImage(), w.Image5.toImage());
    const bool logo = w.MIDi1->Logo();
    f.Com_Click(5);  // key names, after random play is off
    EXPECT_FALSE(w.Timer4.isActive());
    EXPECT_EQ(w.Com[9]->face().toImage(), w.Image4.toImage());
    EXPECT_EQ(w.MIDi1->Logo(), !logo);
    EXPECT_EQ(w.MIDi2->Logo(), false);  // only the active keyboard

    f.Com_Click(9);
    f.Com_Click(9);  // a click on random play itself only stops it
    EXPECT_FALSE(w.Timer4.isActive());
}

TEST_F(CommandTest, theKeyNamesLampShowsWhetherTheActiveKeyboardsStripShows)
{
    Form2& f = make();
    FormParts w(f);
    const auto lit = [&] { return w.Com[5]->face().toImage() == w.Image5.toImage(); };
    EXPECT_TRUE(w.MIDi1->Logo());
    EXPECT_TRUE(lit());  // the strip shows from the start
    f.Com_MouseDown(5);
    f.Com_MouseUp(5);
    f.Com_Click(5);
    EXPECT_FALSE(w.MIDi1->Logo());
    EXPECT_FALSE(lit());
    strike(w.MIDi2, 3);  // the upper keyboard, without its strip, becomes the active one
    f.Com_Click(5);
    EXPECT_TRUE(w.MIDi2->Logo());
    EXPECT_TRUE(lit());
    strike(w.MIDi1, 3);
    EXPECT_FALSE(lit());
    // A song that plays on the upper keyboard makes it the active one too.
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(f.songCommands().scratchPath().toStdString(), "歌", "人", songs::HalfSettings{}, songs::HalfSettings{}));
    rec.writeSettingRecord(songs::Tag::Keyboard, "2");
    rec.recordNote(5, 0);
    rec.stop();
    f.Com_Click(2);
    for (int tick = 0; tick < 100 && w.Timer3.isActive(); ++tick)
        f.songCommands().Timer3_Timer();
    EXPECT_EQ(w.ActiveMIDi, w.MIDi2);
    EXPECT_TRUE(lit());
}

TEST_F(CommandTest, pressedNormalAndLitFaces)
{
    Form2& f = make();
    FormParts w(f);
    f.Com_MouseDown(8);
    EXPECT_EQ(w.Com[8]->face().toImage(), w.Image3.toImage());
    f.Com_MouseUp(8);
    EXPECT_EQ(w.Com[8]->face().toImage(), w.Image4.toImage());
    f.Com_Click(8);
    EXPECT_TRUE(w.LockSettings);
    EXPECT_EQ(w.Com[8]->face().toImage(), w.Image5.toImage());
    f.Com_Click(8);
    EXPECT_FALSE(w.LockSettings);
    EXPECT_EQ(w.Com[8]->face().toImage(), w.Image4.toImage());
}

TEST_F(CommandTest, silencerTogglesMutesAndShowsItsFace)
{
    Form2& f = make();
    FormParts w(f);
    service.clear();
    f.Com_Click(6);
    EXPECT_FALSE(w.MIDi1->Silencer());
    EXPECT_TRUE(w.MIDi2->Silencer());
    EXPECT_EQ(w.Com[6]->face().toImage(), w.Image4.toImage());
    EXPECT_EQ(service.messages.size(), 65u);  // the notes still sounding are ended
    f.Com_Click(6);
    EXPECT_TRUE(w.MIDi1->Silencer());
    EXPECT_EQ(w.Com[6]->face().toImage(), w.Image5.toImage());
}

TEST_F(CommandTest, playAndStopSetTheEnabledStates)
{
    Form2& f = make();
    FormParts w(f);
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(f.songCommands().scratchPath().toStdString(), "歌", "人", songs::HalfSettings{}, songs::HalfSettings{}));
    rec.recordNote(5, 0);
    rec.recordNote(7, 200);
    rec.stop();

    // While a song plays, the keyboards take no mouse and Record, Save and
    // Open wait; Play shows it is lit. Stopped, everything is given back.
    const auto expectPlaying = [&](bool playing) {
        EXPECT_EQ(w.Timer3.isActive(), playing);
        for (int i : {1, 3, 4})
            EXPECT_EQ(w.Com[i]->isEnabled(), !playing) << i;
        EXPECT_EQ(w.MIDi1->Enabled(), !playing);
        EXPECT_EQ(w.MIDi2->Enabled(), !playing);
        EXPECT_EQ(w.Com[2]->face().toImage(), (playing ? w.Image5 : w.Image4).toImage());
    };
    f.Com_Click(2);
    expectPlaying(true);
    f.Com_Click(7);  // Stop
    expectPlaying(false);

    // Without a scratch recording Play ends at once, as at the end marker:
    // no note, and everything it switched off is on again.
    QFile::remove(f.songCommands().scratchPath());
    service.clear();
    f.Com_Click(2);
    expectPlaying(false);
    for (const auto& m : service.messages)
        EXPECT_NE(m.status & 0xF0, 0x90);
}

TEST_F(CommandTest, saveCopiesTheScratchFileAndNeverDestroysTheTarget)
{
    Form2& f = make();
    FormParts w(f);
    QFile scratch(f.songCommands().scratchPath());
    ASSERT_TRUE(scratch.open(QIODevice::WriteOnly));
    scratch.write(QByteArray(300, 'r'));
    scratch.close();
    w.Label3->setText(QStringLiteral("  我的歌  "));

    QString proposed;
    QString answer;
    w.co.chooser = [&](bool save, const Co& d) {
        EXPECT_TRUE(save);
        proposed = d.FileName;
        return answer;
    };
    // A cancelled dialog copies nothing.
    f.Com_Click(3);
    EXPECT_EQ(proposed, QStringLiteral("我的歌"));
    EXPECT_FALSE(QFileInfo::exists(w.AppDir + QStringLiteral("Music/我的歌.hbk")));

    answer = w.AppDir + QStringLiteral("Music/我的歌.hbk");
    f.Com_Click(3);
    QFile copy(answer);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(300, 'r'));
    copy.close();

    EXPECT_TRUE(warnings.empty());

    // Saving again over it replaces the whole file with the new recording.
    ASSERT_TRUE(scratch.open(QIODevice::WriteOnly | QIODevice::Truncate));
    scratch.write(QByteArray(120, 's'));
    scratch.close();
    f.Com_Click(3);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(120, 's'));
    copy.close();
    // No half-written copy is left beside it.
    EXPECT_TRUE(QDir(w.AppDir + QStringLiteral("Music")).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).isEmpty());

    // A target that cannot be written is reported and nothing is created.
    answer = dir.path() + QStringLiteral("/no/such/folder/song.hbk");
    f.Com_Click(3);
    EXPECT_FALSE(QFileInfo::exists(answer));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("song.hbk")));

    // Without a scratch recording the saved song stays as it was, and the
    // user hears that nothing was saved.
    answer = w.AppDir + QStringLiteral("Music/我的歌.hbk");
    QFile::remove(f.songCommands().scratchPath());
    f.Com_Click(3);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray(120, 's'));
    copy.close();
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(CommandTest, randomPlayIntervalAndKeyComeFromTheGenerator)
{
    Form2& f = make();
    FormParts w(f);
    std::deque<double> draws;
    f.Randomize = [] {};
    f.Rnd = [&] {
        const double r = draws.front();
        draws.pop_front();
        return r;
    };
    std::vector<std::int16_t> keys;
    QObject::connect(w.MIDi1, &MIDi::NotePlayed, [&](std::int16_t& k) { keys.push_back(k); });

    // a = round(0.9 * 3) = 3; interval = round(0.5 * 900 + 1) = 451; key = round(0.5 * 64) = 32.
    draws = {0.9, 0.5, 0.5};
    f.Timer4_Timer();
    EXPECT_EQ(w.Timer4.interval(), 451);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], 32);
    // a = round(0.5) = 0 (halves to even): a 1 ms interval and nTime 0.
    draws = {1.0 / 6, 0.7, 0.0};
    f.Timer4_Timer();
    EXPECT_EQ(w.Timer4.interval(), 1);
    EXPECT_EQ(keys.back(), 0);
    // Keys 0 and 64 are half as likely as the others; every key is reachable.
    std::vector<int> counts(65, 0);
    const int n = 64 * 200;
    for (int i = 0; i < n; ++i) {
        draws = {0.5, 0.5, (i + 0.5) / n};
        f.Timer4_Timer();
        ++counts[keys.back()];
    }
    EXPECT_EQ(counts[0], 100);
    EXPECT_EQ(counts[64], 100);
    EXPECT_EQ(counts[32], 200);
}

TEST_F(CommandTest, theSaveDialogOffersSongsFirstThenMidiAndAudio)
{
    Form2& f = make();
    FormParts w(f);
    EXPECT_EQ(Co::kSongFilter, QStringLiteral("  *.hbk(Harbeck音乐文件 )|*.hbk"));
    QStringList offered;
    QString answer;
    w.co.chooser = [&](bool, const Co& d) {
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
    f.Com_Click(3);
    ASSERT_EQ(offered.size(), 3);
    EXPECT_EQ(offered[0], QStringLiteral("  *.hbk(Harbeck音乐文件 ) (*.hbk)"));
    EXPECT_EQ(offered[1], QStringLiteral("MIDI 文件 (*.mid)"));
    EXPECT_EQ(offered[2], QStringLiteral("WAV 音频 (*.wav)"));
    answer = dir.path() + QStringLiteral("/out.wav");
    f.Com_Click(3);
    EXPECT_EQ(exported, (QStringList{QStringLiteral("mid ") + f.songCommands().scratchPath() + QStringLiteral(" -> ") + dir.path() + QStringLiteral("/out.mid"),
                                     QStringLiteral("wav ") + f.songCommands().scratchPath() + QStringLiteral(" -> ") + dir.path() + QStringLiteral("/out.wav")}));
    // Without a synthesizer to render it (Windows) no audio is offered.
    f.songCommands().exportWav = nullptr;
    answer.clear();
    f.Com_Click(3);
    EXPECT_EQ(offered.size(), 2);
    // The open dialog offers everything it opens first, then the songs, MIDI
    // files and jianpu texts each.
    answer.clear();
    f.Com_Click(4);
    EXPECT_EQ(offered, (QStringList{QStringLiteral("全部可打开的文件 (*.hbk *.mid *.midi *.txt *.jianpu)"),
                                    QStringLiteral("  *.hbk(Harbeck音乐文件 ) (*.hbk)"),
                                    QStringLiteral("MIDI 文件 (*.mid *.midi)"), QStringLiteral("简谱文件 (*.txt *.jianpu)")}));
}

TEST_F(CommandTest, theRealOpenDialogSpeaksChineseWhateverTheSystemLocale)
{
    Form2& f = make();
    FormParts w(f);
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Co::UseChinese();  // as the program does once its window shows
    const QString music = w.AppDir + QStringLiteral("Music");
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
    w.co.chooser = nullptr;
    f.Com_Click(4);
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
    FormParts w(f);
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
    w.co.chooser = [&](bool, const Co&) { return answer; };
    service.clear();
    f.Com_Click(4);
    EXPECT_TRUE(w.Timer3.isActive());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("小调"));
    for (int tick = 0; tick < 100 && w.Timer3.isActive(); ++tick)
        f.songCommands().Timer3_Timer();
    std::vector<int> notes;
    for (const auto& m : service.messages)
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0)
            notes.push_back(m.data1);
    EXPECT_EQ(notes, (std::vector<int>{60, 64}));

    // Save keeps the song made of it; the take in the scratch file stays.
    answer = dir.path() + QStringLiteral("/kept.hbk");
    f.Com_Click(3);
    EXPECT_EQ(records(answer).size(), records(w.SongPath).size());
    EXPECT_NE(w.SongPath, f.songCommands().scratchPath());
    ASSERT_TRUE(scratch.open(QIODevice::ReadOnly));
    EXPECT_EQ(scratch.readAll(), QByteArray(300, 'r'));
    scratch.close();
    std::string title, author;
    ASSERT_TRUE(songs::ReadHeaderLine(answer.toStdString(), title, author));
    EXPECT_EQ(title, "小调");

    // A file that only looks like a MIDI file is refused without a word.
    const QString bad = dir.path() + QStringLiteral("/bad.mid");
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("MThd\0\0\0\6\0\1\0\1\0\0");  // a division of 0
    file.close();
    const QString before = w.SongPath;
    answer = bad;
    f.Com_Click(4);
    EXPECT_FALSE(w.Timer3.isActive());
    EXPECT_EQ(w.SongPath, before);
    EXPECT_EQ(w.Label3->text(), QStringLiteral("无法打开 bad.mid"));
    f.endNotice();
    EXPECT_EQ(w.Label3->text(), QStringLiteral("小调"));
    EXPECT_TRUE(warnings.empty());

    // One longer than a song plays its start, and the display says how much.
    std::vector<songs::TimedMessage> many;
    for (int i = 0; i < 40000; ++i)
        many.push_back({i * 20, songs::kLowerTrack, 0x90, std::uint8_t(48 + i % 24), 100});
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(), many, "长曲"));
    answer = midi;
    f.Com_Click(4);
    EXPECT_TRUE(w.Timer3.isActive());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("只导入了前 32743 个音符"));
    f.endNotice();
    EXPECT_EQ(w.Label3->text(), QStringLiteral("长曲"));
    f.Com_Click(7);
}

TEST_F(CommandTest, anOpenedJianpuTextPlaysAndTheScoreFollowsTheNotes)
{
    Form2& f = make();
    FormParts w(f);
    const QString text = dir.path() + QStringLiteral("/tune.txt");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("标题: 小曲\n1=D\n下: 1 2_ 3_ 1' |\n");
    file.close();
    f.showFollowWindow();
    FollowWindow& follow = *f.followWindowIfShown();
    w.co.chooser = [&](bool, const Co&) { return text; };
    service.clear();
    f.Com_Click(4);
    EXPECT_TRUE(w.Timer3.isActive());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("小曲"));
    EXPECT_EQ(follow.score().lower.size(), 4u);
    std::vector<int> notes, marked;
    for (int tick = 0; tick < 300 && w.Timer3.isActive(); ++tick) {
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
    f.Com_Click(4);
    EXPECT_FALSE(w.Timer3.isActive());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("tune.txt 第2行第8列有误"));
    // One saved as GBK says so, in words.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xB1\xEA\xCC\xE2: \xD0\xA1\xC7\xFA\n1 2 3 |\n");  // 标题: 小曲
    file.close();
    f.Com_Click(4);
    EXPECT_FALSE(w.Timer3.isActive());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("tune.txt 不是 UTF-8 文本"));
}

TEST_F(CommandTest, openPlaysTheChosenSongAndACancelDoesNothing)
{
    Form2& f = make();
    FormParts w(f);
    const QString song = dir.path() + QStringLiteral("/chosen.hbk");
    songs::SongRecorder rec;
    ASSERT_TRUE(rec.start(song.toStdString(), "茉莉花", "李四", songs::HalfSettings{}, songs::HalfSettings{}));
    rec.stop();

    QString answer;
    w.co.chooser = [&](bool save, const Co&) {
        EXPECT_FALSE(save);
        return answer;
    };
    f.Com_Click(4);  // cancelled
    EXPECT_EQ(w.SongPath, f.songCommands().scratchPath());
    EXPECT_FALSE(w.Timer3.isActive());

    answer = song;
    f.Com_Click(4);
    EXPECT_EQ(w.SongPath, song);
    EXPECT_EQ(w.Label3->text(), QStringLiteral("茉莉花"));
    EXPECT_EQ(w.Label9->text(), QStringLiteral("李四"));
    EXPECT_TRUE(w.Timer3.isActive());
    for (int i : {1, 3, 4})
        EXPECT_FALSE(w.Com[i]->isEnabled()) << i;
    f.Com_Click(7);
    EXPECT_FALSE(w.Timer3.isActive());
    for (int i : {1, 3, 4})
        EXPECT_TRUE(w.Com[i]->isEnabled()) << i;

    // A file that holds no song header ends the command where its header
    // would be read: the chosen path is kept, the captions and the buttons
    // stay as they were and nothing plays.
    for (const QByteArray& bytes : {QByteArray(), QByteArray("no header here"), QByteArray(200, '\0')}) {
        const QString bad = dir.path() + QStringLiteral("/bad.hbk");
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        answer = bad;
        service.clear();
        f.Com_Click(4);
        EXPECT_EQ(w.SongPath, bad);
        EXPECT_EQ(w.Label3->text(), QStringLiteral("无法打开 bad.hbk"));
        f.endNotice();
        EXPECT_EQ(w.Label3->text(), QStringLiteral("茉莉花")) << bytes.size();
        EXPECT_EQ(w.Label9->text(), QStringLiteral("李四"));
        EXPECT_FALSE(w.Timer3.isActive());
        EXPECT_TRUE(w.MIDi1->Enabled());
        for (int i : {1, 3, 4})
            EXPECT_TRUE(w.Com[i]->isEnabled()) << i;
        EXPECT_EQ(w.Com[2]->face().toImage(), w.Image4.toImage());
    }
}

TEST_F(CommandTest, saveKeepsTheSongOnTheDisplayAndNeverOverwritesTheOpenSong)
{
    Form2& f = make();
    FormParts w(f);
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
    const QString opened = w.AppDir + QStringLiteral("Music/qwe 小星星.hbk");
    const QByteArray song = write(opened, "qwe 小星星");
    QString proposed, answer = opened;
    w.co.chooser = [&](bool, const Co& d) {
        proposed = d.FileName;
        return answer;
    };
    f.Com_Click(4);
    f.Com_Click(7);
    // Save proposes the title, whose file is the one open: nothing changes.
    f.Com_Click(3);
    EXPECT_EQ(proposed, QStringLiteral("qwe 小星星"));
    const auto bytes = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(bytes(opened), song);
    EXPECT_EQ(bytes(f.songCommands().scratchPath()), take);
    // Elsewhere it writes the song shown, not the last take.
    answer = dir.path() + QStringLiteral("/copy.hbk");
    f.Com_Click(3);
    EXPECT_EQ(bytes(answer), song);
    EXPECT_TRUE(warnings.empty());
}
