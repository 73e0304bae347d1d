#pragma once
#include "instrument/instrument.h"
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"
#include "songs/songfile.h"
#include "window/controls.h"
#include "window/form2.h"
#include "window/settingspanel.h"
#include "window/songcommands.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// The window's parts, for the tests to look at and to set up: the controls a
// user sees and the state the window keeps. The window keeps them private;
// its handlers are what the tests drive.
struct FormParts {
    explicit FormParts(Form2& f)
        : panel(*f.panel_), commands(*f.commands_), MIDi1(f.MIDi1), MIDi2(f.MIDi2), Label4(f.Label4),
          Label2(f.Label2), Label3(f.Label3), Label9(f.Label9), Label10(f.Label10), Picture4(panel.Picture4),
          Label6(f.Label6), Com(f.Com), Text3(panel.Text3), ComDevies(panel.ComDevies), ComSounds(panel.ComSounds),
          LABEL1(f.LABEL1), Image1(f.Image1), Image3(f.Image3), Image4(f.Image4), Image5(f.Image5),
          Picture1(commands.Picture1), Text1(commands.Text1), Text2(commands.Text2), Command1(commands.Command1),
          co(f.co), Timer2(f.Timer2), Timer3(commands.Timer3), Timer4(f.Timer4), ActiveMIDi(f.ActiveMIDi),
          AppDir(commands.AppDir), SongPath(commands.SongPath), Recording(commands.Recording),
          LockSettings(commands.LockSettings), KnobDragY(panel.KnobDragY), KnobVolume(panel.KnobVolume),
          DragMoves(f.DragMoves), recorder(commands.recorder), player(commands.player)
    {
    }
    SettingsPanel& panel;
    SongCommands& commands;
    MIDi*& MIDi1;
    MIDi*& MIDi2;
    QLabel*& Label4;
    std::array<QLabel*, 2>& Label2;
    QLabel*& Label3;
    QLabel*& Label9;
    ClockFace*& Label10;
    std::array<Knob*, 3>& Picture4;
    std::array<QLabel*, 13>& Label6;
    std::array<PictureButton*, 10>& Com;
    QLineEdit*& Text3;
    QComboBox*& ComDevies;
    QComboBox*& ComSounds;
    MouseZone*& LABEL1;
    MouseZone*& Image1;
    QPixmap& Image3;
    QPixmap& Image4;
    QPixmap& Image5;
    QFrame*& Picture1;
    QLineEdit*& Text1;
    QLineEdit*& Text2;
    QPushButton*& Command1;
    Co& co;
    QTimer& Timer2;
    QTimer& Timer3;
    QTimer& Timer4;
    MIDi*& ActiveMIDi;
    QString& AppDir;
    QString& SongPath;
    bool& Recording;
    bool& LockSettings;
    double& KnobDragY;
    std::int16_t& KnobVolume;
    std::int16_t& DragMoves;
    songs::SongRecorder& recorder;
    songs::SongPlayer& player;
};

// A window on a recording MIDI service, in a program folder of its own.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MidiOut::SetService(&service);
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override
    {
        form.reset();
        MidiOut::CloseMidiOut();
        MidiOut::SetService(nullptr);
    }

    Form2& make(const QString& song = QString(), bool load = true)
    {
        Form2Options options;
        options.appDir = dir.path();
        options.songArgument = song;
        form = std::make_unique<Form2>(options);
        form->exitProcess = [this] { ++exits; };
        form->beep = [this] { ++beeps; };
        form->warn = [this](const QString& message) { warnings.push_back(message); };
        form->songCommands().setMonotonicClock([this] { return clockMs; });
        if (load)
            form->Load();
        return *form;
    }

    // Time passes on the window's monotonic clock.
    void advance(std::int64_t ms) { clockMs += ms; }

    // Strikes a key of one keyboard as playback and random play do.
    void strike(MIDi* instrument, int key) { instrument->Play(key, 1); }

    struct Rec {
        std::string tag, value;
    };
    // The records of a song file from slot 10 until the first unreadable slot.
    static std::vector<Rec> records(const QString& path, int from = songs::kFirstRecordSlot)
    {
        std::vector<Rec> out;
        songs::SongFile file;
        if (!file.openForRecords(path.toStdString(), false))
            return out;
        songs::Record r;
        for (int slot = from; file.readRecord(slot, r) == songs::ReadStatus::Ok; ++slot)
            out.push_back({r.tag, r.value});
        return out;
    }
    static std::string joined(const std::vector<Rec>& recs, std::size_t from = 0)
    {
        std::string s;
        for (std::size_t i = from; i < recs.size(); ++i)
            s += (s.empty() ? "" : "|") + recs[i].tag + recs[i].value;
        return s;
    }

    RecordingService service;
    QTemporaryDir dir;
    std::unique_ptr<Form2> form;
    std::int64_t clockMs = 1000;
    int exits = 0;
    int beeps = 0;
    std::vector<QString> warnings;
};
