#include "songs/dump.h"

#include "songs/instrumentnames.h"
#include "songs/songfile.h"

#include <cstdio>

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
    if (r.tag == "@END ")
        return "end of song";
    if (r.tag == "@TonD") {
        if (r.number == 1)
            return "lower keyboard";
        if (r.number == 2)
            return "upper keyboard";
        return "keyboard unchanged (" + v + " selects none)";
    }
    if (r.tag == "@DiaZ") {
        const std::string name = KeyShortName(r.number);
        return "key " + (name.empty() ? v : name);
    }
    if (r.tag == "@YinL")
        return "volume " + v;
    if (r.tag == "@YueQ") {
        const std::string name = InstrumentName(r.number);
        return "instrument " + v + (name.empty() ? std::string() : " " + name);
    }
    if (r.tag == "@YinG")
        return "pitch " + v;
    if (r.tag == "@XiaY")
        return r.value == "True " ? "silencer on" : "silencer off";
    if (r.tag == "@YinC")
        return "note length " + v;
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

}  // namespace

std::string DumpSong(const std::string& path, bool& ok)
{
    SongFile file;
    ok = file.openForReading(path);
    if (!ok)
        return "cannot open " + path + "\n";

    std::string out;
    std::string title, author;
    ReadHeaderLine(path, title, author);
    const std::int64_t size = file.fileSize();
    out += "title: " + quotedText(title) + "\n";
    out += "author: " + quotedText(author) + "\n";
    out += "size: " + std::to_string(size) + " bytes\n";
    if (size >= 0 && size < kHeaderBytes)
        out += "header: the file ends inside the header, before slot 10\n";

    // Where a playback would stop: the first end marker or damaged record.
    std::string ending;
    std::int32_t slot = kFirstRecordSlot;
    for (;; ++slot) {
        Record r;
        const ReadStatus status = file.readRecord(slot, r);
        if (status == ReadStatus::Missing)
            break;
        std::string line = slotLabel(slot);
        std::string problem;
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
                if (r.tag == "@END " && ending.empty())
                    ending = "ends at slot " + std::to_string(slot) + " (end marker)";
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
        out += line + "\n";
        if (status == ReadStatus::Short || status == ReadStatus::IoError)
            break;
    }
    if (ending.empty()) {
        ending = slot == kFirstRecordSlot
                     ? "no records, ends at once"
                     : "records run out after slot " + std::to_string(slot - 1) + " without an end marker";
    }
    out += "playback: " + ending + "\n";
    return out;
}

}  // namespace songs
