// Start-up with and without a song, the program folder, the first
// activation and shutdown.
#include "formfixture.h"
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
    EXPECT_TRUE(f.AppDir.endsWith(QLatin1Char('/')));
    EXPECT_EQ(f.SongPath, f.AppDir + QStringLiteral("Music/~Mid.Dat"));
    EXPECT_TRUE(QFileInfo(f.AppDir + QStringLiteral("Music")).isDir());
    EXPECT_EQ(f.co.InitDir, f.AppDir + QStringLiteral("Music"));
    EXPECT_EQ(f.Label3->text(), QStringLiteral("自由弹奏"));
    EXPECT_EQ(f.Label9->text(), QStringLiteral("佚名"));
    EXPECT_FALSE(f.Timer3.isActive());
    EXPECT_FALSE(QFileInfo::exists(f.SongPath));  // start-up neither opens nor reads it
    EXPECT_EQ(f.ActiveMIDi, f.MIDi1);
    // Only the instruments differ, so only the instrument list moved.
    EXPECT_EQ(f.ComSounds->currentIndex(), 0);
    EXPECT_EQ(f.ComDevies->currentIndex(), -1);
    EXPECT_EQ(f.Picture4[1]->top(), 600);
    // Both keyboards are started: each sent its program on the shared port.
    EXPECT_NE(service.bytes().find("B1 00 00,C1 0C 00"), std::string::npos);
    // All ten buttons show the normal face; the silencer shows MIDi1's.
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(f.Com[i]->face().isNull()) << i;
    EXPECT_EQ(f.Com[6]->face().toImage(), f.Image5.toImage());
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
        EXPECT_EQ(f.SongPath, song);
        EXPECT_EQ(f.Label3->text(), QStringLiteral("春江花月夜"));
        EXPECT_EQ(f.Label9->text(), QStringLiteral("张三"));
        EXPECT_TRUE(f.Timer3.isActive());
        EXPECT_FALSE(f.Com[1]->isEnabled());
        EXPECT_FALSE(f.MIDi1->Enabled());
        form.reset();
    }
}

TEST_F(StartupTest, aMidiFileOnTheCommandLinePlaysAndABrokenOneNothing)
{
    const QString midi = dir.path() + QStringLiteral("/tune.midi");
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(), {{0, songs::kLowerTrack, 0x90, 60, 100}}, "Tune"));
    Form2& f = make(midi);
    EXPECT_TRUE(f.Timer3.isActive());
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Tune"));
    EXPECT_NE(f.SongPath, f.scratchPath());
    form.reset();

    QFile broken(dir.path() + QStringLiteral("/broken.mid"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("MThd");
    broken.close();
    Form2& g = make(broken.fileName());
    EXPECT_FALSE(g.Timer3.isActive());
    EXPECT_EQ(g.SongPath, g.scratchPath());
    EXPECT_EQ(g.Label3->text(), QStringLiteral("自由弹奏"));
}

TEST_F(StartupTest, aPathToNothingEmptiesTheDisplayAndPlaybackEndsAtOnce)
{
    Form2& f = make(dir.path() + QStringLiteral("/missing.hbk"));
    EXPECT_EQ(f.Label3->text(), QString());
    EXPECT_EQ(f.Label9->text(), QString());
    EXPECT_FALSE(f.Timer3.isActive());
    EXPECT_TRUE(f.Com[1]->isEnabled());
    EXPECT_TRUE(f.Com[3]->isEnabled());
    EXPECT_TRUE(f.MIDi1->Enabled());
    EXPECT_EQ(f.Com[2]->face().toImage(), f.Image4.toImage());
    EXPECT_FALSE(f.player.isOpen());

    // The path stays the song of the window: once it exists, Play plays it.
    writeSong(dir.path() + QStringLiteral("/missing.hbk"), "后来", "有人");
    f.Com_Click(2);
    EXPECT_TRUE(f.Timer3.isActive());
    EXPECT_TRUE(f.player.isOpen());
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
    EXPECT_EQ(form->AppDir, dir.path() + QStringLiteral("/data/"));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/data/Music")).isDir());
    EXPECT_EQ(form->SongPath, dir.path() + QStringLiteral("/data/Music/~Mid.Dat"));
}

TEST_F(StartupTest, anInstalledProgramKeepsMusicInTheDataFolder)
{
    // Installed in a bin folder, even one it may write to (root may).
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/usr/bin")));
    Form2Options options;
    options.appDir = dir.path() + QStringLiteral("/usr/bin");
    options.dataDir = dir.path() + QStringLiteral("/home/.local/share/Sonarel");
    form = std::make_unique<Form2>(options);
    form->exitProcess = [] {};
    form->Load();
    EXPECT_EQ(form->AppDir, options.dataDir + QLatin1Char('/'));
    EXPECT_TRUE(QFileInfo(options.dataDir + QStringLiteral("/Music")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/usr/bin/Music")));
}

TEST_F(StartupTest, firstActivationSelectsFirstEntriesOnlyOnce)
{
    Form2& f = make();
    f.setListIndex(f.ComDevies, 3);
    f.setListIndex(f.ComSounds, 7);
    QEvent first(QEvent::WindowActivate);  // the window shows for the first time
    QCoreApplication::sendEvent(&f, &first);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Sonarel"));
    EXPECT_EQ(f.ComDevies->currentIndex(), 0);
    EXPECT_EQ(f.ComSounds->currentIndex(), 0);
    EXPECT_EQ(f.MIDi1->Instrument(), 0);

    f.setListIndex(f.ComSounds, 5);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&f, &activate);  // coming back from another application
    EXPECT_EQ(f.ComSounds->currentIndex(), 5);
}

TEST_F(StartupTest, shutdownStopsTheLowerKeyboardAndEndsOnce)
{
    Form2& f = make();
    ASSERT_NE(MidiOut::MidiOutHandle, 0u);
    f.Com_Click(0);
    EXPECT_EQ(MidiOut::MidiOutHandle, 0u);
    EXPECT_EQ(exits, 1);
    f.Unload();
    EXPECT_EQ(exits, 1);
}
