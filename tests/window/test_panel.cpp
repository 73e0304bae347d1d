#include "instrument/keyboardview.h"
// The settings panel edits the instrument played last.
#include "formfixture.h"

#include "midi/services/combinedservice.h"
#include "midi/services/midiinput.h"
#include "midi/services/portservice.h"
#include "midi/services/synthservice.h"
#include "window/lessonrun.h"
#include "window/portchooser.h"

#include <QMenu>
#include <QSpinBox>
#include <QTest>
#include <QTime>
#include <QWheelEvent>

using PanelTest = FormTest;

TEST_F(PanelTest, knobsMoveInBandsOnEveryFifthMove)
{
    Form2& f = make();
    Knob* pitch = knob(1);
    // Four moves do nothing, the fifth acts (also without a drag).
    f.settingsPanel().Picture4_MouseDown(1, 30);
    for (int i = 0; i < 4; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 30 + 240);
    EXPECT_EQ(pitch->top(), 600);
    f.settingsPanel().Picture4_MouseMove(1, 30 + 240);
    EXPECT_EQ(pitch->top(), 840);
    EXPECT_EQ(lower->Pitch(), 24);

    // Bands of the pitch knob.
    const struct { double top; int pitch; } bands[] = {
        {360, 48}, {480, 48}, {481, 36}, {719, 36}, {720, 24}, {960, 24}, {961, 12}, {1199, 12}, {1200, 0}, {1320, 0}};
    for (const auto& b : bands) {
        pitch->setTop(b.top);
        for (int i = 0; i < 5; ++i)
            f.settingsPanel().Picture4_MouseMove(1, 30);  // the mouse stays where the press was: no movement
        EXPECT_EQ(lower->Pitch(), b.pitch) << b.top;
    }
    // The knob never leaves its track.
    pitch->setTop(400);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 30 - 2000);
    EXPECT_EQ(pitch->top(), 360);
    EXPECT_EQ(lower->Pitch(), 48);
    f.settingsPanel().Picture4_MouseUp(1);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 30 + 240);
    EXPECT_EQ(pitch->top(), 360);  // let go, it no longer follows the mouse

    // Volume: the top end asks for 128, the instrument keeps 127, the knob stays at 360.
    Knob* volume = knob(2);
    f.settingsPanel().Picture4_MouseDown(2, 15);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(2, 15 - 500);
    EXPECT_EQ(volume->top(), 360);
    EXPECT_EQ(lower->Intensity(), 127);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(2, 15 + 75);  // ten volume steps down
    EXPECT_EQ(volume->top(), 435);
    EXPECT_EQ(lower->Intensity(), 118);
}

TEST_F(PanelTest, aPressOnTheKnobsTopRowStartsNoDrag)
{
    Form2& f = make();
    f.settingsPanel().Picture4_MouseDown(1, 0);
    for (int i = 0; i < 5; ++i)
        f.settingsPanel().Picture4_MouseMove(1, 500);
    EXPECT_EQ(knob(1)->top(), 600);  // it did not follow the mouse
    EXPECT_EQ(lower->Pitch(), 36);        // but the hover re-applied its value
}

TEST_F(PanelTest, setPitchAndSetIntensityPlaceTheKnobs)
{
    Form2& f = make();
    f.settingsPanel().SetPitch(30);
    EXPECT_EQ(knob(1)->top(), 720);
    EXPECT_EQ(lower->Pitch(), 30);
    f.settingsPanel().SetPitch(60);  // clamped by the instrument, placed from what it accepted
    EXPECT_EQ(lower->Pitch(), 60);
    EXPECT_EQ(knob(1)->top(), 120);
    f.settingsPanel().SetIntensity(200);
    EXPECT_EQ(lower->Intensity(), 127);
    EXPECT_EQ(knob(2)->top(), (128 - 200) * 7.5 + 360);
}

TEST_F(PanelTest, noteLengthBoxSetsTheActiveInstrument)
{
    make();
    QLineEdit* length = control<QLineEdit>(QStringLiteral("Text3"));
    length->setText(QStringLiteral("250"));
    EXPECT_EQ(lower->Mlong(), 250);
    length->setText(QStringLiteral("abc"));
    EXPECT_EQ(lower->Mlong(), 0);
    EXPECT_FALSE(lower->countdownTimerActive());
    length->setText(QStringLiteral("12.5"));
    EXPECT_EQ(lower->Mlong(), 12);  // halves to even
    length->setText(QStringLiteral("-50"));
    EXPECT_EQ(lower->Mlong(), 12);  // refused: the note length is kept
    length->setText(QStringLiteral("9.5."));
    EXPECT_EQ(lower->Mlong(), 10);  // the number stops at the second point
    length->setText(QStringLiteral("7.5.3"));
    EXPECT_EQ(lower->Mlong(), 8);
    length->setText(QStringLiteral(" 30ms"));
    EXPECT_EQ(lower->Mlong(), 30);
    length->setText(QString());
    EXPECT_EQ(lower->Mlong(), 0);
    EXPECT_EQ(upper->Mlong(), 100);  // only the active instrument changes
}

TEST_F(PanelTest, listsSetKeyAndInstrumentOfTheActiveInstrument)
{
    Form2& f = make();
    f.settingsPanel().setListIndex(keyList(), 7);
    EXPECT_EQ(lower->Tone(), 7);
    service.clear();
    f.settingsPanel().setListIndex(instrumentList(), 40);
    EXPECT_EQ(lower->Instrument(), 40);
    EXPECT_EQ(service.bytes(), "B0 00 00,C0 28 00");
    EXPECT_EQ(upper->Instrument(), 12);
}

TEST_F(PanelTest, theWheelOverAClosedListChangesNothing)
{
    Form2& f = make();
    f.Activate();
    service.clear();
    for (QComboBox* list : {keyList(), instrumentList()}) {
        for (const int delta : {-120, 120, -120}) {
            const QPointF at(list->width() / 2.0, list->height() / 2.0);
            QWheelEvent wheel(at, list->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(list, &wheel);
        }
        EXPECT_EQ(list->currentIndex(), 0) << list->objectName().toStdString();
    }
    EXPECT_EQ(lower->Tone(), 0);
    EXPECT_EQ(lower->Instrument(), 0);
    EXPECT_EQ(service.bytes(), "");  // no program change went out
}

TEST_F(PanelTest, aKeyOfTheOtherKeyboardPushesOnlyDifferingSettings)
{
    Form2& f = make();
    f.Activate();
    f.settingsPanel().SetPitch(24);
    f.settingsPanel().setListIndex(keyList(), 3);
    ASSERT_EQ(&f.activeKeyboard(), lower);

    strike(upper, 30);
    EXPECT_EQ(&f.activeKeyboard(), upper);
    EXPECT_EQ(instrumentList()->currentIndex(), 12);
    EXPECT_EQ(knob(1)->top(), 600);  // MIDi2's pitch 36
    EXPECT_EQ(keyList()->currentIndex(), 0);
    EXPECT_EQ(lower->Tone(), 3);  // the pushes re-apply MIDi2's own values only
    EXPECT_EQ(lower->Pitch(), 24);

    // Staying on one keyboard moves nothing.
    f.settingsPanel().setListIndex(instrumentList(), 20);
    strike(upper, 31);
    EXPECT_EQ(instrumentList()->currentIndex(), 20);
}

TEST_F(PanelTest, muteZonesSilenceOnlyTheirOwnKeyboard)
{
    make();
    service.clear();
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(control(QStringLiteral("Image1")), &move);
    ASSERT_EQ(service.messages.size(), 65u);
    for (const auto& m : service.messages)
        EXPECT_EQ(m.status, 0x80);
    service.clear();
    QCoreApplication::sendEvent(control(QStringLiteral("LABEL1")), &move);
    ASSERT_EQ(service.messages.size(), 65u);
    for (const auto& m : service.messages)
        EXPECT_EQ(m.status, 0x81);
}

TEST_F(PanelTest, windowDragsOnEveryThirdMoveWithAnyButton)
{
    Form2& f = make();
    f.move(100, 100);
    const auto send = [&](QWidget* to, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
        QMouseEvent e(type, at, to->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), Qt::NoModifier);
        QCoreApplication::sendEvent(to, &e);
    };
    send(&f, QEvent::MouseButtonPress, QPointF(10, 10));
    send(&f, QEvent::MouseMove, QPointF(20, 30));
    send(&f, QEvent::MouseMove, QPointF(20, 30));
    EXPECT_EQ(f.pos(), QPoint(100, 100));
    send(&f, QEvent::MouseMove, QPointF(20, 30));
    EXPECT_EQ(f.pos(), QPoint(110, 120));
    send(&f, QEvent::MouseButtonRelease, QPointF(20, 30));
    for (int i = 0; i < 3; ++i)
        send(&f, QEvent::MouseMove, QPointF(40, 40), Qt::NoButton);
    EXPECT_EQ(f.pos(), QPoint(110, 120));

    // A press on the very first column starts no drag.
    send(&f, QEvent::MouseButtonPress, QPointF(0, 10));
    for (int i = 0; i < 3; ++i)
        send(&f, QEvent::MouseMove, QPointF(40, 40));
    EXPECT_EQ(f.pos(), QPoint(110, 120));
    send(&f, QEvent::MouseButtonRelease, QPointF(40, 40));

    // Whichever button is held, the window follows the mouse.
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton}) {
        const QPoint start = f.pos();
        send(&f, QEvent::MouseButtonPress, QPointF(10, 10), button);
        for (int i = 0; i < 3; ++i)
            send(&f, QEvent::MouseMove, QPointF(16, 14), button);
        send(&f, QEvent::MouseButtonRelease, QPointF(16, 14), button);
        EXPECT_EQ(f.pos(), start + QPoint(6, 4)) << int(button);
    }

    // Moves over a caption neither move the window nor count.
    const QPoint before = f.pos();
    send(control(QStringLiteral("Label3")), QEvent::MouseMove, QPointF(5, 5), Qt::NoButton);
    send(&f, QEvent::MouseButtonPress, QPointF(10, 10));
    send(&f, QEvent::MouseMove, QPointF(16, 14));
    send(&f, QEvent::MouseMove, QPointF(16, 14));
    EXPECT_EQ(f.pos(), before);
    send(&f, QEvent::MouseMove, QPointF(16, 14));
    EXPECT_EQ(f.pos(), before + QPoint(6, 4));
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
    const QTime before = QTime::currentTime();
    f.Timer2_Timer();
    const QTime after = QTime::currentTime();
    // Whatever the locale's separators and hour style, the minutes and the
    // seconds show as two digits each (a second may turn meanwhile).
    const QString shown = control<ClockFace>(QStringLiteral("Label10"))->text();
    const auto shows = [&](const QTime& t) {
        return shown.contains(t.toString(QStringLiteral("mm"))) && shown.contains(t.toString(QStringLiteral("ss")));
    };
    EXPECT_TRUE(shows(before) || shows(after)) << shown.toStdString();
    EXPECT_NE(shown, QStringLiteral("Sonarel"));
    // The next second shows by itself.
    EXPECT_TRUE(QTest::qWaitFor([&] { return control<ClockFace>(QStringLiteral("Label10"))->text() != shown; }, 5000));
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
    // The ports, the four ways of playing, the metronome and its beat, the
    // keys' names, the song bank, the score, the digits on the keys, the tempo and the lesson.
    ASSERT_EQ(subs.size(), 16);
    EXPECT_EQ(subs[15]->text(), QStringLiteral("练习"));
    EXPECT_EQ(subs[15]->menu()->actions().size(), 7);  // 上 下 双手 结束练习, 等待 跟拍, a separator
    EXPECT_EQ(subs[7]->text(), QStringLiteral("节拍器"));
    EXPECT_EQ(subs[11]->text(), QStringLiteral("曲库"));
    EXPECT_EQ(subs[12]->text(), QStringLiteral("显示简谱"));
    EXPECT_EQ(subs[13]->menu()->actions().size(), 13);  // 固定调, 首调 1=C .. 1=B
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
    EXPECT_EQ(lower->keyLayout(), keymap::Layout::Piano);
    EXPECT_EQ(upper->keyLayout(), keymap::Layout::Classic);
    // The keys' names are shown until hidden.
    EXPECT_EQ(subs[9]->text(), QStringLiteral("键位"));
    EXPECT_TRUE(subs[9]->isChecked());
    subs[9]->trigger();
    EXPECT_FALSE(told.back().keyLabels);
    EXPECT_FALSE(lower->keyboardView()->labelsShown() || upper->keyboardView()->labelsShown());
    // The metronome's beat: tempo and meter, each checked alone.
    const auto beat = subs[8]->menu()->actions();
    const auto pick = [&beat](const QString& text) {
        for (QAction* a : beat)
            if (a->text() == text)
                a->trigger();
    };
    pick(QStringLiteral("\u2669=90"));
    pick(QStringLiteral("3/4"));
    EXPECT_EQ(told.back().metronomeTempo, 90);
    EXPECT_EQ(told.back().metronomeBeats, 3);
    // One tempo for songs and lessons, typed or stepped in its box.
    auto* tempo = menu->findChild<QSpinBox*>(QStringLiteral("tempoBox"));
    ASSERT_NE(tempo, nullptr);
    EXPECT_EQ(tempo->value(), 100);
    tempo->setValue(200);
    EXPECT_EQ(told.back().tempo, 150);
    tempo->setValue(70);
    EXPECT_EQ(told.back().tempo, 70);
    EXPECT_EQ(f.songCommands().tempo(), 70);
    EXPECT_EQ(f.lesson().tempo(), 70);
    // Kept between runs, as told; the metronome itself starts off each time.
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
    upper->SetInstrument(40);
    lower->SetInstrument(12);
    SynthConfig silent;
    silent.soundfont = dir.filePath(QStringLiteral("none.sf2")).toStdString();
    CombinedService services(std::make_unique<SynthService>(silent), std::make_unique<PortService>(""), false);
    port.SetService(&services);
    MidiInput input;
    std::vector<SoundLamp::State> lamp;
    ServicePortChooser ports(services, input, f.lowerKeyboard(), f.upperKeyboard(),
                             [&](SoundLamp::State state, const QString&) { lamp.push_back(state); });
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    ASSERT_TRUE(port.SetTrace(trace.toStdString()));
    EXPECT_TRUE(ports.outputs().ports.isEmpty());
    ports.chooseOutput(-1);
    port.SetTrace("");
    QFile file(trace);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList programs;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.contains(" C"))
            programs << QString::fromLatin1(line.mid(line.indexOf(' ') + 1)).trimmed();
    EXPECT_EQ(programs, (QStringList{QStringLiteral("C1 28 00"), QStringLiteral("C0 0C 00")}));
    ASSERT_FALSE(lamp.empty());
    EXPECT_NE(lamp.back(), SoundLamp::State::Playing);
    port.CloseMidiOut();
    port.SetService(&service);
}
