// Start-up with and without a song, the program folder, the first
// activation and shutdown.
#include "formfixture.h"
#include "platform/testsystem.h"
#include "songs/smf.h"

#include <QDir>


#include "songs/recorder.h"

namespace {

QString writeSong(const QString& path, const char* title, const char* author)
{
    songs::SongRecorder rec;
    songs::HalfSettings upper;
    upper.instrument = 12;
    EXPECT_TRUE(rec.start(path.toStdString(), title, author, upper, songs::HalfSettings{}));
    rec.recordNote(24, 0);
    rec.stop();
    return path;
}

}  // namespace

using StartupTest = FormTest;

TEST_F(StartupTest, withoutArgumentTheScratchFileIsCurrentAndNothingPlays)
{
    Form2& f = make();
    EXPECT_EQ(f.songCommands().shownSong(), f.songCommands().musicFolder() + QStringLiteral("/~Mid.Dat"));
    EXPECT_TRUE(QFileInfo(f.songCommands().musicFolder()).isDir());
    EXPECT_EQ(f.fileDialog().InitDir, f.songCommands().musicFolder());
    EXPECT_EQ(title(), QStringLiteral("自由弹奏"));
    EXPECT_EQ(author(), QStringLiteral("佚名"));
    EXPECT_FALSE(playing());
    EXPECT_FALSE(QFileInfo::exists(f.songCommands().shownSong()));  // start-up neither opens nor reads it
    EXPECT_EQ(&f.activeKeyboard(), lower);
    // Only the instruments differ, so only the instrument list moved.
    EXPECT_EQ(instrumentList()->currentIndex(), 0);
    EXPECT_EQ(keyList()->currentIndex(), -1);
    EXPECT_EQ(knob(1)->top(), 600);
    // Both keyboards are started: each sent its program on the shared port.
    EXPECT_NE(service.bytes().find("B1 00 00,C1 0C 00"), std::string::npos);
    // The buttons show the normal face; key names and the silencer MIDi1's.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(face(i), i == 5 || i == 6 ? "lit" : "normal") << i;
}

TEST_F(StartupTest, anExistingMusicFolderIsLeftAlone)
{
    QDir(dir.path()).mkpath(QStringLiteral("Music"));
    QFile keep(dir.path() + QStringLiteral("/Music/keep.hbk"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("x");
    keep.close();
    make();
    EXPECT_TRUE(QFileInfo::exists(dir.path() + QStringLiteral("/Music/keep.hbk")));
}

TEST_F(StartupTest, aSongOnTheCommandLineShowsItsTitleAndPlays)
{
    const QString song = writeSong(dir.path() + QStringLiteral("/song one.hbk"), "春江花月夜", "张三");
    for (const QString& argument : {QLatin1Char('"') + song + QLatin1Char('"'), song}) {
        Form2& f = make(argument);
            EXPECT_EQ(f.songCommands().shownSong(), song);
        EXPECT_EQ(title(), QStringLiteral("春江花月夜"));
        EXPECT_EQ(author(), QStringLiteral("张三"));
        EXPECT_TRUE(playing());
        EXPECT_FALSE(button(1)->isEnabled());
        EXPECT_FALSE(lower->Enabled());
        form.reset();
    }
}

TEST_F(StartupTest, aMidiFileOnTheCommandLinePlaysAndABrokenOneNothing)
{
    const QString midi = dir.path() + QStringLiteral("/tune.midi");
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(), {{0, songs::kLowerTrack, 0x90, 60, 100}}, "Tune"));
    Form2& f = make(midi);
    EXPECT_TRUE(playing());
    EXPECT_EQ(title(), QStringLiteral("Tune"));
    EXPECT_NE(f.songCommands().shownSong(), f.songCommands().scratchPath());
    form.reset();

    QFile broken(dir.path() + QStringLiteral("/broken.mid"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("MThd");
    broken.close();
    Form2& g = make(broken.fileName());
    EXPECT_FALSE(playing());
    EXPECT_EQ(g.songCommands().shownSong(), g.songCommands().scratchPath());
    // It says so in the title display for a moment, then the title is back.
    EXPECT_EQ(title(), QStringLiteral("无法打开 broken.mid"));
    g.endNotice();
    EXPECT_EQ(title(), QStringLiteral("自由弹奏"));
}

TEST_F(StartupTest, aPathToNothingEmptiesTheDisplayAndPlaybackEndsAtOnce)
{
    Form2& f = make(dir.path() + QStringLiteral("/missing.hbk"));
    EXPECT_EQ(title(), QStringLiteral("找不到 missing.hbk"));
    f.endNotice();
    EXPECT_EQ(title(), QString());
    EXPECT_EQ(author(), QString());
    EXPECT_FALSE(playing());
    EXPECT_TRUE(button(1)->isEnabled());
    EXPECT_TRUE(button(3)->isEnabled());
    EXPECT_TRUE(lower->Enabled());
    EXPECT_EQ(face(2), "normal");

    // The path stays the song of the window: once it exists, Play plays it.
    writeSong(dir.path() + QStringLiteral("/missing.hbk"), "后来", "有人");
    click(2);
    EXPECT_TRUE(playing());
}

TEST_F(StartupTest, musicGoesToTheDataFolderWhenTheProgramFolderCannotHoldIt)
{
    // A program folder below a plain file can never be created, even by root.
    QFile blocker(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Form2Options options;
    options.appDir = dir.path() + QStringLiteral("/file/program");
    options.dataDir = dir.path() + QStringLiteral("/data");
    form = std::make_unique<Form2>(options);
    form->exitProcess = [] {};
    form->Load();
    EXPECT_EQ(form->songCommands().musicFolder(), dir.path() + QStringLiteral("/data/Music"));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/data/Music")).isDir());
    EXPECT_EQ(form->songCommands().shownSong(), dir.path() + QStringLiteral("/data/Music/~Mid.Dat"));
}

TEST_F(StartupTest, anInstalledProgramKeepsMusicInTheDataFolder)
{
    // Installed, in a folder it may write to (root may, and an administrator
    // on Windows): a bin folder here, one the installer left its
    // uninstaller in on Windows.
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/usr/bin")));
    QFile(dir.path() + QStringLiteral("/usr/bin/uninstall.exe")).open(QIODevice::WriteOnly);
    Form2Options options;
    options.appDir = dir.path() + QStringLiteral("/usr/bin");
    options.dataDir = dir.path() + QStringLiteral("/home/.local/share/Sonarel");
    form = std::make_unique<Form2>(options);
    form->exitProcess = [] {};
    form->Load();
    EXPECT_EQ(form->songCommands().musicFolder(), options.dataDir + QStringLiteral("/Music"));
    EXPECT_TRUE(QFileInfo(options.dataDir + QStringLiteral("/Music")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/usr/bin/Music")));
}

TEST_F(StartupTest, firstActivationSelectsFirstEntriesOnlyOnce)
{
    Form2& f = make();
    f.settingsPanel().setListIndex(keyList(), 3);
    f.settingsPanel().setListIndex(instrumentList(), 7);
    QEvent first(QEvent::WindowActivate);  // the window shows for the first time
    QCoreApplication::sendEvent(&f, &first);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Sonarel"));
    EXPECT_EQ(keyList()->currentIndex(), 0);
    EXPECT_EQ(instrumentList()->currentIndex(), 0);
    EXPECT_EQ(lower->Instrument(), 0);

    f.settingsPanel().setListIndex(instrumentList(), 5);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&f, &activate);  // coming back from another application
    EXPECT_EQ(instrumentList()->currentIndex(), 5);
}

TEST_F(StartupTest, shutdownStopsTheLowerKeyboardAndEndsOnce)
{
    Form2& f = make();
    ASSERT_NE(port.MidiOutHandle(), 0u);
    click(0);
    EXPECT_EQ(port.MidiOutHandle(), 0u);
    EXPECT_EQ(exits, 1);
    f.Unload();
    EXPECT_EQ(exits, 1);
}

TEST_F(StartupTest, aSongThatIsAPipeOpensNothingAndNeverWaits)
{
    const songtest::Pipe made((dir.path() + QStringLiteral("/s.hbk")).toStdString());
    ASSERT_TRUE(made.made());
    const QString pipe = QString::fromStdString(made.path());
    Form2& f = make(pipe);  // would wait for a writer for good
    EXPECT_FALSE(playing());
    // (Windows does not list a pipe as a file: there it is "not found".)
    EXPECT_TRUE(title().endsWith(QLatin1Char(' ') + QFileInfo(pipe).fileName())) << title().toStdString();
    f.fileDialog().chooser = [&](bool, const Co&) { return pipe; };
    click(4);
    EXPECT_FALSE(playing());
}
