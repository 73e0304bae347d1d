#include "notation/jianpu.h"

#include "songs/scale.h"
#include "songs/songfile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace notation {
namespace {

using songs::kMiddleC;
constexpr const auto& kDegree = songs::kMajorScale;
// How each semitone above the tonic is written: digit and accidental.
constexpr std::array<std::pair<char, int>, 12> kChromatic = {{{'1', 0}, {'1', 1}, {'2', 0}, {'3', -1}, {'3', 0}, {'4', 0},
                                                               {'4', 1}, {'5', 0}, {'5', 1}, {'6', 0}, {'7', -1}, {'7', 0}}};
constexpr std::string_view kQuarterSign = "\xE2\x99\xA9";  // ♩
constexpr std::string_view kWideColon = "\xEF\xBC\x9A";    // ：

std::string lineRef(int line) { return "line " + std::to_string(line); }

std::string trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

// A line's columns in characters, not bytes, so that a column matches what
// an editor shows; counted on from the last one asked for, so that a line
// is counted once however many tokens it holds.
class Columns {
public:
    explicit Columns(std::string_view line) : line_(line) {}
    int at(std::size_t byte)
    {
        for (; byte_ < byte && byte_ < line_.size(); ++byte_)
            if ((std::uint8_t(line_[byte_]) & 0xC0) != 0x80)
                ++column_;
        return column_;
    }

private:
    std::string_view line_;
    std::size_t byte_ = 0;
    int column_ = 1;
};

// What an error line quotes of the text: enough to find it, not a whole
// line of a megabyte.
std::string quoted(std::string_view s)
{
    constexpr int kMostChars = 24;
    std::size_t end = 0;
    for (int chars = 0; end < s.size() && chars < kMostChars; ++chars)
        do
            ++end;
        while (end < s.size() && (std::uint8_t(s[end]) & 0xC0) == 0x80);
    return "\"" + std::string(s.substr(0, end)) + (end < s.size() ? "\xE2\x80\xA6\"" : "\"");  // …
}

bool number(std::string_view s, int& out)
{
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// "C", "#F", "F#", "bB", "Bb" (any case) to a pitch class.
bool parseTonic(std::string_view s, int& tonic)
{
    int accidental = 0;
    if (!s.empty() && (s.front() == '#' || s.front() == 'b') && s.size() == 2) {
        accidental = s.front() == '#' ? 1 : -1;
        s.remove_prefix(1);
    } else if (s.size() == 2 && (s.back() == '#' || s.back() == 'b')) {
        accidental = s.back() == '#' ? 1 : -1;
        s.remove_suffix(1);
    }
    if (s.size() != 1)
        return false;
    constexpr std::string_view kLetters = "CDEFGAB";
    const auto at = kLetters.find(char(std::toupper(std::uint8_t(s[0]))));
    if (at == std::string_view::npos)
        return false;
    tonic = (kDegree[at] + accidental + 12) % 12;
    return true;
}

bool parseMeter(std::string_view s, int& beats, int& unit)
{
    const auto slash = s.find('/');
    int b = 0, u = 0;
    if (slash == std::string_view::npos || !number(s.substr(0, slash), b) || !number(s.substr(slash + 1), u))
        return false;
    if (b < 1 || b > 32 || (u != 1 && u != 2 && u != 4 && u != 8 && u != 16))
        return false;
    beats = b;
    unit = u;
    return true;
}

bool parseTempo(std::string_view s, int& tempo)
{
    int t = 0;
    if (!number(s, t) || t < 20 || t > 400)
        return false;
    tempo = t;
    return true;
}

// A difficulty: one to three stars, or the digit.
bool parseStars(std::string_view s, int& stars)
{
    for (int n = 1; n <= 3; ++n)
        if (s == Stars(n) || s == std::to_string(n)) {
            stars = n;
            return true;
        }
    return false;
}

// One bare header item: "1=D", "3/4" or "♩=90". Empty when it is one, else
// why not.
enum class Bare { No, Yes, Bad };
Bare bareItem(std::string_view item, Score& score)
{
    if (item.substr(0, 2) == "1=")
        return parseTonic(item.substr(2), score.tonic) ? Bare::Yes : Bare::Bad;
    if (item.substr(0, kQuarterSign.size()) == kQuarterSign && item.substr(kQuarterSign.size(), 1) == "=")
        return parseTempo(item.substr(kQuarterSign.size() + 1), score.tempo) ? Bare::Yes : Bare::Bad;
    if (item.find('/') != std::string_view::npos && item.find_first_not_of("0123456789/") == std::string_view::npos)
        return parseMeter(item, score.beats, score.beatUnit) ? Bare::Yes : Bare::Bad;
    return Bare::No;
}

// A "name: value" line, or a line of bare items. False when the line is
// neither (the notes begin); `error` set when it is one but its value is bad.
bool headerLine(const std::string& line, int number, Score& score, std::string& error)
{
    std::size_t colon = line.find(':');
    std::size_t after = colon + 1;
    if (const auto wide = line.find(kWideColon); wide != std::string::npos && wide < colon) {
        colon = wide;
        after = wide + kWideColon.size();
    }
    if (colon != std::string::npos) {
        std::string name = trim(std::string_view(line).substr(0, colon));
        const std::string value = trim(std::string_view(line).substr(after));
        for (char& c : name)
            c = char(std::tolower(std::uint8_t(c)));
        if (name == "标题" || name == "title") {
            score.title = value;
        } else if (name == "作者" || name == "author") {
            score.author = value;
        } else if (name == "调" || name == "key") {
            const std::string_view v = std::string_view(value).substr(value.rfind("1=", 0) == 0 ? 2 : 0);
            if (!parseTonic(v, score.tonic))
                error = lineRef(number) + ": the key " + quoted(value) + " is none of 1=C, 1=#F, 1=bB ...";
        } else if (name == "拍号" || name == "meter") {
            if (!parseMeter(value, score.beats, score.beatUnit))
                error = lineRef(number) + ": the meter " + quoted(value) + " is not like 3/4";
        } else if (name == "速度" || name == "tempo") {
            const std::string_view v = std::string_view(value).substr(
                value.rfind(std::string(kQuarterSign) + "=", 0) == 0 ? kQuarterSign.size() + 1 : 0);
            if (!parseTempo(v, score.tempo))
                error = lineRef(number) + ": the tempo " + quoted(value) + " is no number of quarter notes a minute (20 to 400)";
        } else if (name == "分类" || name == "group") {
            score.group = value;
        } else if (name == "难度" || name == "level") {
            if (!parseStars(value, score.stars))
                error = lineRef(number) + ": the level " + quoted(value) + " is none of ★ ★★ ★★★ (or 1 to 3)";
        } else if (name == "上" || name == "下") {
            return false;  // a voice's first line of notes
        } else {
            error = lineRef(number) + ": unknown header " + quoted(name) + " (标题 作者 调 拍号 速度 分类 难度)";
        }
        return true;
    }
    std::vector<std::string_view> items;
    std::string_view rest = line;
    while (!rest.empty()) {
        const auto end = rest.find_first_of(" \t");
        if (end != 0)
            items.push_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    Score trial = score;
    for (const std::string_view item : items) {
        const Bare b = bareItem(item, trial);
        if (b == Bare::No)
            return false;
        if (b == Bare::Bad) {
            error = lineRef(number) + ": bad header " + quoted(item) + " (1=D, 3/4, " +
                    std::string(kQuarterSign) + "=90)";
            return true;
        }
    }
    score = trial;
    return true;
}

struct VoiceState {
    std::vector<Note>* notes = nullptr;
    int inBar = 0;
    int barLine = 0;  // line of the bar's first note
    bool ended = false;
};

// Bars named one by one; a text of hundreds of thousands of such bars would
// otherwise give as many lines.
constexpr std::size_t kBarsNamed = 10;

void checkBar(const Score& score, VoiceState& v, std::vector<std::string>& warnings, int& unnamed)
{
    if (v.inBar != 0 && v.inBar != score.barLength() && warnings.size() == kBarsNamed)
        ++unnamed;
    else if (v.inBar != 0 && v.inBar != score.barLength())
        warnings.push_back(lineRef(v.barLine) + ": a bar of " + std::to_string(v.inBar) + "/64 where the meter " +
                           std::to_string(score.beats) + "/" + std::to_string(score.beatUnit) + " has " +
                           std::to_string(score.barLength()) + "/64; played as written");
    v.inBar = 0;
}

// One note token; false with the reason.
bool parseNote(std::string_view token, const Score& score, int line, Note& note, std::string& why)
{
    std::size_t i = 0;
    int accidental = 0;
    if (token[i] == '#' || token[i] == 'b') {
        accidental = token[i] == '#' ? 1 : -1;
        ++i;
    }
    if (i >= token.size() || token[i] < '0' || token[i] > '7') {
        why = "not a note";
        return false;
    }
    const int digit = token[i++] - '0';
    int octave = 0, halves = 0, dots = 0;
    for (; i < token.size(); ++i) {
        switch (token[i]) {
        case '\'': ++octave; break;
        case ',': --octave; break;
        case '_': ++halves; break;
        case '.': ++dots; break;
        default: why = "not a note"; return false;
        }
    }
    if (digit == 0 && (accidental != 0 || octave != 0)) {
        why = "a rest has no accidental or octave";
        return false;
    }
    if (halves > 4 || dots > 2) {
        why = "shorter than a sixty-fourth note";
        return false;
    }
    int length = kQuarter >> halves;
    int add = length;
    for (int d = 0; d < dots; ++d) {
        if (add % 2 != 0) {
            why = "shorter than a sixty-fourth note";
            return false;
        }
        add /= 2;
        length += add;
    }
    note.length = length;
    note.line = line;
    if (digit == 0) {
        note.pitch = -1;
        return true;
    }
    note.pitch = kMiddleC + score.tonic + kDegree[std::size_t(digit - 1)] + accidental + 12 * octave;
    if (note.pitch < 0 || note.pitch > 127) {
        why = "beyond the MIDI notes";
        return false;
    }
    return true;
}

}  // namespace

bool ParseJianpu(std::string_view text, Score& score, std::string& error, std::vector<std::string>& warnings)
{
    score = Score{};
    error.clear();
    warnings.clear();
    if (text.size() > kMostTextBytes) {
        error = "the text is longer than 1 MB: more than a song can hold";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);  // a byte-order mark from some editors
    bool inHeader = true;
    VoiceState lower{&score.lower}, upper{&score.upper};
    VoiceState* voice = &lower;
    int number = 0, unnamed = 0;
    while (!text.empty()) {
        ++number;
        const auto eol = text.find('\n');
        std::string line(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        // Bytes of another encoding (GBK, as older Chinese editors save)
        // would be read as no notes and echoed undecodable.
        if (!songs::IsUtf8(line)) {
            error = lineRef(number) + ": " + std::string(kNotUtf8);
            return false;
        }
        if (const auto comment = line.find('%'); comment != std::string::npos)
            line.resize(comment);
        std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos)
            continue;
        if (inHeader) {
            if (headerLine(trim(line), number, score, error)) {
                if (!error.empty())
                    return false;
                continue;
            }
            inHeader = false;
        }
        // A voice prefix: "上:" or "下:", either colon.
        for (const auto& [prefix, v] : {std::pair<std::string_view, VoiceState*>{"上", &upper}, {"下", &lower}}) {
            if (line.compare(start, prefix.size(), prefix) != 0)
                continue;
            std::size_t at = start + prefix.size();
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                ++at;
            std::size_t colon = 0;
            if (line.compare(at, 1, ":") == 0)
                colon = 1;
            else if (line.compare(at, kWideColon.size(), kWideColon) == 0)
                colon = kWideColon.size();
            if (colon == 0)
                continue;
            voice = v;
            start = at + colon;
        }
        Columns columns(line);
        for (std::size_t i = start; i < line.size();) {
            const char c = line[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
                continue;
            }
            if (c == '|') {
                const bool last = i + 1 < line.size() && (line[i + 1] == '|' || line[i + 1] == ']');
                i += last ? 2 : 1;
                checkBar(score, *voice, warnings, unnamed);
                if (!voice->notes->empty())
                    voice->notes->back().barAfter = true;
                voice->ended = voice->ended || last;
                continue;
            }
            std::size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' && line[end] != '|')
                ++end;
            const std::string_view token = std::string_view(line).substr(i, end - i);
            const auto where = [&] { return lineRef(number) + ", column " + std::to_string(columns.at(i)) + ": "; };
            if (voice->ended) {
                error = where() + "notes after the final bar line";
                return false;
            }
            if (token == "-") {
                if (voice->notes->empty() || voice->notes->back().barAfter) {
                    error = where() + "a dash with no note before it in its bar";
                    return false;
                }
                voice->notes->back().length += kQuarter;
                voice->inBar += kQuarter;
            } else {
                Note note;
                std::string why;
                if (!parseNote(token, score, number, note, why)) {
                    error = where() + quoted(token) + " is " + why;
                    return false;
                }
                if (voice->inBar == 0)
                    voice->barLine = number;
                voice->notes->push_back(note);
                voice->inBar += note.length;
            }
            i = end;
        }
    }
    for (VoiceState* v : {&lower, &upper})
        checkBar(score, *v, warnings, unnamed);
    if (unnamed > 0)
        warnings.push_back(std::to_string(unnamed) + " more bar" + (unnamed > 1 ? "s differ" : " differs") +
                           " from the meter; played as written");
    if (score.lower.empty() && score.upper.empty()) {
        error = "the text holds no notes";
        return false;
    }
    return true;
}

std::string Stars(int stars)
{
    std::string out;
    for (int i = 0; i < stars; ++i)
        out += "\xE2\x98\x85";  // ★
    return out;
}

std::string TonicName(int tonic)
{
    static constexpr std::array<const char*, 12> kNames = {"C", "#C", "D", "bE", "E", "F", "#F", "G", "bA", "A", "bB", "B"};
    return kNames[std::size_t((tonic % 12 + 12) % 12)];
}

Spelling Spell(const Score& score, const Note& note)
{
    Spelling s;
    // The length: a base of a quarter or less (or a dotted quarter) and dashes.
    int base = note.length % kQuarter;
    s.dashes = note.length / kQuarter;
    if (base == 0) {
        base = kQuarter;
        --s.dashes;
    } else if (base == kQuarter / 2 && s.dashes > 0) {
        base = kQuarter + kQuarter / 2;
        --s.dashes;
    }
    // A plain length, then one or two augmentation dots: 16 24 28, 8 12 14 ...
    for (int plain = kQuarter; plain >= 1; plain /= 2) {
        if (base == plain || base == plain + plain / 2 || (plain >= 4 && base == plain + plain / 2 + plain / 4)) {
            s.dots = base == plain ? 0 : base == plain + plain / 2 ? 1 : 2;
            break;
        }
        ++s.underlines;
    }
    if (note.pitch < 0)
        return s;
    const songs::ScalePlace place = songs::PlaceOf(note.pitch, score.tonic);
    const auto& [digit, accidental] = kChromatic[std::size_t(place.semitone)];
    s.digit = digit;
    s.accidental = accidental;
    s.octave = place.octave;
    return s;
}

std::string WriteJianpu(const Score& score)
{
    std::string out;
    if (!score.title.empty())
        out += "标题: " + score.title + "\n";
    if (!score.author.empty())
        out += "作者: " + score.author + "\n";
    if (!score.group.empty())
        out += "分类: " + score.group + "\n";
    if (score.stars > 0)
        out += "难度: " + Stars(score.stars) + "\n";
    out += "调: 1=" + TonicName(score.tonic) + "\n";
    out += "拍号: " + std::to_string(score.beats) + "/" + std::to_string(score.beatUnit) + "\n";
    out += "速度: " + std::to_string(score.tempo) + "\n\n";
    // Four bars a line, the upper voice above the lower one, as printed.
    const auto render = [&score](const std::vector<Note>& notes) {
        std::vector<std::string> result;
        std::string line;
        int bars = 0;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const Note& n = notes[i];
            const Spelling s = Spell(score, n);
            std::string token;
            if (s.accidental != 0)
                token += s.accidental > 0 ? "#" : "b";
            token += s.digit;
            token += std::string(std::size_t(std::max(0, s.octave)), '\'');
            token += std::string(std::size_t(std::max(0, -s.octave)), ',');
            token += std::string(std::size_t(s.underlines), '_');
            token += std::string(std::size_t(s.dots), '.');
            for (int d = 0; d < s.dashes; ++d)
                token += " -";
            line += (line.empty() ? "" : " ") + token;
            const bool last = i + 1 == notes.size();
            if (n.barAfter || last) {
                line += last ? " ||" : " |";
                if (++bars % 4 == 0 || last) {
                    result.push_back(line);
                    line.clear();
                }
            }
        }
        return result;
    };
    const std::vector<std::string> upper = render(score.upper), lower = render(score.lower);
    for (std::size_t i = 0; i < std::max(upper.size(), lower.size()); ++i) {
        if (i < upper.size())
            out += "上: " + upper[i] + "\n";
        if (i < lower.size())
            out += "下: " + lower[i] + "\n";
    }
    return out;
}

}  // namespace notation
