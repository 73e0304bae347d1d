#pragma once
// What a setting record of a song does to the keyboard it applies to, and the
// settings a recording starts from.
#include "songs/recorder.h"
#include "songs/songfile.h"
#include "songs/tags.h"

class MIDi;

namespace performance {

// Sets the property that the tag names; false for a tag that is no setting
// of a keyboard ("@END ", "@TonD").
bool ApplySetting(MIDi& target, songs::Tag tag, const songs::Record& record);

// The six settings of a keyboard as a recording's header keeps them.
songs::HalfSettings SettingsOf(const MIDi& keyboard);

}  // namespace performance
