#include "songs/dump.h"

#include "songs/instrumentnames.h"
#include "songs/paths.h"
#include "songs/songfile.h"
#include "songs/songtime.h"
#include "songs/tags.h"

#include <cstdio>
#include <ostream>

namespace songs {

namespace {

// Shows the bytes of a field exactly, padding included, without letting a
// damaged byte reach the terminal.
std::string quoted(std::string_view bytes)
{
    std::string out = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

// Header text is UTF-8 already; only control characters are escaped.
std::string quotedText(std::string_view utf8)
{
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string settingMeaning(const Record& r)
{
    const std::string v = std::to_string(r.number);
    const std::optional<Tag> tag = ParseTag(r.tag);
    if (const std::optional<LengthRecord> length = ParseLengthTag(r.tag); !tag && length) {
        const std::string board = length->keyboard == kLowerKeyboard ? "lower keyboard" : "upper keyboard";
        const std::string when = ", " + v + (r.number == 1 ? " tick" : " ticks") + " after the note before";
        switch (length->kind) {
        case LengthRecord::Kind::PedalDown:
            return board + " pedal down" + when;
        case LengthRecord::Kind::PedalUp:
            return board + " pedal up" + when;
        case LengthRecord::Kind::Release:
            break;
        }
        return board + " key " + std::to_string(length->key) + " released" + when;
    }
    if (!tag)
        return "unknown setting, skipped";
    switch (*tag) {
    case Tag::End:
        return "end of song";
    case Tag::Keyboard:
        if (r.number == kLowerKeyboard)
            return "lower keyboard";
        if (r.number == kUpperKeyboard)
            return "upper keyboard";
        return "keyboard unchanged (" + v + " selects none)";
    case Tag::Tone: {
        const std::string name = KeyShortName(r.number);
        return "key " + (name.empty() ? v : name);
    }
    case Tag::Intensity:
        return "volume " + v;
    case Tag::Instrument: {
        const std::string name = InstrumentName(r.number);
        return "instrument " + v + (name.empty() ? std::string() : " " + name);
    }
    case Tag::Pitch:
        return "pitch " + v;
    case Tag::Silencer:
        return BoolValue(r.value) ? "silencer on" : "silencer off";
    case Tag::Mlong:
        return "note length " + v;
    case Tag::Tempo:
        return "played at " + v + " quarter notes a minute";
    case Tag::Meter: {
        int beats = 0, unit = 0;
        if (!ParseMeterText(r.value, beats, unit))
            return "meter unreadable, skipped";
        return "in " + std::to_string(beats) + "/" + std::to_string(unit);
    }
    }
    return "unknown setting, skipped";
}

std::string noteMeaning(std::int16_t key, std::int16_t gap)
{
    const std::string k = "key " + std::to_string(key);
    if (gap == 0)
        return k + ", next in the same tick";
    return k + ", next after " + std::to_string(gap) + (gap == 1 ? " tick" : " ticks");
}

std::string slotLabel(std::int32_t slot) { return "slot " + std::to_string(slot) + ": "; }

// A file that is damaged throughout (zeros, another kind of file) is shown
// this far; what follows is only counted.
constexpr int kDamagedListed = 16;

}  // namespace

bool DumpSong(const std::string& path, std::ostream& out, std::string& error)
{
    SongFile file;
    if (!file.openForReading(path)) {
        const std::string why = WhyUnreadable(path);
        error = "cannot open " + path + (why.empty() ? std::string() : ": " + why);
        return false;
    }

    std::string title, author;
    ReadHeaderLine(path, title, author);
    const std::int64_t size = file.fileSize();
    out << "title: " << quotedText(title) << "\n";
    out << "author: " << quotedText(author) << "\n";
    out << "size: " << size << " bytes\n";
    if (size >= 0 && size < kHeaderBytes)
        out << "header: the file ends inside the header, before slot 10\n";

    // Where a playback would stop: the first end marker or damaged record.
    // The listing is written as it goes and ends at the end marker, so a
    // huge file costs neither time nor memory past what a playback reads.
    const auto slotsAfter = [size](std::int32_t slot) {
        return size < 0 ? 0 : std::max<std::int64_t>(0, (size - std::int64_t(slot - 1) * kSlotSize + kSlotSize - 1) / kSlotSize);
    };
    std::string ending;
    int damagedInARow = 0;
    std::int32_t slot = kFirstRecordSlot;
    for (;; ++slot) {
        Record r;
        const ReadStatus status = file.readRecord(slot, r);
        if (status == ReadStatus::Missing)
            break;
        std::string line = slotLabel(slot);
        std::string problem;
        bool endMarker = false;
        switch (status) {
        case ReadStatus::Short:
            problem = "record cut short (" + std::to_string(size - std::int64_t(slot - 1) * kSlotSize) +
                      " of 12 bytes)";
            line += "damaged: " + problem;
            break;
        case ReadStatus::IoError:
            problem = "the record cannot be read";
            line += "damaged: " + problem;
            break;
        case ReadStatus::BadNumber:
            problem = "value does not fit 16 bits";
            line += quoted(r.tag) + " " + quoted(r.value) + "  damaged: " + problem;
            break;
        default:
            line += quoted(r.tag) + " " + quoted(r.value) + "  ";
            if (r.isSetting()) {
                line += settingMeaning(r);
                endMarker = ParseTag(r.tag) == Tag::End;
            } else {
                std::int16_t key = 0;
                if (KeyNumber(r.tag, key)) {
                    line += noteMeaning(key, r.number);
                } else {
                    problem = "tag is neither a setting nor a key number";
                    line += "damaged: " + problem;
                }
            }
            break;
        }
        if (!problem.empty() && ending.empty())
            ending = "stops at slot " + std::to_string(slot) + ": " + problem;
        out << line << "\n";
        if (status == ReadStatus::Short || status == ReadStatus::IoError)
            break;
        damagedInARow = problem.empty() ? 0 : damagedInARow + 1;
        const std::int64_t rest = slotsAfter(slot + 1);
        if (endMarker) {
            if (ending.empty())
                ending = "ends at slot " + std::to_string(slot) + " (end marker)";
            if (rest > 0)
                out << "after the end marker: " << rest << (rest == 1 ? " more slot" : " more slots")
                    << ", not listed\n";
            break;
        }
        if (damagedInARow == kDamagedListed && rest > 0) {
            out << "after " << kDamagedListed << " damaged records in a row: " << rest
                << (rest == 1 ? " more slot" : " more slots") << ", not listed\n";
            break;
        }
    }
    if (ending.empty()) {
        ending = slot == kFirstRecordSlot
                     ? "no records, ends at once"
                     : "records run out after slot " + std::to_string(slot - 1) + " without an end marker";
    }
    out << "playback: " << ending << "\n";
    return bool(out);
}

}  // namespace songs
