// The ten picture buttons and the song commands behind them.
#include "window/form2.h"

#include "instrument/midi.h"
#include "songs/midiimport.h"
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

void Form2::RecordCommand()
{
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
        while (!Picture1->isHidden() && !unloaded_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (unloaded_)
            return;

        Com[kRecord]->paintFace(Image5);
        SongPath = scratchPath();
        savesImport_ = false;  // Save keeps this recording from now on
        songs::HalfSettings upper{MIDi2->Tone(), MIDi2->Intensity(), MIDi2->Instrument(),
                                  MIDi2->Pitch(), MIDi2->Silencer(), MIDi2->Mlong()};
        songs::HalfSettings lower{MIDi1->Tone(), MIDi1->Intensity(), MIDi1->Instrument(),
                                  MIDi1->Pitch(), MIDi1->Silencer(), MIDi1->Mlong()};
        QDir().mkpath(AppDir + QStringLiteral("Music"));
        if (!recorder.start(SongPath.toStdString(), Label3->text().toStdString(), Label9->text().toStdString(),
                            upper, lower)) {
            // The scratch file could not be replaced: end the command cleanly
            // rather than leave a recording running into nothing.
            Recording = false;
            Com[kPlay]->setEnabled(true);
            Com[kSave]->setEnabled(true);
            Com[kOpen]->setEnabled(true);
            Com[kRecord]->paintFace(Image4);
        }
        return;
    }
    Com[kPlay]->setEnabled(true);
    Com[kSave]->setEnabled(true);
    Com[kOpen]->setEnabled(true);
    Com[kRecord]->paintFace(Image4);
    recorder.stop();
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
    savesImport_ = true;
    Label3->setText(QString::fromStdString(song.title));
    Label9->setText(QString::fromStdString(song.author));
    return true;
}

bool Form2::isMidiFile(const QString& path)
{
    if (songs::HasMidiExtension(path.toStdString()))
        return true;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && songs::LooksLikeSmf(file.read(4).toStdString());
}

QString Form2::importedSongPath() const { return AppDir + QStringLiteral("Music/~Import.Dat"); }

QString Form2::songToSave() const { return savesImport_ ? importedSongPath() : scratchPath(); }

void Form2::OpenCommand()
{
    co.Filter = Co::kSongFilter + QStringLiteral("|MIDI 文件|*.mid *.midi");
    const bool chosen = co.ShowOpen(this);
    co.Filter = Co::kSongFilter;
    if (!chosen)
        return;  // cancelled: nothing opened, nothing played
    if (isMidiFile(co.FileName)) {
        // A file that is no MIDI file after all is refused without a word:
        // nothing plays and the current song stays.
        if (openMidiFile(co.FileName))
            PlayCommand();
        return;
    }
    savesImport_ = false;
    SongPath = co.FileName;
    std::string title, author;
    if (!songs::ReadHeaderLine(SongPath.toStdString(), title, author))
        return;
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
    co.FileName = Label3->text().trimmed();
    // The song filter stays first and is the default; the recording can also
    // leave as a MIDI file or as audio.
    co.Filter = Co::kSongFilter + QStringLiteral("|MIDI 文件|*.mid|WAV 音频|*.wav");
    const bool chosen = co.ShowSave(this);
    co.Filter = Co::kSongFilter;
    if (!chosen)
        return;  // cancelled: nothing copied
    const QString target = co.FileName;
    const QString source = songToSave();
    bool saved;
    if (co.SelectedFilter == QStringLiteral("*.mid") && exportMidi)
        saved = exportMidi(source, target);
    else if (co.SelectedFilter == QStringLiteral("*.wav") && exportWav)
        saved = exportWav(source, target);
    else
        saved = saveCopy(source, target);
    if (!saved && warn)
        warn(QStringLiteral("无法保存到 %1").arg(QDir::toNativeSeparators(target)));
}
