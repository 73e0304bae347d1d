#include "songs/tags.h"

#include "songs/keys.h"

#include <array>
#include <utility>

namespace songs {

namespace {

constexpr std::array<std::pair<Tag, std::string_view>, 10> kFields{{
    {Tag::End, "@END "},
    {Tag::Keyboard, "@TonD"},
    {Tag::Tone, "@DiaZ"},
    {Tag::Intensity, "@YinL"},
    {Tag::Instrument, "@YueQ"},
    {Tag::Pitch, "@YinG"},
    {Tag::Silencer, "@XiaY"},
    {Tag::Mlong, "@YinC"},
    {Tag::Tempo, "@SuDu"},
    {Tag::Meter, "@PaiH"},
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

std::string LengthTag(const LengthRecord& r)
{
    const char b = char('0' + r.keyboard);
    switch (r.kind) {
    case LengthRecord::Kind::PedalDown:
        return {'@', 'P', b, 'D', ' '};
    case LengthRecord::Kind::PedalUp:
        return {'@', 'P', b, 'U', ' '};
    case LengthRecord::Kind::Release:
        break;
    }
    return {'@', 'R', b, char('0' + r.key / 10), char('0' + r.key % 10)};
}

std::optional<LengthRecord> ParseLengthTag(std::string_view field)
{
    if (field.size() != 5 || field[0] != '@')
        return std::nullopt;
    LengthRecord r;
    r.keyboard = field[2] - '0';
    if (r.keyboard != kLowerKeyboard && r.keyboard != kUpperKeyboard)
        return std::nullopt;
    if (field[1] == 'P' && field[4] == ' ' && (field[3] == 'D' || field[3] == 'U')) {
        r.kind = field[3] == 'D' ? LengthRecord::Kind::PedalDown : LengthRecord::Kind::PedalUp;
        return r;
    }
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (field[1] != 'R' || !digit(field[3]) || !digit(field[4]))
        return std::nullopt;
    r.key = (field[3] - '0') * 10 + (field[4] - '0');
    if (r.key > keys::kLastKey)
        return std::nullopt;
    return r;
}

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

bool BoolValue(std::string_view field) { return trimmed(field) == "True"; }

}  // namespace songs
