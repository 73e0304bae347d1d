#pragma once
// The playback host of the two keyboards: a song's keys are struck on the
// keyboard its last "@TonD" chose, and its setting records change that
// keyboard. The window and the song tools play songs through this one host;
// what else they do (the panel follows, the playback timer) comes in hooks.
#include "performance/tempo.h"
#include "songs/player.h"

#include <cstdint>
#include <functional>

class MIDi;

namespace performance {

class InstrumentHost : public songs::PlaybackHost {
public:
    InstrumentHost(MIDi& lower, MIDi& upper) : lower_(lower), upper_(upper), active_(&lower) {}

    // The keyboard the song plays now: the one the owner had active when the
    // song starts, then the one its "@TonD" records select.
    void setActive(MIDi* keyboard) { active_ = keyboard; }
    MIDi* active() const { return active_; }

    void playKey(std::int16_t key, std::int16_t nTime) override;
    void selectHalf(std::int16_t half) override;
    void applySetting(const songs::Record& record) override;  // unknown tags skipped
    bool settingsLocked() const override { return locked && locked(); }
    void setTimerEnabled(bool on) override
    {
        if (timer)
            timer(on);
    }
    void endOfPlayback() override;
    void holdKey(std::int16_t key, std::int16_t nTime) override;
    void endKey(int keyboard, std::int16_t key) override;
    void pedal(int keyboard, bool down) override;

    bool finished = false;  // the song has ended since the host was made
    // 速度: a struck key shows down for its gap as stretched at this tempo;
    // whoever ticks the player stretches the gaps themselves.
    int tempo = kOwnTempoPercent;

    // Hooks, each optional.
    std::function<void(MIDi* keyboard)> selected;  // a "@TonD" selected this keyboard
    std::function<void(songs::Tag tag, std::int16_t value)> settingApplied;  // after the keyboard took it
    std::function<bool()> locked;    // setting records are skipped while true (锁定)
    std::function<void(bool on)> timer;
    std::function<void()> ended;

private:
    std::int16_t shownTicks(std::int16_t nTime) const;

    MIDi& lower_;
    MIDi& upper_;
    MIDi* active_;
};

}  // namespace performance
