#pragma once
// The main window: a borderless skinned panel with the two keyboards, the
// display, the settings panel, the song-information panel and ten picture
// buttons. Its handlers are thin: the instruments play, the songs code reads
// and writes song files, and the window wires them together.
#include "songs/player.h"
#include "songs/recorder.h"
#include "songs/takes.h"
#include "window/co.h"
#include "window/soundlamp.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

class MIDi;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class PictureButton;
class Knob;
class MouseZone;
class ClockFace;
class QMenu;

struct Form2Options {
    QString appDir;        // the program's folder; empty: the executable's folder
    QString dataDir;       // where Music goes when the program's folder cannot hold it
    QString songArgument;  // the song named on the command line, as the shell passed it
};

class Form2 : public QWidget, private songs::PlaybackHost {
    Q_OBJECT
public:
    explicit Form2(const Form2Options& options = {}, QWidget* parent = nullptr);
    ~Form2() override;

    // Start-up and shutdown.
    void Load();
    void Unload();
    // Runs once, the first time the window becomes active.
    void Activate();

    // --- Handlers: what the window's events run, public so that tests drive
    // them as the events would. The parts they work on are private; tests
    // look at them through a view of their own (FormParts).
    void NotePlayed(MIDi* reporter, std::int16_t& Note);
    void ComDevies_Click();
    void ComSounds_Click();
    void Text3_Change();
    void Picture4_MouseDown(int Index, double Y);
    void Picture4_MouseMove(int Index, double Y);
    void Picture4_MouseUp(int Index);
    void SetPitch(int Value);
    void SetIntensity(int Value);
    void Command1_Click();
    // 取消 (or Esc) on the song panel: the Record command ends as if it had
    // never been given, and the scratch file is not touched.
    void Command2_Click();
    void Com_Click(int Index);
    void Com_MouseDown(int Index);
    void Com_MouseUp(int Index);
    void RefreshSilencer();
    void RecordNote(std::int16_t Note);
    // Writes the records a struck key held back (queued behind its note-on).
    void releaseRecords();
    // A song handed over by a second start of the program: it plays as a song
    // named on the command line does, and the window comes to the front.
    // Whatever runs (the song panel, a recording, a playback) ends first.
    void playHandedSong(const QString& path);
    // Whether a key pressed now is music: not while a text box, an open list,
    // a menu or a dialog has the keys.
    bool keysBelongToKeyboard() const;
    // A short line in the title display, for two seconds: what could not be
    // done (a song that cannot be opened, a recording that cannot be written).
    void notice(const QString& text);
    void endNotice();  // the notice's time is up: the title comes back
    void Form_MouseDown(double X, double Y);
    void Form_MouseMove(double X, double Y);
    void Form_MouseUp();
    // A note from a MIDI controller: channel 1 (0) plays the lower keyboard,
    // channel 2 the upper, any other the one played last; the key is the
    // note less that keyboard's Pitch and Tone, and a note off the keys
    // plays nothing.
    void MidiIn_Note(bool on, int channel, int note, int velocity);
    bool liveVelocity = false;  // the controller's velocity instead of Intensity

    // The ports the right-click menu offers, set by main(); without them the
    // menu does not open. Each list comes with the index of what is chosen:
    // -1 for the built-in synthesizer (outputs) or for none (inputs).
    struct PortChoice {
        QStringList ports;
        int current = -1;
    };
    std::function<PortChoice()> outputPorts, inputPorts;
    std::function<void(int index)> chooseOutput, chooseInput;
    // The port was opened anew (another output chosen): each keyboard sends
    // its program again, as at start-up.
    void PortReopened();
    // Whether the keyboard has sound, and why not: the lamp and its tooltip.
    void setSoundState(SoundLamp::State state, const QString& why);
    // Builds the menu of the ports present now (public for tests).
    QMenu* portMenu();

    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();

    // Assigning a list's selection in code runs its Click handling, as a
    // user's choice does (also when the index does not change).
    void setListIndex(QComboBox* list, int index);

    // Song commands.
    void RecordCommand();
    void PlayCommand();
    void OpenCommand();
    void SaveCommand();
    void StopPlayback();

    // Exports of the scratch recording offered by the Save dialog besides
    // copying it; set by main(). Return false (and leave the target alone)
    // on failure.
    std::function<bool(const QString& song, const QString& target)> exportMidi;
    std::function<bool(const QString& song, const QString& target)> exportWav;

    // Platform hooks, replaceable in tests.
    std::function<void()> beep;
    std::function<void(const QString& message)> warn;  // a failure the user must hear of
    std::function<void()> exitProcess;
    std::function<double()> Rnd;        // uniform in [0, 1)
    std::function<void()> Randomize;    // re-seed from the time of day
    // A monotonic clock in milliseconds; the recording gap is measured on it.
    void setMonotonicClock(std::function<std::int64_t()> clock);

    // 10 ms ticks since the last note record (or since the window was made),
    // at most 300. Read off the clock, so a busy machine does not stretch it.
    std::int16_t GapTicks() const;

    QString scratchPath() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    bool event(QEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend struct FormParts;

    // --- Controls -------------------------------------------------------
    MIDi* MIDi1 = nullptr;  // lower keyboard
    MIDi* MIDi2 = nullptr;  // upper keyboard
    QLabel* Label4 = nullptr;   // product name on the display
    std::array<QLabel*, 2> Label2{};  // "演奏者:" (0), "音乐名:" (1)
    QLabel* Label3 = nullptr;   // title display
    QLabel* Label9 = nullptr;   // author display
    ClockFace* Label10 = nullptr;  // clock
    std::array<Knob*, 3> Picture4{};  // 1 pitch, 2 volume (0 unused)
    std::array<QLabel*, 13> Label6{};
    std::array<PictureButton*, 10> Com{};
    QLineEdit* Text3 = nullptr;
    QComboBox* ComDevies = nullptr;
    QComboBox* ComSounds = nullptr;
    MouseZone* LABEL1 = nullptr;  // upper mute zone
    MouseZone* Image1 = nullptr;  // lower mute zone
    QPixmap Image2, Image3, Image4, Image5;  // unused, pressed, normal, lit faces
    QFrame* Picture1 = nullptr;   // song-information panel
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;  // 取消
    Co co;
    QTimer Timer2;  // the clock display, at each turn of the second
    QTimer Timer3;  // playback, 10 ms
    QTimer Timer4;  // random play, 500 ms then random

    // --- Window state ----------------------------------------------------
    MIDi* ActiveMIDi = nullptr;
    QString AppDir;   // ends in the path separator
    QString SongPath;
    bool Recording = false;
    bool LockSettings = false;
    double KnobDragY = 0;
    std::int16_t KnobVolume = 0;
    std::int16_t KnobMoves = 0;
    double DragStartX = 0, DragStartY = 0;
    std::int16_t DragMoves = 0;
    songs::SongRecorder recorder;
    songs::SongPlayer player;

    // PlaybackHost
    void playKey(std::int16_t key, std::int16_t nTime) override;
    void selectHalf(std::int16_t half) override;
    void applySetting(const songs::Record& record) override;
    bool settingsLocked() const override { return LockSettings; }
    void setTimerEnabled(bool on) override;
    void endOfPlayback() override;

    void buildLayout();
    void buildDisplay();
    void buildCaptions();
    void buildKnobs();
    void buildButtons();
    void buildFields();
    void buildKeyboards();
    void buildSongPanel();
    // One place for each knob's formula and the silencer's face: the panel's
    // handlers and the playback's settings both use them.
    void placePitchKnob();
    void placeVolumeKnob(int value);
    void paintSilencerFace();
    // What Stop and the end of a song both do: the window back to playing.
    void finishPlayback();
    void writeSettingRecord(const char* tag, const QString& value);
    void moveFocusToClose();
    void chooseAppDir(const QString& appDir, const QString& dataDir);
    bool saveCopy(const QString& source, const QString& target);
    // A MIDI file opened becomes a song beside the scratch recording.
    static bool isMidiFile(const QString& path);
    bool openMidiFile(const QString& path);
    QString importedSongPath() const;
    // A song named on the command line or handed over: shown and played.
    void playSongArgument(QString path);
    // The scratch file this recording may write: the shared one, or one of
    // its own when another keyboard is recording into that.
    QString lockScratch();
    // The buttons back from a recording, its end marker written and the
    // scratch file free for another keyboard.
    void endRecording();
    // The title the display shows under a notice.
    QString displayedTitle() const;

    std::function<std::int64_t()> monotonicMs_;
    std::int64_t gapStartMs_ = 0;
    QPixmap skin_;
    QString clockFormat_;
    bool activated_ = false;
    // What Save keeps: the song the display shows (the last recording, the
    // last song opened, or the song made of the last MIDI file opened).
    QString shownSong_;
    songs::ScratchLock scratchLock_;
    bool waitingForTitle_ = false;
    bool recordCancelled_ = false;
    QString pendingSong_;  // handed over while the song panel waited
    QTimer noticeTimer_;
    SoundLamp* lamp_ = nullptr;
    QString noticeText_, titleUnderNotice_;
    bool unloaded_ = false;
    QString songArgument_;
};
