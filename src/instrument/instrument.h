#pragma once
// The instrument control MIDi: one on-screen keyboard of 65 keys, played from
// the computer keyboard, the mouse, a controller or a song, each key sent at
// once as a MIDI note through MidiOut. The rules are the NoteEngine's;
// this control joins it to its keys on screen, the key device and the port.
#include "instrument/keymap.h"
#include "instrument/noteengine.h"
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

class MidiOut;

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
    void setHoldMode(bool on) { engine_.setHoldMode(on); }
    bool holdMode() const { return engine_.holdMode(); }
    // The digits on the keys: -1 the fixed strip (1 on every C), else movable
    // digits (首调) for the key whose 1 is this pitch class, on the notes the
    // keys sound.
    void setDigitKey(int tonic);
    // True while a song's Play strikes a key (NotePlayed then comes from the song).
    bool strikingFromSong() const { return engine_.strikingFromSong(); }
    int digitKey() const { return digitKey_; }
    // The sustain pedal (CC 64 on the keyboard's channel): while it is down,
    // released keys keep sounding and the countdown ends nothing.
    void setPedal(bool down) { engine_.setPedal(down); }
    bool pedal() const { return engine_.pedal(); }
    // A song with note lengths: Play, but the note sounds until endHeld (or
    // endSongHolds) ends it rather than the countdown.
    void PlayHeld(int Index, int nTime);
    void endHeld(int key) { engine_.endHeld(key); }
    void endSongHolds() { engine_.endSongHolds(); }
    // Which computer keys play which keys (the main block's map).
    void setKeyLayout(keymap::Layout layout);
    // The computer key's name on each key it plays (键位); shown unless hidden.
    void setKeyLabelsShown(bool on);
    keymap::Layout keyLayout() const { return engine_.settings.layout; }
    // Key k's MIDI note as it sounds now, and the key that sounds a note.
    std::optional<int> noteOfKey(int key) const { return engine_.noteOf(key); }
    std::optional<int> keyOfNote(int note) const { return engine_.keyOf(note); }
    // A key or the pedal changed while hold mode or the pedal is in use: the
    // recording keeps it (key index, or kPedalEvent; down or up).
    static constexpr int kPedalEvent = NoteEngine::kPedalEvent;
    std::function<void(int key, bool down)> releaseRecorder;
    // The host's say over a struck key: given the key struck, it returns the
    // key to sound (one off the keyboard keeps the struck key). Unset, the
    // struck key sounds.
    std::function<int(int key)> keyToSound;
    // A key struck or released on a MIDI controller, as if typed: it lights,
    // NotePlayed is raised, the note goes out and the countdown ends it; a
    // release restores the colour. Taken only while the keyboard is read
    // (not during a playback). A velocity of 1..127 replaces Intensity for
    // this note only; any other value keeps Intensity.
    void PlayLive(int Key, bool Down, int velocity = -1);
    // The port this keyboard sends to, shared with the other keyboard; not
    // owned, and it must outlive the keyboard. Set it before StartMIDi.
    void setPort(MidiOut* port) { output_.port = port; }
    MidiOut* port() const { return output_.port; }
    void StartMIDi();
    // Whether a key pressed now belongs to the keyboard (see KeyboardDevice);
    // kept for a device StartMIDi creates later.
    void setKeyGate(std::function<bool()> gate);
    void Mute() { engine_.mute(); }
    void StopMIDi();

    // The timers' work, callable directly (tests, offline rendering).
    void pollTick();       // Timer2: keyboard poll, run when the keyboard or mouse button changes
    void releaseTick();    // Timer3: release of keys struck by Play
    void countdownTick() { engine_.countdownTick(); }  // Timer4: note countdown and note-off
    // When the countdown next ticks after `nowMs` on the monotonic clock, for
    // a note length of `mlong` ms (> 0): on the multiples of the length.
    static std::int64_t NextCountdownMs(std::int64_t nowMs, int mlong);
    bool releaseTimerActive() const;
    bool countdownTimerActive() const;
    bool pollTimerActive() const;

    // What the engine holds, for tests and for the window's own checks.
    QColor keyColor(int k) const;  // the colour key k is drawn in now
    std::int16_t noteTimes(int k) const { return engine_.noteTimes(k); }
    std::int16_t playTimes(int k) const { return engine_.playTimes(k); }
    std::int16_t currentKey() const { return engine_.currentKey(); }
    std::int16_t dragKey() const { return engine_.dragKey(); }
    bool mouseUp() const { return engine_.mouseUp(); }
    bool started() const { return Started; }
    KeyboardDevice* keyboardDevice() const { return device_.get(); }
    KeyboardView* keyboardView() const { return view_; }

    QSize sizeHint() const override;

signals:
    // Raised at every strike, before the note-on, with the key index 0..64
    // that sounds.
    void NotePlayed(std::int16_t Note);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The engine's messages on the port; with no port they go nowhere.
    struct PortOutput : NoteOutput {
        MidiOut* port = nullptr;
        void noteOn(int channel, int note, int velocity) override;
        void noteOff(int channel, int note) override;
        void controlChange(int channel, int controller, int value) override;
        bool sounding(int channel, int note) const override;
    };

    void adoptDevice();
    void wakePoll();
    void pollNow();
    void requestPoll();
    void setPollEnabled(bool on);
    void applyMlong(int value);
    void updateCountdownTimer();
    void armCountdown();
    void showDigits();
    void showKeyLabels();
    void showKey(int key, bool lit);

    PortOutput output_;
    NoteEngine engine_{output_};
    bool logo_ = true;
    std::int16_t instrument_ = 0;
    int mlong_ = 100;
    int digitKey_ = -1;

    // The keyboard poll. It needs no clock: it runs whenever the keyboard
    // device reports a change of a key or of the left mouse button, which is
    // when a periodic poll would have found something new.
    bool Timer2 = false;
    QTimer Timer3;  // release of keys struck by Play
    QTimer Timer4;  // note countdown
    // The host program runs: the countdown may tick. It ticks only while the
    // note length is above 0; at 0 Timer4 is stopped.
    bool countdownEnabled_ = false;
    bool Started = false;
    NoteEngine::KeyboardState KeyboardState{};

    std::unique_ptr<KeyboardDevice> device_;
    std::function<bool()> keyGate_;
    bool deviceCreated_ = false;  // StartMIDi has taken the device into use
    bool wakePending_ = false;

    KeyboardView* view_ = nullptr;
};
