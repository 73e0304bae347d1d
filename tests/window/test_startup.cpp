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
    FormParts w(f);
    EXPECT_TRUE(w.AppDir.endsWith(QLatin1Char('/')));
    EXPECT_EQ(w.SongPath, w.AppDir + QStringLiteral("Music/~Mid.Dat"));
    EXPECT_TRUE(QFileInfo(w.AppDir + QStringLiteral("Music")).isDir());
    EXPECT_EQ(w.co.InitDir, w.AppDir + QStringLiteral("Music"));
    EXPECT_EQ(w.Label3->text(), QStringLiteral("自由弹奏"));
    EXPECT_EQ(w.Label9->text(), QStringLiteral("佚名"));
    EXPECT_FALSE(w.Timer3.isActive());
    EXPECT_FALSE(QFileInfo::exists(w.SongPath));  // start-up neither opens nor reads it
    EXPECT_EQ(w.ActiveMIDi, w.MIDi1);
    // Only the instruments differ, so only the instrument list moved.
    EXPECT_EQ(w.ComSounds->currentIndex(), 0);
    EXPECT_EQ(w.ComDevies->currentIndex(), -1);
    EXPECT_EQ(w.Picture4[1]->top(), 600);
    // Both keyboards are started: each sent its program on the shared port.
    EXPECT_NE(service.bytes().find("B1 00 00,C1 0C 00"), std::string::npos);
    // All ten buttons show the normal face; the silencer shows MIDi1's.
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(w.Com[i]->face().isNull()) << i;
    EXPECT_EQ(w.Com[6]->face().toImage(), w.Image5.toImage());
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
        FormParts w(f);
        EXPECT_EQ(w.SongPath, song);
        EXPECT_EQ(w.Label3->text(), QStringLiteral("春江花月夜"));
        EXPECT_EQ(w.Label9->text(), QStringLiteral("张三"));
        EXPECT_TRUE(w.Timer3.isActive());
        EXPECT_FALSE(w.Com[1]->isEnabled());
        EXPECT_FALSE(w.MIDi1->Enabled());
        form.reset();
    }
}

TEST_F(StartupTest, aMidiFileOnTheCommandLinePlaysAndABrokenOneNothing)
{
    const QString midi = dir.path() + QStringLiteral("/tune.midi");
    ASSERT_TRUE(songs::WriteSmf(midi.toStdString(), {{0, songs::kLowerTrack, 0x90, 60, 100}}, "Tune"));
    Form2& f = make(midi);
    FormParts w(f);
    EXPECT_TRUE(w.Timer3.isActive());
    EXPECT_EQ(w.Label3->text(), QStringLiteral("Tune"));
    EXPECT_NE(w.SongPath, f.songCommands().scratchPath());
    form.reset();

    QFile broken(dir.path() + QStringLiteral("/broken.mid"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("MThd");
    broken.close();
    Form2& g = make(broken.fileName());
    FormParts v(g);
    EXPECT_FALSE(v.Timer3.isActive());
    EXPECT_EQ(v.SongPath, g.songCommands().scratchPath());
    // It says so in the title display for a moment, then the title is back.
    EXPECT_EQ(v.Label3->text(), QStringLiteral("无法打开 broken.mid"));
    g.endNotice();
    EXPECT_EQ(v.Label3->text(), QStringLiteral("自由弹奏"));
}

TEST_F(StartupTest, aPathToNothingEmptiesTheDisplayAndPlaybackEndsAtOnce)
{
    Form2& f = make(dir.path() + QStringLiteral("/missing.hbk"));
    FormParts w(f);
    EXPECT_EQ(w.Label3->text(), QStringLiteral("找不到 missing.hbk"));
    f.endNotice();
    EXPECT_EQ(w.Label3->text(), QString());
    EXPECT_EQ(w.Label9->text(), QString());
    EXPECT_FALSE(w.Timer3.isActive());
    EXPECT_TRUE(w.Com[1]->isEnabled());
    EXPECT_TRUE(w.Com[3]->isEnabled());
    EXPECT_TRUE(w.MIDi1->Enabled());
    EXPECT_EQ(w.Com[2]->face().toImage(), w.Image4.toImage());
    EXPECT_FALSE(w.player.isOpen());

    // The path stays the song of the window: once it exists, Play plays it.
    writeSong(dir.path() + QStringLiteral("/missing.hbk"), "后来", "有人");
    f.Com_Click(2);
    EXPECT_TRUE(w.Timer3.isActive());
    EXPECT_TRUE(w.player.isOpen());
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
    EXPECT_EQ(FormParts(*form).AppDir, dir.path() + QStringLiteral("/data/"));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/data/Music")).isDir());
    EXPECT_EQ(FormParts(*form).SongPath, dir.path() + QStringLiteral("/data/Music/~Mid.Dat"));
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
    EXPECT_EQ(FormParts(*form).AppDir, options.dataDir + QLatin1Char('/'));
    EXPECT_TRUE(QFileInfo(options.dataDir + QStringLiteral("/Music")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/usr/bin/Music")));
}

TEST_F(StartupTest, firstActivationSelectsFirstEntriesOnlyOnce)
{
    Form2& f = make();
    FormParts w(f);
    f.settingsPanel().setListIndex(w.ComDevies, 3);
    f.settingsPanel().setListIndex(w.ComSounds, 7);
    QEvent first(QEvent::WindowActivate);  // the window shows for the first time
    QCoreApplication::sendEvent(&f, &first);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Sonarel"));
    EXPECT_EQ(w.ComDevies->currentIndex(), 0);
    EXPECT_EQ(w.ComSounds->currentIndex(), 0);
    EXPECT_EQ(w.MIDi1->Instrument(), 0);

    f.settingsPanel().setListIndex(w.ComSounds, 5);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&f, &activate);  // coming back from another application
    EXPECT_EQ(w.ComSounds->currentIndex(), 5);
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

TEST_F(StartupTest, aSongThatIsAPipeOpensNothingAndNeverWaits)
{
    const songtest::Pipe made((dir.path() + QStringLiteral("/s.hbk")).toStdString());
    ASSERT_TRUE(made.made());
    const QString pipe = QString::fromStdString(made.path());
    Form2& f = make(pipe);  // would wait for a writer for good
    FormParts w(f);
    EXPECT_FALSE(w.Timer3.isActive());
    // (Windows does not list a pipe as a file: there it is "not found".)
    EXPECT_TRUE(w.Label3->text().endsWith(QLatin1Char(' ') + QFileInfo(pipe).fileName())) << w.Label3->text().toStdString();
    w.co.chooser = [&](bool, const Co&) { return pipe; };
    f.Com_Click(4);
    EXPECT_FALSE(w.Timer3.isActive());
}
