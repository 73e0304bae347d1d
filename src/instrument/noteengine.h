#pragma once
// The rules of one keyboard without its widget: which computer key strikes
// which key, the countdown that ends a note, hold and the pedal, the keys a
// song strikes, and which notes sound. It is driven by plain calls and tells
// its output only what changes the sound: a note-off goes out only for a
// note the output has sounding.
#include "instrument/keymap.h"
#include "songs/keys.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// Where the engine's messages go. The output drops values outside a MIDI
// byte's range, and it keeps the notes that sound: two keyboards on one port
// share them, so one keyboard's countdown ends the other's note on the same
// channel as a single receiver would hear it.
class NoteOutput {
public:
    virtual ~NoteOutput() = default;
    virtual void noteOn(int channel, int note, int velocity) = 0;
    virtual void noteOff(int channel, int note) = 0;
    virtual void controlChange(int channel, int controller, int value) = 0;
    virtual bool sounding(int channel, int note) const = 0;
};

class NoteEngine {
public:
    static constexpr int kKeyCount = keys::kKeyCount;
    static constexpr std::int16_t kPlayIdle = -1;
    static constexpr int kPedalEvent = -1;  // lengthChanged's key for the pedal
    static constexpr int kKeyBoardBlockNone = 0, kKeyBoardBlockMain = 1, kKeyBoardBlockRightHand = 2,
                         kKeyBoardBlockBoth = 3;
    using KeyboardState = std::array<std::uint8_t, keymap::kScanCodeCount>;

    // Used as they are: whoever sets them keeps them in range. Out-of-range
    // values (loaded settings) make notes that are not sent.
    struct Settings {
        std::int16_t channel = 0;
        std::int16_t pitch = 36;
        std::int32_t tone = 0;
        std::int16_t intensity = 127;
        std::int32_t keyBoardBlock = kKeyBoardBlockBoth;
        bool silencer = false;
        keymap::Layout layout = keymap::Layout::Classic;
    };
    Settings settings;

    explicit NoteEngine(NoteOutput& output);

    // What the engine asks of whoever shows and hosts it; each may be empty.
    std::function<void(int key, bool lit)> showKey;       // lit at a strike, restored at a release
    std::function<int(int key)> keyToSound;               // the host's say: the key that sounds
    std::function<void(int key)> notePlayed;              // every strike, before its note goes out
    std::function<void(int key)> struckOut;               // the strike's note is out
    std::function<void(int key, bool down)> lengthChanged;  // hold or pedal moved (kPedalEvent)

    // Key k's MIDI note with the current Pitch and Tone (Tone left out when
    // asked), or none when the sum leaves its 16 bits; and the key that
    // sounds a note, if any.
    std::optional<int> noteOf(int key, bool withTone = true) const;
    std::optional<int> keyOf(int note) const;

    // The computer keyboard: every scan code that changed since the last call.
    void scan(const KeyboardState& state);
    // The keyboard is let go: a scan under way ends after the current key.
    void endScan() { scanning_ = false; }
    void setMouseUp(bool up) { mouseUp_ = up; }
    void strike(int key);
    void release(int key);
    // A key struck from a controller; a velocity of 1..127 replaces Intensity.
    void strikeLive(int key, int velocity);
    // The host strikes a key and shows it released after nTime release ticks;
    // held: the note sounds until endHeld rather than by the countdown.
    void play(int index, int nTime, bool held = false);
    void endHeld(int key);
    void endSongHolds();
    void dragOver(int index, bool leaving);
    void dragDrop(int index) { release(index); }
    void mute();
    void setHoldMode(bool on);
    void setPedal(bool down);

    // The ticks. releaseTick returns whether a key still counts.
    bool releaseTick();
    void countdownTick();

    bool holdMode() const { return hold_; }
    bool pedal() const { return pedal_; }
    bool strikingFromSong() const { return fromSong_; }
    std::int16_t noteTimes(int k) const;
    std::int16_t playTimes(int k) const;
    std::int16_t currentKey() const { return currentKey_; }
    std::int16_t dragKey() const { return dragKey_; }
    bool mouseUp() const { return mouseUp_; }

private:
    void scanKey(int code, bool down);
    void press(int key, int velocity);
    void startNote(std::optional<int> note, int velocity);
    void endNote(std::optional<int> note);

    NoteOutput& out_;
    std::array<std::int16_t, kKeyCount> noteTimes_{};
    std::array<std::int16_t, kKeyCount> playTimes_{};
    std::array<bool, keymap::kScanCodeCount> keyStates_{};
    // By struck key: the key that sounds while it is held, plus one (0: none).
    std::array<std::int16_t, kKeyCount> heldSounding_{};
    // By sounding key: what holds its note against the countdown.
    enum class Holder : std::uint8_t { None, Key, Song };
    std::array<Holder, kKeyCount> holder_{};
    std::int16_t currentKey_ = 0;
    std::int16_t dragKey_ = 0;
    bool mouseUp_ = false;
    bool hold_ = false;
    bool pedal_ = false;
    bool fromSong_ = false;
    bool scanning_ = false;
};
