#pragma once
// What a setting record of a song does to the keyboard it applies to.
#include "songs/songfile.h"

class MIDi;

namespace songs {

// Sets the property that the record's tag names; false for a tag that means
// nothing (the record is skipped).
bool ApplySettingToInstrument(MIDi& target, const Record& record);

}  // namespace songs
