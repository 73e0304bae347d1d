#include "songs/export/instrumentsettings.h"

#include "instrument/midi.h"

namespace songs {

bool ApplySettingToInstrument(MIDi& target, const Record& record)
{
    const std::int16_t v = record.number;
    if (record.tag == "@DiaZ")
        target.SetTone(v);
    else if (record.tag == "@YinL")
        target.SetIntensity(v);
    else if (record.tag == "@YueQ")
        target.SetInstrument(v);
    else if (record.tag == "@YinC")
        target.SetMlong(v);
    else if (record.tag == "@YinG")
        target.SetPitch(v);
    else if (record.tag == "@XiaY")
        target.SetSilencer(record.value == "True ");  // anything else is False
    else
        return false;
    return true;
}

}  // namespace songs
