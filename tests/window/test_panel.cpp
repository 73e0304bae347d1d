// The settings panel edits the instrument played last.
#include "formfixture.h"

#include "midi/services/combinedservice.h"
#include "midi/services/midiinput.h"
#include "midi/services/portservice.h"
#include "midi/services/synthservice.h"
#include "window/portchooser.h"

#include <QMenu>
#include <QTime>
#include <QWheelEvent>

using PanelTest = FormTest;

TEST_F(PanelTest, knobsMoveInBandsOnEveryFifthMove)
{
    Form2& f = make();
    FormParts w(f);
    Knob* pitch = w.Picture4[1];
    // Four moves do nothing, the fifth acts (also without a drag).
    f.settingsPanel().Picture4_MouseDown(1, 30);
    for (int i = 0; i < 4; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 30 + 240);
    EXPECT_EQ(pitch->top(), 600);
    f.settingsPanel().Picture4_MouseMove(1, 30 + 240);
    EXPECT_EQ(pitch->top(), 840);
    EXPECT_EQ(w.MIDi1->Pitch(), 24);

    // Bands of the pitch knob.
    const struct { double top; int pitch; } bands[] = {
        {360, 48}, {480, 48}, {481, 36}, {719, 36}, {720, 24}, {960, 24}, {961, 12}, {1199, 12}, {1200, 0}, {1320, 0}};
    for (const auto& b : bands) {
        pitch->setTop(b.top);
        for (int i = 0; i < 5; ++i)
            f.settingsPanel().Picture4_MouseMove(1, 30);  // the mouse stays where the press was: no movement
        EXPECT_EQ(w.MIDi1->Pitch(), b.pitch) << b.top;
    }
    // The knob never leaves its track.
    pitch->setTop(400);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 30 - 2000);
    EXPECT_EQ(pitch->top(), 360);
    EXPECT_EQ(w.MIDi1->Pitch(), 48);
    f.settingsPanel().Picture4_MouseUp(1);
    EXPECT_EQ(w.KnobDragY, 0);

    // Volume: the top end asks for 128, the instrument keeps 127, the knob stays at 360.
    Knob* volume = w.Picture4[2];
    f.settingsPanel().Picture4_MouseDown(2, 15);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(2, 15 - 500);
    EXPECT_EQ(volume->top(), 360);
    EXPECT_EQ(w.KnobVolume, 128);
    EXPECT_EQ(w.MIDi1->Intensity(), 127);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(2, 15 + 75);  // ten volume steps down
    EXPECT_EQ(volume->top(), 435);
    EXPECT_EQ(w.MIDi1->Intensity(), 118);
}

TEST_F(PanelTest, aPressOnTheKnobsTopRowStartsNoDrag)
{
    Form2& f = make();
    FormParts w(f);
    f.settingsPanel().Picture4_MouseDown(1, 0);
    EXPECT_EQ(w.KnobDragY, 0);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 500);
    EXPECT_EQ(w.Picture4[1]->top(), 600);  // it did not follow the mouse
    EXPECT_EQ(w.MIDi1->Pitch(), 36);        // but the hover re-applied its value
}

TEST_F(PanelTest, setPitchAndSetIntensityPlaceTheKnobs)
{
    Form2& f = make();
    FormParts w(f);
    f.settingsPanel().SetPitch(30);
    EXPECT_EQ(w.Picture4[1]->top(), 720);
    EXPECT_EQ(w.MIDi1->Pitch(), 30);
    f.settingsPanel().SetPitch(60);  // clamped by the instrument, placed from what it accepted
    EXPECT_EQ(w.MIDi1->Pitch(), 60);
    EXPECT_EQ(w.Picture4[1]->top(), 120);
    f.settingsPanel().SetIntensity(200);
    EXPECT_EQ(w.MIDi1->Intensity(), 127);
    EXPECT_EQ(w.Picture4[2]->top(), (128 - 200) * 7.5 + 360);
}

TEST_F(PanelTest, noteLengthBoxSetsTheActiveInstrument)
{
    Form2& f = make();
    FormParts w(f);
    w.Text3->setText(QStringLiteral("250"));
    EXPECT_EQ(w.MIDi1->Mlong(), 250);
    w.Text3->setText(QStringLiteral("abc"));
    EXPECT_EQ(w.MIDi1->Mlong(), 0);
    EXPECT_FALSE(w.MIDi1->countdownTimerActive());
    w.Text3->setText(QStringLiteral("12.5"));
    EXPECT_EQ(w.MIDi1->Mlong(), 12);  // halves to even
    w.Text3->setText(QStringLiteral("-50"));
    EXPECT_EQ(w.MIDi1->Mlong(), 12);  // refused: the note length is kept
    w.Text3->setText(QStringLiteral("9.5."));
    EXPECT_EQ(w.MIDi1->Mlong(), 10);  // the number stops at the second point
    w.Text3->setText(QStringLiteral("7.5.3"));
    EXPECT_EQ(w.MIDi1->Mlong(), 8);
    w.Text3->setText(QStringLiteral(" 30ms"));
    EXPECT_EQ(w.MIDi1->Mlong(), 30);
    w.Text3->setText(QString());
    EXPECT_EQ(w.MIDi1->Mlong(), 0);
    EXPECT_EQ(w.MIDi2->Mlong(), 100);  // only the active instrument changes
}

TEST_F(PanelTest, listsSetKeyAndInstrumentOfTheActiveInstrument)
{
    Form2& f = make();
    FormParts w(f);
    f.settingsPanel().setListIndex(w.ComDevies, 7);
    EXPECT_EQ(w.MIDi1->Tone(), 7);
    service.clear();
    f.settingsPanel().setListIndex(w.ComSounds, 40);
    EXPECT_EQ(w.MIDi1->Instrument(), 40);
    EXPECT_EQ(service.bytes(), "B0 00 00,C0 28 00");
    EXPECT_EQ(w.MIDi2->Instrument(), 12);
}

TEST_F(PanelTest, theWheelOverAClosedListChangesNothing)
{
    Form2& f = make();
    FormParts w(f);
    f.Activate();
    service.clear();
    for (QComboBox* list : {w.ComDevies, w.ComSounds}) {
        for (const int delta : {-120, 120, -120}) {
            const QPointF at(list->width() / 2.0, list->height() / 2.0);
            QWheelEvent wheel(at, list->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(list, &wheel);
        }
        EXPECT_EQ(list->currentIndex(), 0) << list->objectName().toStdString();
    }
    EXPECT_EQ(w.MIDi1->Tone(), 0);
    EXPECT_EQ(w.MIDi1->Instrument(), 0);
    EXPECT_EQ(service.bytes(), "");  // no program change went out
}

TEST_F(PanelTest, aKeyOfTheOtherKeyboardPushesOnlyDifferingSettings)
{
    Form2& f = make();
    FormParts w(f);
    f.Activate();
    f.settingsPanel().SetPitch(24);
    f.settingsPanel().setListIndex(w.ComDevies, 3);
    ASSERT_EQ(w.ActiveMIDi, w.MIDi1);

    strike(w.MIDi2, 30);
    EXPECT_EQ(w.ActiveMIDi, w.MIDi2);
    EXPECT_EQ(w.ComSounds->currentIndex(), 12);
    EXPECT_EQ(w.Picture4[1]->top(), 600);  // MIDi2's pitch 36
    EXPECT_EQ(w.ComDevies->currentIndex(), 0);
    EXPECT_EQ(w.MIDi1->Tone(), 3);  // the pushes re-apply MIDi2's own values only
    EXPECT_EQ(w.MIDi1->Pitch(), 24);

    // Staying on one keyboard moves nothing.
    f.settingsPanel().setListIndex(w.ComSounds, 20);
    strike(w.MIDi2, 31);
    EXPECT_EQ(w.ComSounds->currentIndex(), 20);
}

TEST_F(PanelTest, muteZonesSilenceOnlyTheirOwnKeyboard)
{
    Form2& f = make();
    FormParts w(f);
    service.clear();
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.Image1, &move);
    ASSERT_EQ(service.messages.size(), 65u);
    for (const auto& m : service.messages)
        EXPECT_EQ(m.status, 0x80);
    service.clear();
    QCoreApplication::sendEvent(w.LABEL1, &move);
    ASSERT_EQ(service.messages.size(), 65u);
    for (const auto& m : service.messages)
        EXPECT_EQ(m.status, 0x81);
}

TEST_F(PanelTest, windowDragsOnEveryThirdMoveWithAnyButton)
{
    Form2& f = make();
    FormParts w(f);
    f.move(100, 100);
    f.Form_MouseDown(150, 150);
    f.Form_MouseMove(300, 450);
    f.Form_MouseMove(300, 450);
    EXPECT_EQ(f.pos(), QPoint(100, 100));
    f.Form_MouseMove(300, 450);
    EXPECT_EQ(f.pos(), QPoint(110, 120));
    f.Form_MouseUp();
    for (int i = 0; i < 3; ++i)
        f.Form_MouseMove(600, 600);
    EXPECT_EQ(f.pos(), QPoint(110, 120));

    // A press on the very first column starts no drag.
    f.Form_MouseDown(0, 150);
    for (int i = 0; i < 3; ++i)
        f.Form_MouseMove(600, 600);
    EXPECT_EQ(f.pos(), QPoint(110, 120));
    f.Form_MouseUp();

    // Whichever button is held, the window follows the mouse.
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton}) {
        const QPoint start = f.pos();
        const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
            QMouseEvent e(type, at, f.mapToGlobal(at), button, held, Qt::NoModifier);
            QCoreApplication::sendEvent(&f, &e);
        };
        w.DragMoves = 0;
        send(QEvent::MouseButtonPress, QPointF(10, 10), button);
        for (int i = 0; i < 3; ++i)
            send(QEvent::MouseMove, QPointF(16, 14), button);
        send(QEvent::MouseButtonRelease, QPointF(16, 14), Qt::NoButton);
        EXPECT_EQ(f.pos(), start + QPoint(6, 4)) << int(button);
    }

    // Moves over a caption neither move the window nor count.
    w.DragMoves = 0;
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.Label3, &move);
    EXPECT_EQ(w.DragMoves, 0);
}

TEST_F(PanelTest, gapTicksCountTenMillisecondsUpTo300)
{
    Form2& f = make();
    advance(9);
    EXPECT_EQ(f.songCommands().GapTicks(), 0);
    advance(1);
    EXPECT_EQ(f.songCommands().GapTicks(), 1);
    advance(2990);
    EXPECT_EQ(f.songCommands().GapTicks(), 300);
    advance(60000);
    EXPECT_EQ(f.songCommands().GapTicks(), 300);  // a pause of 3 s or more counts as 300
}

TEST_F(PanelTest, clockShowsTheTimeAndWakesWhenTheSecondTurns)
{
    Form2& f = make();
    FormParts w(f);
    const QTime before = QTime::currentTime();
    f.Timer2_Timer();
    const QTime after = QTime::currentTime();
    // Whatever the locale's separators and hour style, the minutes and the
    // seconds show as two digits each (a second may turn meanwhile).
    const QString shown = w.Label10->text();
    const auto shows = [&](const QTime& t) {
        return shown.contains(t.toString(QStringLiteral("mm"))) && shown.contains(t.toString(QStringLiteral("ss")));
    };
    EXPECT_TRUE(shows(before) || shows(after)) << shown.toStdString();
    EXPECT_NE(shown, QStringLiteral("Sonarel"));
    EXPECT_TRUE(w.Timer2.isActive());
    EXPECT_GE(w.Timer2.remainingTime(), 0);
    EXPECT_LE(w.Timer2.remainingTime(), 1000);
}

TEST_F(PanelTest, theRightClickMenuOffersThePortsAndChoosesOne)
{
    Form2& f = make();
    EXPECT_EQ(f.portMenu(), nullptr);  // without ports to offer there is no menu
    struct Ports : PortChooser {
        Choice outputs() override { return {{QStringLiteral("FLUID"), QStringLiteral("Piano")}, 1}; }
        Choice inputs() override { return {{QStringLiteral("Keys")}, -1}; }
        void chooseOutput(int i) override { chosen.push_back({'o', i}); }
        void chooseInput(int i) override { chosen.push_back({'i', i}); }
        std::vector<std::pair<char, int>> chosen;
    } ports;
    f.setPortChooser(&ports);
    std::unique_ptr<QMenu> menu(f.portMenu());
    ASSERT_NE(menu, nullptr);
    const auto subs = menu->actions();
    // The ports, the four ways of playing, the score and the digits on the keys.
    ASSERT_EQ(subs.size(), 10);
    EXPECT_EQ(subs[8]->text(), QStringLiteral("显示简谱"));
    EXPECT_EQ(subs[9]->menu()->actions().size(), 13);  // 固定调, 首调 1=C .. 1=B
    EXPECT_EQ(subs[0]->text(), QStringLiteral("MIDI 输出"));
    EXPECT_EQ(subs[1]->text(), QStringLiteral("MIDI 输入"));
    const auto outs = subs[0]->menu()->actions();
    const auto ins = subs[1]->menu()->actions();
    ASSERT_EQ(outs.size(), 3);
    ASSERT_EQ(ins.size(), 2);
    EXPECT_EQ(outs[0]->text(), QStringLiteral("内置合成器"));
    EXPECT_EQ(ins[0]->text(), QStringLiteral("无"));
    EXPECT_EQ(ins[1]->text(), QStringLiteral("Keys"));
    // What is chosen now is checked, and only that.
    EXPECT_FALSE(outs[0]->isChecked());
    EXPECT_TRUE(outs[2]->isChecked());
    EXPECT_TRUE(ins[0]->isChecked());
    std::vector<PlayingChoices> told;
    f.choicesChanged = [&](const PlayingChoices& c) { told.push_back(c); };
    outs[0]->trigger();
    ins[1]->trigger();
    EXPECT_EQ(ports.chosen, (std::vector<std::pair<char, int>>{{'o', -1}, {'i', 0}}));
    // The ways of playing: off until chosen, then on, and told to be kept.
    EXPECT_EQ(subs[5]->text(), QStringLiteral("钢琴式键位"));
    EXPECT_FALSE(subs[5]->isChecked());
    subs[5]->trigger();
    ASSERT_EQ(told.size(), 3u);
    EXPECT_TRUE(told.back().pianoKeys);
    EXPECT_EQ(FormParts(f).MIDi1->keyLayout(), keymap::Layout::Piano);
    EXPECT_EQ(FormParts(f).MIDi2->keyLayout(), keymap::Layout::Classic);
    // Kept between runs, as told.
    const QString kept = dir.filePath(QStringLiteral("config/sonarel.conf"));
    ASSERT_TRUE(SaveChoices(kept, told.back()));
    EXPECT_EQ(LoadChoices(kept), told.back());
}

TEST_F(PanelTest, choosingAnOutputReopensThePortAndResendsBothPrograms)
{
    // No port system: a JACK server nobody runs. No soundfont: the synthesizer
    // stays silent, and the lamp says why.
    const std::string server = "sonarel-nobody-" + std::to_string(QCoreApplication::applicationPid());
    qputenv("JACK_DEFAULT_SERVER", server.c_str());
    qputenv("JACK_NO_START_SERVER", "1");
    Form2& f = make();
    FormParts w(f);
    w.MIDi2->SetInstrument(40);
    w.MIDi1->SetInstrument(12);
    SynthConfig silent;
    silent.soundfont = dir.filePath(QStringLiteral("none.sf2")).toStdString();
    CombinedService services(std::make_unique<SynthService>(silent), std::make_unique<PortService>(""), false);
    MidiOut::SetService(&services);
    MidiInput input;
    std::vector<SoundLamp::State> lamp;
    ServicePortChooser ports(services, input, f.lowerKeyboard(), f.upperKeyboard(),
                             [&](SoundLamp::State state, const QString&) { lamp.push_back(state); });
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    ASSERT_TRUE(MidiOut::SetTrace(trace.toStdString()));
    EXPECT_TRUE(ports.outputs().ports.isEmpty());
    ports.chooseOutput(-1);
    MidiOut::SetTrace("");
    QFile file(trace);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList programs;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.contains(" C"))
            programs << QString::fromLatin1(line.mid(line.indexOf(' ') + 1)).trimmed();
    EXPECT_EQ(programs, (QStringList{QStringLiteral("C1 28 00"), QStringLiteral("C0 0C 00")}));
    ASSERT_FALSE(lamp.empty());
    EXPECT_NE(lamp.back(), SoundLamp::State::Playing);
    MidiOut::CloseMidiOut();
    MidiOut::SetService(&service);
}
