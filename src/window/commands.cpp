// The ten picture buttons and the song commands behind them.
#include "window/form2.h"

#include "instrument/midi.h"
#include "songs/midiimport.h"
#include "songs/paths.h"
#include "songs/songcopy.h"
#include "songs/songfile.h"
#include "window/buttons.h"
#include "window/controls.h"
#include "window/twips.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include <cstdio>
#include <utility>

using namespace buttons;

void Form2::Com_MouseDown(int Index) { Com[Index]->paintFace(Image3); }

void Form2::Com_MouseUp(int Index) { Com[Index]->paintFace(Image4); }

void Form2::Com_Click(int Index)
{
    if (Index != kRandom && Timer4.isActive())
        Com_Click(kRandom);  // any other command first switches random play off
    switch (Index) {
    case kClose:
        Unload();
        break;
    case kRecord:
        RecordCommand();
        break;
    case kPlay:
        PlayCommand();
        break;
    case kSave:
        SaveCommand();
        break;
    case kOpen:
        OpenCommand();
        break;
    case kKeyNames:
        ActiveMIDi->SetLogo(!ActiveMIDi->Logo());
        break;
    case kSilencer:
        ActiveMIDi->Mute();
        ActiveMIDi->SetSilencer(!ActiveMIDi->Silencer());
        RefreshSilencer();
        break;
    case kStop:
        if (Recording)
            RecordCommand();
        else
            StopPlayback();
        break;
    case kLock:
        LockSettings = !LockSettings;
        Com[kLock]->paintFace(LockSettings ? Image5 : Image4);
        break;
    case kRandom:
        if (Timer4.isActive())
            Timer4.stop();
        else
            Timer4.start();
        Com[kRandom]->paintFace(Timer4.isActive() ? Image5 : Image4);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- recording

void Form2::Command1_Click()
{
    Picture1->setVisible(false);
    MIDi1->SetEnabled(true);
    MIDi2->SetEnabled(true);
    Com[kPlay]->paintFace(Image4);
    for (int i = 0; i <= 7; ++i)
        if (i != kPlay && i != kSave && i != kOpen)
            Com[i]->setEnabled(true);
    Label3->setText(Text1->text());
    Label9->setText(Text2->text());
    // The panel's boxes are gone: keys typed from now on are music, so the
    // focus must not fall to the note-length box.
    moveFocusToClose();
}

void Form2::Command2_Click()
{
    if (!waitingForTitle_)
        return;
    recordCancelled_ = true;
    Picture1->setVisible(false);
    moveFocusToClose();
}

void Form2::RecordCommand()
{
    // What a cancelled Record gives back: the buttons as they were.
    std::array<bool, 8> enabledBefore{};
    for (int i = 0; i <= 7; ++i)
        enabledBefore[std::size_t(i)] = Com[i]->isEnabled();

    Recording = !Recording;
    Com[kPlay]->setEnabled(!Recording);
    if (Recording) {
        if (beep)
            beep();
        MIDi1->SetEnabled(false);
        MIDi2->SetEnabled(false);
        for (int i = 0; i <= 7; ++i)
            Com[i]->setEnabled(false);

        // Wait for the title and author, letting the window's other events
        // (the OK button, the timers, lock and random play) through.
        Picture1->setVisible(true);
        Picture1->raise();
        Text1->setFocus();
        waitingForTitle_ = true;
        recordCancelled_ = false;
        while (!Picture1->isHidden() && !unloaded_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        waitingForTitle_ = false;
        if (unloaded_)
            return;
        if (recordCancelled_) {
            Recording = false;
            for (int i = 0; i <= 7; ++i)
                Com[i]->setEnabled(enabledBefore[std::size_t(i)]);
            MIDi1->SetEnabled(true);
            MIDi2->SetEnabled(true);
            if (!pendingSong_.isNull())
                playHandedSong(std::exchange(pendingSong_, QString()));
            return;
        }

        Com[kRecord]->paintFace(Image5);
        QDir().mkpath(AppDir + QStringLiteral("Music"));
        const QString scratch = lockScratch();
        SongPath = scratch;
        songs::HalfSettings upper{MIDi2->Tone(), MIDi2->Intensity(), MIDi2->Instrument(),
                                  MIDi2->Pitch(), MIDi2->Silencer(), MIDi2->Mlong()};
        songs::HalfSettings lower{MIDi1->Tone(), MIDi1->Intensity(), MIDi1->Instrument(),
                                  MIDi1->Pitch(), MIDi1->Silencer(), MIDi1->Mlong()};
        // The take the scratch file holds goes to the takes folder first: a
        // new recording never destroys the last one.
        const std::string takes = songs::TakesFolder(scratch.toStdString());
        std::string kept, error;
        const bool keptLast = songs::KeepTake(scratch.toStdString(), takes, kept, error);
        bool started = false;
        if (keptLast) {
            songs::PruneTakes(takes, songs::kTakesKept);
            started = recorder.start(scratch.toStdString(), Label3->text().toStdString(),
                                     Label9->text().toStdString(), upper, lower);
            if (!started)
                error = "cannot write " + scratch.toStdString();
        }
        if (!started) {
            // End the command cleanly rather than leave a recording running
            // into nothing, and say so where the title shows.
            std::fprintf(stderr, "sonarel: %s\n", error.c_str());
            Recording = false;
            endRecording();
            notice(keptLast ? QStringLiteral("无法录音：无法写入录音文件") : QStringLiteral("无法录音：无法保留上一次录音"));
            return;
        }
        shownSong_ = scratch;  // Save keeps this recording from now on
        return;
    }
    endRecording();
}

void Form2::endRecording()
{
    Com[kPlay]->setEnabled(true);
    Com[kSave]->setEnabled(true);
    Com[kOpen]->setEnabled(true);
    Com[kRecord]->paintFace(Image4);
    recorder.stop();  // the end marker, where a recording was written
    scratchLock_.unlock();
}

QString Form2::lockScratch()
{
    const QString shared = scratchPath();
    if (scratchLock_.tryLock(shared.toStdString()))
        return shared;
    // Another keyboard (started with --new-instance) records into the shared
    // scratch file: this one records beside it.
    const QString own = AppDir + QStringLiteral("Music/~Mid-%1.Dat").arg(QCoreApplication::applicationPid());
    scratchLock_.tryLock(own.toStdString());
    return own;
}

void Form2::RecordNote(std::int16_t Note)
{
    if (!Recording || !recorder.isOpen())
        return;
    // The next gap counts from this key press.
    const bool room = recorder.recordNote(Note, GapTicks());
    gapStartMs_ = monotonicMs_();
    if (!room)
        RecordCommand();  // the song is full: end it with its end marker
}

// ---------------------------------------------------------------- playback

void Form2::PlayCommand()
{
    MIDi1->SetEnabled(false);
    MIDi2->SetEnabled(false);
    Com[kPlay]->paintFace(Image5);
    const bool opened = player.start(SongPath.toStdString());  // closes a file it opened before
    Com[kRecord]->setEnabled(false);
    Com[kSave]->setEnabled(false);
    Com[kOpen]->setEnabled(false);
    if (!opened) {
        endOfPlayback();  // nothing to read: ends as at the end marker
        return;
    }
    Timer3.start();
}

bool Form2::openMidiFile(const QString& path)
{
    // The song made of it lives beside the scratch recording, which it must
    // not replace: the last take stays until the next recording.
    QDir().mkpath(AppDir + QStringLiteral("Music"));
    songs::ImportedSong song;
    std::string error;
    if (!songs::ImportMidiFile(path.toStdString(), importedSongPath().toStdString(), song, error))
        return false;
    SongPath = importedSongPath();
    shownSong_ = SongPath;
    Label3->setText(QString::fromStdString(song.title));
    Label9->setText(QString::fromStdString(song.author));
    return true;
}

bool Form2::isMidiFile(const QString& path)
{
    if (songs::HasMidiExtension(path.toStdString()))
        return true;
    // Only a plain file is looked into: a pipe would never answer.
    if (!songs::IsRegularFile(path.toStdString()))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && songs::LooksLikeSmf(file.read(4).toStdString());
}

QString Form2::importedSongPath() const { return AppDir + QStringLiteral("Music/~Import.Dat"); }


void Form2::OpenCommand()
{
    co.Filter = Co::kSongFilter + QStringLiteral("|MIDI 文件|*.mid *.midi");
    const bool chosen = co.ShowOpen(this);
    co.Filter = Co::kSongFilter;
    if (!chosen)
        return;  // cancelled: nothing opened, nothing played
    const QString name = QFileInfo(co.FileName).fileName();
    if (isMidiFile(co.FileName)) {
        // A file that is no MIDI file after all is refused: nothing plays
        // and the current song stays.
        if (openMidiFile(co.FileName))
            PlayCommand();
        else
            notice(QStringLiteral("无法打开 %1").arg(name));
        return;
    }
    SongPath = co.FileName;
    std::string title, author;
    if (!songs::ReadHeaderLine(SongPath.toStdString(), title, author)) {
        notice(QStringLiteral("无法打开 %1").arg(name));
        return;
    }
    shownSong_ = SongPath;
    Label3->setText(QString::fromStdString(title));
    Label9->setText(QString::fromStdString(author));
    PlayCommand();
}

void Form2::finishPlayback()
{
    Timer3.stop();
    for (const int i : {kRecord, kSave, kOpen})
        Com[i]->setEnabled(true);
    player.stop();
    MIDi1->SetEnabled(true);
    MIDi2->SetEnabled(true);
    Com[kPlay]->paintFace(Image4);
}

void Form2::StopPlayback() { finishPlayback(); }

void Form2::endOfPlayback() { finishPlayback(); }

void Form2::Timer3_Timer() { player.tick(*this); }

void Form2::playKey(std::int16_t key, std::int16_t nTime) { ActiveMIDi->Play(key, nTime); }

void Form2::selectHalf(std::int16_t half)
{
    if (half == 1)
        ActiveMIDi = MIDi1;
    else if (half == 2)
        ActiveMIDi = MIDi2;
}

void Form2::setTimerEnabled(bool on)
{
    if (on)
        Timer3.start();
    else
        Timer3.stop();
}

void Form2::applySetting(const songs::Record& record)
{
    const std::int16_t v = record.number;
    const std::string& tag = record.tag;
    if (tag == "@DiaZ") {
        ActiveMIDi->SetTone(v);
        setListIndex(ComDevies, v);
    } else if (tag == "@YinL") {
        ActiveMIDi->SetIntensity(v);
        placeVolumeKnob(v);
    } else if (tag == "@YueQ") {
        ActiveMIDi->SetInstrument(v);
        setListIndex(ComSounds, v);
    } else if (tag == "@YinC") {
        ActiveMIDi->SetMlong(v);
        Text3->setText(QString::number(v));
    } else if (tag == "@YinG") {
        ActiveMIDi->SetPitch(v);
        placePitchKnob();
    } else if (tag == "@XiaY") {
        ActiveMIDi->SetSilencer(record.value == "True ");
        paintSilencerFace();
    }
    // Any other tag means nothing and is skipped.
}

// ---------------------------------------------------------------- save

bool Form2::saveCopy(const QString& source, const QString& target)
{
    std::string error;
    return songs::CopySongFile(source.toStdString(), target.toStdString(), error) != songs::CopyResult::Failed;
}

void Form2::SaveCommand()
{
    co.FileName = displayedTitle().trimmed();
    // The song filter stays first and is the default; the song can also
    // leave as a MIDI file or as audio.
    co.Filter = Co::kSongFilter + QStringLiteral("|MIDI 文件|*.mid|WAV 音频|*.wav");
    const bool chosen = co.ShowSave(this);
    co.Filter = Co::kSongFilter;
    if (!chosen)
        return;  // cancelled: nothing copied
    const QString target = co.FileName;
    // The song on the display, never another one under its name.
    const QString source = shownSong_;
    const bool midi = co.SelectedFilter == QStringLiteral("*.mid") && exportMidi;
    const bool wav = co.SelectedFilter == QStringLiteral("*.wav") && exportWav;
    bool saved;
    if ((midi || wav) && !songs::WhyNotTarget(source.toStdString(), target.toStdString()).empty())
        saved = false;  // the song itself, or no plain file: nothing is written over it
    else if (midi)
        saved = exportMidi(source, target);
    else if (wav)
        saved = exportWav(source, target);
    else
        saved = saveCopy(source, target);  // onto the open song itself: nothing to do
    if (!saved && warn)
        warn(QStringLiteral("无法保存到 %1").arg(QDir::toNativeSeparators(target)));
}
