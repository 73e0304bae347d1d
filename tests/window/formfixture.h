#pragma once
#include "instrument/midi.h"
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"
#include "songs/songfile.h"
#include "window/controls.h"
#include "window/form2.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
        form->setMonotonicClock([this] { return clockMs; });
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
