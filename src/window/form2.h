#pragma once
// The main window: a borderless skinned panel with the two keyboards, the
// display, the settings panel, the song-information panel and ten picture
// buttons. It builds the controls and wires the parts that work them: the
// settings panel (settingspanel.h), the song commands (songcommands.h) and
// the port chooser of the right-click menu (portchooser.h).
#include "window/choices.h"
#include "window/co.h"
#include "window/soundlamp.h"
#include "songs/songtime.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class FollowWindow;
class LessonRun;
class ClockFace;
class MIDi;
class MouseZone;
class PictureButton;
class PortChooser;
class QLabel;
class QMenu;
class SettingsPanel;
class SongCommands;

class MidiOut;

struct Form2Options {
    QString appDir;        // the program's folder; empty: the executable's folder
    QString dataDir;       // where Music goes when the program's folder cannot hold it
    QString songArgument;  // the song named on the command line, as the shell passed it
    // The output port both keyboards and the metronome send to; not owned,
    // it outlives the window. None: the window is silent.
    MidiOut* port = nullptr;
};

namespace performance {
class Metronome;
}

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(const Form2Options& options = {}, QWidget* parent = nullptr);
    ~Form2() override;

    // Start-up and shutdown.
    void Load();
    void Unload();
    // Runs once, the first time the window becomes active.
    void Activate();

    SettingsPanel& settingsPanel() { return *panel_; }
    SongCommands& songCommands() { return *commands_; }
    // The keyboard played last: the one the settings panel shows and edits.
    MIDi& activeKeyboard() { return *ActiveMIDi; }
    // The file dialog of Open and Save; its chooser answers in its place.
    Co& fileDialog() { return co; }

    // A click on picture button `Index` (buttons.h).
    void Com_Click(int Index);
    // One tick of each timer's work, as the timer runs it.
    void Timer2_Timer();  // the clock display
    void Timer4_Timer();  // random play

    // A note from a MIDI controller: channel 1 (0) plays the lower keyboard,
    // channel 2 the upper, any other the one played last; the key is the
    // note less that keyboard's Pitch and Tone, and a note off the keys
    // plays nothing. With live velocity the controller's velocity replaces
    // the keyboard's Intensity.
    void MidiIn_Note(bool on, int channel, int note, int velocity);
    // The controller's sustain pedal (CC 64), routed as its notes are.
    void MidiIn_Pedal(bool down, int channel);

    // The ways of playing beyond the classic ones (hold, piano keys, play
    // along), as kept between runs or given on the command line; the
    // right-click menu changes them too, and tells choicesChanged.
    void setChoices(const PlayingChoices& choices);
    const PlayingChoices& choices() const { return choices_; }
    // The score that follows the music (显示简谱), made when first shown.
    void showFollowWindow();
    FollowWindow* followWindowIfShown() const { return follow_; }
    // 练习: a lesson on the song the display shows.
    LessonRun& lesson() { return *lesson_; }
    const performance::Metronome& metronome() const { return *metronome_; }
    std::function<void(const PlayingChoices&)> choicesChanged;
    void setLiveVelocity(bool on) { liveVelocity_ = on; }

    // A song handed over by a second start of the program: it plays as a song
    // named on the command line does, and the window comes to the front.
    void playHandedSong(const QString& path);
    // A short line in the title display, for two seconds: what could not be
    // done (a song that cannot be opened, a recording that cannot be written).
    void notice(const QString& text);
    void endNotice();  // the notice's time is up: the title comes back

    // The ports of the right-click menu; without a chooser the menu does not open.
    void setPortChooser(PortChooser* chooser) { ports_ = chooser; }
    // The keyboards' outputs, for a port chooser on the program's services.
    MIDi& lowerKeyboard() { return *MIDi1; }
    MIDi& upperKeyboard() { return *MIDi2; }
    // Whether the keyboard has sound, and why not: the lamp and its tooltip.
    void setSoundState(SoundLamp::State state, const QString& why);
    // Builds the right-click menu: the ports present now and the ways of
    // playing. Without a port chooser there is no menu.
    QMenu* portMenu();

    // Platform hooks, replaceable in tests.
    std::function<void()> beep;
    std::function<void(const QString& message)> warn;  // a failure the user must hear of
    std::function<void()> exitProcess;
    std::function<double()> Rnd;        // uniform in [0, 1)
    std::function<void()> Randomize;    // re-seed from the time of day

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    bool event(QEvent*) override;

private:
    void Com_MouseDown(int Index);
    void Com_MouseUp(int Index);
    // The window dragged by its background, in twips.
    void Form_MouseDown(double X, double Y);
    void Form_MouseMove(double X, double Y);
    void Form_MouseUp();

    // Every key a keyboard strikes: the keyboard played becomes the active
    // one, the panel shows it, and a recording writes it.
    void NotePlayed(MIDi* reporter, std::int16_t Note);
    // Whether a key pressed now is music: not while a text box, an open list,
    // a menu or a dialog has the keys.
    bool keysBelongToKeyboard() const;
    void moveFocusToClose();
    // Any command but random play's own switches random play off first.
    void endRandomPlay();
    // The lamp of 键名: lit while the active keyboard shows its digit strip.
    void showKeyNames();
    MIDi* keyboardOfChannel(int channel) const;
    // The title the display shows under a notice.
    QString displayedTitle() const;

    void buildDisplay();
    void buildCaptions();
    void buildButtons();
    void buildKeyboards();
    std::unique_ptr<SongCommands> makeSongCommands(const Form2Options& options);
    void wireParts();

    // --- Controls -------------------------------------------------------
    MIDi* MIDi1 = nullptr;  // lower keyboard
    MIDi* MIDi2 = nullptr;  // upper keyboard
    QLabel* Label4 = nullptr;   // product name on the display
    std::array<QLabel*, 2> Label2{};  // "演奏者:" (0), "音乐名:" (1)
    QLabel* Label3 = nullptr;   // title display
    QLabel* Label9 = nullptr;   // author display
    ClockFace* Label10 = nullptr;  // clock
    std::array<QLabel*, 13> Label6{};
    std::array<PictureButton*, 10> Com{};
    MouseZone* LABEL1 = nullptr;  // upper mute zone
    MouseZone* Image1 = nullptr;  // lower mute zone
    QPixmap Image3, Image4, Image5;  // pressed, normal, lit faces
    Co co;
    QTimer Timer2;  // the clock display, at each turn of the second
    QTimer Timer4;  // random play, 500 ms then random
    SoundLamp* lamp_ = nullptr;

    // --- Window state ----------------------------------------------------
    MIDi* ActiveMIDi = nullptr;
    double DragStartX = 0, DragStartY = 0;
    std::int16_t DragMoves = 0;
    const bool compositorPlacesWindows_ = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    bool liveVelocity_ = false;
    std::unique_ptr<SettingsPanel> panel_;
    std::unique_ptr<SongCommands> commands_;
    PortChooser* ports_ = nullptr;
    PlayingChoices choices_;
    std::unique_ptr<performance::Metronome> metronome_;
    // The chosen beat, or the tempo and meter of the song that plays (at the
    // lesson's share of its tempo) when it says them.
    void applyMetronome(bool countIn);
    // A song starts (countIn: its bar starts now) or ends ({}).
    void followSong(const songs::SongTime& time, int percent, bool countIn);
    std::int64_t countInLesson(const QString& song, int percent);
    songs::SongTime songTime_;
    int songPercent_ = 100;
    FollowWindow* follow_ = nullptr;
    std::unique_ptr<LessonRun> lesson_;
    FollowWindow& followWindow();

    QImage skin_;  // over the program's own pages: never written
    QString clockFormat_;
    bool activated_ = false;
    QTimer noticeTimer_;
    QString noticeText_, titleUnderNotice_;
    bool unloaded_ = false;
    QString songArgument_;
};
