#include "performance/settings.h"

#include "instrument/instrument.h"

namespace performance {

bool ApplySetting(MIDi& target, songs::Tag tag, const songs::Record& record)
{
    const std::int16_t v = record.number;
    switch (tag) {
    case songs::Tag::Tone:
        target.SetTone(v);
        return true;
    case songs::Tag::Intensity:
        target.SetIntensity(v);
        return true;
    case songs::Tag::Instrument:
        target.SetInstrument(v);
        return true;
    case songs::Tag::Mlong:
        target.SetMlong(v);
        return true;
    case songs::Tag::Pitch:
        target.SetPitch(v);
        return true;
    case songs::Tag::Silencer:
        target.SetSilencer(songs::BoolValue(record.value));
        return true;
    case songs::Tag::End:
    case songs::Tag::Keyboard:
    case songs::Tag::Tempo:
    case songs::Tag::Meter:
        break;
    }
    return false;
}

songs::HalfSettings SettingsOf(const MIDi& k)
{
    return {k.Tone(), k.Intensity(), k.Instrument(), k.Pitch(), k.Silencer(), k.Mlong()};
}

}  // namespace performance
