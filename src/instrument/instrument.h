#pragma once
// The instrument control MIDi: one on-screen keyboard of 65 keys, played from
// the computer keyboard, the mouse, a controller or a song, each key sent at
// once as a MIDI note through MidiOut.
#include "instrument/keymap.h"
#include "songs/keys.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class KeyboardDevice;
class KeyboardView;
class PropertyBag;

class MIDi : public QWidget {
    Q_OBJECT
public:
    explicit MIDi(QWidget* parent = nullptr);
    // With a keyboard device of the caller's choosing (tests, benchmarks);
    // otherwise StartMIDi creates the application's keyboard.
    explicit MIDi(std::unique_ptr<KeyboardDevice> device, QWidget* parent = nullptr);
    ~MIDi() override;  // runs StopMIDi

    // Saved settings of the control (names, defaults and order are fixed).
    // runtime = true when the host program runs (starts Timer3 and Timer4).
    void LoadSettings(const PropertyBag& bag, bool runtime = true);
    void SaveSettings(PropertyBag& bag) const;

    // Properties, in the order of the control's interface.
    bool Enabled() const;
    void SetEnabled(bool value);
    bool Silencer() const;
    void SetSilencer(bool value);
    bool Logo() const;
    void SetLogo(bool value);
    std::int32_t KeyBoardBlock() const;
    void SetKeyBoardBlock(std::int32_t value);
    std::int16_t Intensity() const;
    void SetIntensity(int value);
    std::int32_t Tone() const;
    void SetTone(std::int64_t value);
    std::int16_t Mlong() const;
    void SetMlong(int value);
    std::int16_t Channel() const;
    void SetChannel(int value);
    std::int16_t Pitch() const;
    void SetPitch(int value);
    std::int16_t Instrument() const;
    void SetInstrument(int value);

    void Play(int Index, int nTime);

    // Ways of playing beyond the classic one, each off by default.
    // Hold mode: a key struck from the computer keyboard, the mouse or a
    // controller sounds until it is released; the countdown leaves it alone
    // (the silencer and Mute still end it). Keys a song strikes keep the
    // countdown.
    void setHoldMode(bool on);
    bool holdMode() const { return hold_; }
    // The digits on the keys: -1 the fixed strip (1 on every C), else movable
    // digits (首调) for the key whose 1 is this pitch class, on the notes the
    // keys sound.
    void setDigitKey(int tonic);
    // True while a song's Play strikes a key (NotePlayed then comes from the song).
    bool strikingFromSong() const { return striking_from_song_; }
    int digitKey() const { return digitKey_; }
    // The sustain pedal (CC 64 on the keyboard's channel): while it is down,
    // released keys keep sounding and the countdown ends nothing.
    void setPedal(bool down);
    bool pedal() const { return pedal_; }
    // A song with note lengths: Play, but the note sounds until endHeld (or
    // endSongHolds) ends it rather than the countdown.
    void PlayHeld(int Index, int nTime);
    void endHeld(int key);
    void endSongHolds();
    // Which computer keys play which keys (the main block's map).
    void setKeyLayout(keymap::Layout layout) { layout_ = layout; }
    keymap::Layout keyLayout() const { return layout_; }
    // A key or the pedal changed while hold mode or the pedal is in use: the
    // recording keeps it (key index, or kPedalEvent; down or up).
    static constexpr int kPedalEvent = -1;
    std::function<void(int key, bool down)> releaseRecorder;
    // A key struck or released on a MIDI controller, as if typed: it lights,
    // NotePlayed is raised, the note goes out and the countdown ends it; a
    // release restores the colour. Taken only while the keyboard is read
    // (not during a playback). A velocity of 1..127 replaces Intensity for
    // this note only; any other value keeps Intensity.
    void PlayLive(int Key, bool Down, int velocity = -1);
    void StartMIDi();
    // Whether a key pressed now belongs to the keyboard (see KeyboardDevice);
    // kept for a device StartMIDi creates later.
    void setKeyGate(std::function<bool()> gate);
    void Mute();
    void StopMIDi();

    // The timers' work, callable directly (tests, offline rendering).
    void pollTick();       // Timer2: keyboard poll, run when the keyboard or mouse button changes
    void releaseTick();    // Timer3: release of keys struck by Play
    void countdownTick();  // Timer4: note countdown and note-off
    // When the countdown next ticks after `nowMs` on the monotonic clock, for
    // a note length of `mlong` ms (> 0): on the multiples of the length.
    static std::int64_t NextCountdownMs(std::int64_t nowMs, int mlong);
    bool releaseTimerActive() const;
    bool countdownTimerActive() const;
    bool pollTimerActive() const;

    // What the engine holds, for tests and for the window's own checks.
    QColor keyColor(int k) const;  // the colour key k is drawn in now
    std::int16_t noteTimes(int k) const;
    std::int16_t playTimes(int k) const;
    std::int16_t currentKey() const { return CurrentKey; }
    std::int16_t dragKey() const { return DragKey; }
    bool mouseUp() const { return MouseUp; }
    bool started() const { return Started; }
    KeyboardDevice* keyboardDevice() const { return device_.get(); }
    KeyboardView* keyboardView() const { return view_; }

    QSize sizeHint() const override;

signals:
    // Raised at every strike, before the note-on; Note is the key index 0..64.
    void NotePlayed(std::int16_t& Note);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kKeyCount = keys::kKeyCount;

    void ScanKey(std::int16_t ScanCode, bool Down);
    void PressKey(std::int16_t Key, bool Down);
    void dragOver(int Index, int State);
    void dragDrop(int Index);

    void adoptDevice();
    void wakePoll();
    void pollNow();
    void requestPoll();
    void setPollEnabled(bool on);
    void applyMlong(int value);
    void updateCountdownTimer();
    void sendNoteOn(std::int16_t key);
    void sendNoteOff(int note);
    void armCountdown();

    // Settings.
    bool silencer_ = false;
    bool logo_ = true;
    std::int32_t keyBoardBlock_ = 3;
    std::int16_t intensity_ = 127;
    int liveVelocity_ = -1;  // the controller's velocity for the note being struck
    std::int32_t tone_ = 0;
    std::int16_t channel_ = 0;
    std::int16_t pitch_ = 36;
    std::int16_t instrument_ = 0;
    int mlong_ = 100;
    bool hold_ = false;
    int digitKey_ = -1;
    void showDigits();
    bool pedal_ = false;
    keymap::Layout layout_ = keymap::Layout::Classic;
    bool striking_from_song_ = false;  // Play is striking: no hold
    // By struck key: the key that sounds while it is held, plus one (0: none).
    std::array<std::int16_t, kKeyCount> heldSounding_{};
    // By sounding key: what holds its note against the countdown.
    enum class Holder : std::uint8_t { None, Key, Song };
    std::array<Holder, kKeyCount> holder_{};

    // The keyboard poll. It needs no clock: it runs whenever the keyboard
    // device reports a change of a key or of the left mouse button, which is
    // when a periodic poll would have found something new.
    bool Timer2 = false;
    QTimer Timer3;  // release of keys struck by Play
    QTimer Timer4;  // note countdown
    // The host program runs: the countdown may tick. It ticks only while the
    // note length is above 0; at 0 Timer4 is stopped.
    bool countdownEnabled_ = false;

    // Engine state.
    std::array<std::int16_t, kKeyCount> NoteTimes{};
    std::array<std::int16_t, kKeyCount> PlayTimes{};
    std::array<bool, 256> KeyStates{};
    std::array<std::uint8_t, 256> KeyboardState{};
    std::int16_t CurrentKey = 0;
    std::int16_t DragKey = 0;
    bool MouseUp = false;
    bool Started = false;

    std::unique_ptr<KeyboardDevice> device_;
    std::function<bool()> keyGate_;
    bool deviceCreated_ = false;  // StartMIDi has taken the device into use
    bool polling_ = false;
    bool wakePending_ = false;
    bool pollAgain_ = false;  // a change came in while a poll was yielding

    KeyboardView* view_ = nullptr;
};
