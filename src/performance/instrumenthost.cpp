#include "performance/instrumenthost.h"

#include "instrument/instrument.h"
#include "performance/settings.h"
#include "songs/tags.h"

#include <algorithm>
#include <limits>

namespace performance {

std::int16_t InstrumentHost::shownTicks(std::int16_t nTime) const
{
    return std::int16_t(std::min<std::int64_t>(ToRealTime(nTime, tempo), std::numeric_limits<std::int16_t>::max()));
}

void InstrumentHost::playKey(std::int16_t key, std::int16_t nTime) { active_->Play(key, shownTicks(nTime)); }

void InstrumentHost::holdKey(std::int16_t key, std::int16_t nTime) { active_->PlayHeld(key, shownTicks(nTime)); }

void InstrumentHost::endKey(int keyboard, std::int16_t key)
{
    (keyboard == songs::kUpperKeyboard ? upper_ : lower_).endHeld(key);
}

void InstrumentHost::pedal(int keyboard, bool down)
{
    (keyboard == songs::kUpperKeyboard ? upper_ : lower_).setPedal(down);
}

void InstrumentHost::selectHalf(std::int16_t half)
{
    // Any other number leaves the keyboard as it is.
    if (half == songs::kLowerKeyboard)
        active_ = &lower_;
    else if (half == songs::kUpperKeyboard)
        active_ = &upper_;
    else
        return;
    if (selected)
        selected(active_);
}

void InstrumentHost::applySetting(const songs::Record& record)
{
    const std::optional<songs::Tag> tag = songs::ParseTag(record.tag);
    if (tag && ApplySetting(*active_, *tag, record) && settingApplied)
        settingApplied(*tag, record.number);
}

void InstrumentHost::endOfPlayback()
{
    finished = true;
    if (ended)
        ended();
}

}  // namespace performance
