#pragma once
#include "instrument/instrument.h"
#include "instrument/picture.h"
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
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A window on a recording MIDI service, in a program folder of its own. The
// tests see it as its user does: the controls by their names, the faces the
// buttons show; they click, and work the window's public parts.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override
    {
        form.reset();
        port.CloseMidiOut();
    }

    Form2& make(const QString& song = QString(), bool load = true)
    {
        Form2Options options;
        options.appDir = dir.path();
        options.songArgument = song;
        options.port = &port;
        form = std::make_unique<Form2>(options);
        form->exitProcess = [this] { ++exits; };
        form->beep = [this] { ++beeps; };
        form->warn = [this](const QString& message) { warnings.push_back(message); };
        form->songCommands().setMonotonicClock([this] { return clockMs; });
        if (load)
            form->Load();
        lower = &form->lowerKeyboard();
        upper = &form->upperKeyboard();
        return *form;
    }

    template <class T = QWidget>
    T* control(const QString& name) const
    {
        T* found = form->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    PictureButton* button(int index) const { return control<PictureButton>(QStringLiteral("Com_%1").arg(index)); }
    QString title() const { return control<QLabel>(QStringLiteral("Label3"))->text(); }
    QString author() const { return control<QLabel>(QStringLiteral("Label9"))->text(); }
    QComboBox* keyList() const { return control<QComboBox>(QStringLiteral("ComDevies")); }
    QComboBox* instrumentList() const { return control<QComboBox>(QStringLiteral("ComSounds")); }
    Knob* knob(int index) const { return control<Knob>(QStringLiteral("Picture4_%1").arg(index)); }
    bool playing() const { return form->songCommands().isPlaying(); }

    // The left button pressed or released over a button (or, `away`, past its edge).
    void mouse(int index, QEvent::Type type, bool away = false)
    {
        PictureButton* b = button(index);
        const QPointF at = away ? QPointF(b->width() + 5, 1) : QPointF(b->width() / 2.0, b->height() / 2.0);
        QMouseEvent e(type, at, b->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(b, &e);
    }
    void click(int index)
    {
        mouse(index, QEvent::MouseButtonPress);
        mouse(index, QEvent::MouseButtonRelease);
    }
    // Confirms the song-information panel as soon as the Record command waits for it.
    void confirmPanelSoon(const QString& title = QString())
    {
        QTimer::singleShot(0, form.get(), [this, title] {
            if (!title.isNull())
                control<QLineEdit>(QStringLiteral("Text1"))->setText(title);
            form->songCommands().Command1_Click();
        });
    }
    // The picture a button shows: "pressed", "normal" or "lit".
    std::string face(int index) const
    {
        const QImage shown = button(index)->face().toImage();
        for (const char* name : {"pressed", "normal", "lit"}) {
            const QImage picture = ReadPicture(QStringLiteral(":/window/face_%1.png").arg(QLatin1String(name)));
            if (shown == QPixmap::fromImage(picture).toImage())
                return name;
        }
        return "none";
    }

    // A jianpu text in the test's folder, the one the Open dialog chooses.
    QString chooseText(const QByteArray& content, const QString& name = QStringLiteral("tune.txt"))
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        form->fileDialog().chooser = [path](bool, const Co&) { return path; };
        return path;
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
    MidiOut port{&service};
    QTemporaryDir dir;
    std::unique_ptr<Form2> form;
    MIDi* lower = nullptr;
    MIDi* upper = nullptr;
    std::int64_t clockMs = 1000;
    int exits = 0;
    int beeps = 0;
    std::vector<QString> warnings;
};
