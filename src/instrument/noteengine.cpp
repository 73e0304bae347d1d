#include "instrument/noteengine.h"


#include <algorithm>
#include <limits>

namespace {

using keys::kLastKey;
// Countdown ticks a struck note sounds for; the note-off goes out at the tick
// after the count reaches 0, so a note lasts ten to eleven ticks.
constexpr std::int16_t kNoteCountdown = 10;
constexpr int kSustain = 64;

template <typename T>
bool fits(long long v)
{
    return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
}

bool onKeyboard(int key) { return key >= 0 && key <= kLastKey; }

}  // namespace

NoteEngine::NoteEngine(NoteOutput& output) : out_(output) { playTimes_.fill(kPlayIdle); }

// k + Pitch in 16 bits, + Tone in 32 bits, narrowed to 16 bits. A sum that
// leaves its width yields no note rather than a wrapped one.
std::optional<int> NoteEngine::noteOf(int key, bool withTone) const
{
    const long long withPitch = (long long)key + settings.pitch;
    if (!fits<std::int16_t>(withPitch))
        return std::nullopt;
    const long long sum = withPitch + (withTone ? settings.tone : 0);
    if (!fits<std::int16_t>(sum))
        return std::nullopt;
    return int(sum);
}

std::optional<int> NoteEngine::keyOf(int note) const
{
    const long long key = (long long)note - settings.pitch - settings.tone;
    if (key < 0 || key > kLastKey)
        return std::nullopt;
    return int(key);
}

std::int16_t NoteEngine::noteTimes(int k) const { return onKeyboard(k) ? noteTimes_[std::size_t(k)] : 0; }
std::int16_t NoteEngine::playTimes(int k) const { return onKeyboard(k) ? playTimes_[std::size_t(k)] : kPlayIdle; }

void NoteEngine::startNote(std::optional<int> note, int velocity)
{
    if (!note)
        return;
    // A note-on of velocity 0 is a note-off to every receiver.
    if (velocity == 0 && !out_.sounding(settings.channel, *note))
        return;
    out_.noteOn(settings.channel, *note, velocity);
}

void NoteEngine::endNote(std::optional<int> note)
{
    // The countdown's note-offs of idle keys stop here.
    if (note && out_.sounding(settings.channel, *note))
        out_.noteOff(settings.channel, *note);
}

// ---- The computer keyboard ------------------------------------------------

void NoteEngine::scan(const KeyboardState& state)
{
    scanning_ = true;
    for (std::size_t i = 0; i < state.size() && scanning_; ++i) {
        const bool down = state[i] != 0;
        if (down == keyStates_[i])
            continue;
        keyStates_[i] = down;
        scanKey(int(i), down);
    }
    scanning_ = false;
}

void NoteEngine::scanKey(int code, bool down)
{
    // The space bar silences every polling instrument, on press and on
    // release, whatever block it answers; it plays no key.
    if (code == keymap::kSpaceBarScanCode) {
        mute();
        return;
    }
    const bool mainBlock = keymap::InMainBlock(code);
    const auto block = settings.keyBoardBlock;
    const bool ours = block == kKeyBoardBlockBoth || (block == kKeyBoardBlockMain && mainBlock) ||
                      (block == kKeyBoardBlockRightHand && !mainBlock);
    if (!ours)
        return;
    if (code == keymap::kMainPedalScanCode || code == keymap::kRightHandPedalScanCode) {
        setPedal(down);
        return;
    }
    // The piano map is the main block's; the right-hand block keeps its own.
    const int key = keymap::KeyForScanCode(code, settings.layout);
    if (key == keymap::kNoKey)
        return;
    if (down)
        strike(key);
    else
        release(key);
}

// ---- Strike and release -----------------------------------------------------

void NoteEngine::strike(int key) { press(key, settings.intensity); }

void NoteEngine::strikeLive(int key, int velocity)
{
    press(key, velocity >= 1 && velocity <= 127 ? velocity : settings.intensity);
}

void NoteEngine::press(int struck, int velocity)
{
    if (!onKeyboard(struck))
        return;
    if (showKey)
        showKey(struck, true);
    // The host may name another key; one outside the keyboard is ignored.
    int key = struck;
    if (keyToSound)
        if (const int chosen = keyToSound(struck); onKeyboard(chosen))
            key = chosen;
    if (notePlayed)
        notePlayed(key);
    if (settings.silencer)
        endNote(noteOf(currentKey_));
    startNote(noteOf(key), velocity);
    noteTimes_[std::size_t(key)] = kNoteCountdown;
    if (hold_ && !fromSong_) {
        heldSounding_[std::size_t(struck)] = std::int16_t(key + 1);
        holder_[std::size_t(key)] = Holder::Key;
    }
    currentKey_ = std::int16_t(key);
    if (struckOut)
        struckOut(struck);
}

void NoteEngine::release(int key)
{
    if (!onKeyboard(key))
        return;
    // Releasing restores the colour; the countdown ends the note, unless it
    // was held: then the release ends it (or the pedal keeps it).
    if (showKey)
        showKey(key, false);
    const int held = heldSounding_[std::size_t(key)] - 1;
    if (held < 0)
        return;
    heldSounding_[std::size_t(key)] = 0;
    holder_[std::size_t(held)] = Holder::None;
    noteTimes_[std::size_t(held)] = 0;
    if (!pedal_)
        endNote(noteOf(held));
    if (lengthChanged)
        lengthChanged(held, false);
}

void NoteEngine::countdownTick()
{
    // A key whose count has run out ends the note its key gives now, with
    // Pitch and Tone as they are at this tick, on every tick: a note left
    // sounding under a key whose Pitch moved is ended when a key names it
    // again. A held key is left alone, and the pedal keeps every note.
    for (int k = 0; k < kKeyCount; ++k) {
        auto& count = noteTimes_[std::size_t(k)];
        if (holder_[std::size_t(k)] != Holder::None)
            continue;
        if (count > 0)
            --count;
        else if (!pedal_)
            endNote(noteOf(k));
    }
}

void NoteEngine::mute()
{
    // Tone is not added: Mute addresses Pitch .. Pitch + 64. All of it goes
    // out, sounding or not: a note left sounding at the other end of a
    // cable is what it is for.
    for (int i = 0; i < kKeyCount; ++i) {
        if (const auto note = noteOf(i, false))
            out_.noteOff(settings.channel, *note);
    }
}

// ---- Hold and the pedal -----------------------------------------------------

void NoteEngine::setHoldMode(bool on)
{
    hold_ = on;
    if (!on) {
        // What is held now ends by the countdown.
        heldSounding_.fill(0);
        for (Holder& h : holder_)
            if (h == Holder::Key)
                h = Holder::None;
    }
}

void NoteEngine::setPedal(bool down)
{
    if (down == pedal_)
        return;
    pedal_ = down;
    out_.controlChange(settings.channel, kSustain, down ? 127 : 0);
    if (lengthChanged)
        lengthChanged(kPedalEvent, down);
}

// ---- The host's keys --------------------------------------------------------

void NoteEngine::play(int index, int nTime, bool held)
{
    const int key = std::clamp(index, 0, kLastKey);
    playTimes_[std::size_t(key)] = std::int16_t(std::clamp(nTime, 0, int(std::numeric_limits<std::int16_t>::max())));
    mouseUp_ = true;
    fromSong_ = true;
    strike(key);
    fromSong_ = false;
    if (held)
        holder_[std::size_t(currentKey_)] = Holder::Song;
}

void NoteEngine::endHeld(int key)
{
    if (!onKeyboard(key) || holder_[std::size_t(key)] != Holder::Song)
        return;
    holder_[std::size_t(key)] = Holder::None;
    noteTimes_[std::size_t(key)] = 0;
    if (!pedal_)
        endNote(noteOf(key));
}

void NoteEngine::endSongHolds()
{
    for (int k = 0; k < kKeyCount; ++k)
        endHeld(k);
}

bool NoteEngine::releaseTick()
{
    bool counting = false;
    for (int k = 0; k < kKeyCount; ++k) {
        auto& count = playTimes_[std::size_t(k)];
        if (count > 1) {
            --count;
            counting = true;
            continue;
        }
        // nTime 0 and 1 both release at the first tick.
        const bool due = count != kPlayIdle;
        count = kPlayIdle;
        if (due)
            release(k);
    }
    return counting;
}

// ---- The mouse ----------------------------------------------------------------

void NoteEngine::dragOver(int index, bool leaving)
{
    // Staying on the key struck last does not strike it again; a poll that
    // saw the button up, or a Play, allows it.
    if (index != currentKey_ || mouseUp_) {
        strike(index);
        dragKey_ = std::int16_t(index);
        mouseUp_ = false;
    }
    if (dragKey_ != index || leaving)
        release(dragKey_);
}
