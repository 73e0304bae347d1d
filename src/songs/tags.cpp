#include "songs/tags.h"

#include <array>
#include <utility>

namespace songs {

namespace {

constexpr std::array<std::pair<Tag, std::string_view>, 8> kFields{{
    {Tag::End, "@END "},
    {Tag::Keyboard, "@TonD"},
    {Tag::Tone, "@DiaZ"},
    {Tag::Intensity, "@YinL"},
    {Tag::Instrument, "@YueQ"},
    {Tag::Pitch, "@YinG"},
    {Tag::Silencer, "@XiaY"},
    {Tag::Mlong, "@YinC"},
}};

std::string_view trimmed(std::string_view field)
{
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);
    return field;
}

}  // namespace

std::string_view TagField(Tag tag)
{
    for (const auto& [t, field] : kFields)
        if (t == tag)
            return field;
    return {};
}

std::optional<Tag> ParseTag(std::string_view field)
{
    // A field read from a file keeps its padding; one given in code may not.
    for (const auto& [t, stored] : kFields)
        if (trimmed(stored) == trimmed(field))
            return t;
    return std::nullopt;
}

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

bool BoolValue(std::string_view field) { return trimmed(field) == "True"; }

}  // namespace songs
