#pragma once
// Public interface of the instrument control. (Contract shared by the window
// and the songs code; the implementation lives in midi.cpp.)
#include <QWidget>
#include <cstdint>

class PropertyBag;

class MIDi : public QWidget {
    Q_OBJECT
public:
    explicit MIDi(QWidget* parent = nullptr);
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
    void StartMIDi();
    void Mute();
    void StopMIDi();

    // The timers' work, callable directly (tests, offline rendering).
    void pollTick();       // Timer2: keyboard poll
    void releaseTick();    // Timer3: release of keys struck by Play
    void countdownTick();  // Timer4: note countdown and note-off
    bool releaseTimerActive() const;
    bool countdownTimerActive() const;
    bool pollTimerActive() const;

signals:
    // Raised at every strike, before the note-on; Note is the key index 0..64.
    void NotePlayed(std::int16_t& Note);
};
