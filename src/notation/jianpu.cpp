#include "notation/jianpu.h"

#include "songs/scale.h"
#include "songs/songfile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

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
            error = lineRef(number) + ": unknown header " + quoted(name) + " (标题 作者 调 拍号 速度)";
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
    int inBar3 = 0;   // the bar so far, in thirds of 64ths
    int barLine = 0;  // line of the bar's first note
    int bars = 0;
    // The first bar's report, held until the second shows whether it was a pickup.
    std::string firstOff{};
    bool ended = false;
    std::vector<char> open{};  // brackets not yet closed: '(' a slur, '3' a triplet
    bool slurNext = false, tripletNext = false, repeatNext = false;
    int endingNext = 0;
};

// Bars named one by one; a text of hundreds of thousands of such bars would
// otherwise give as many lines.
constexpr std::size_t kBarsNamed = 10;

struct BarReports {
    std::vector<std::string>& lines;
    std::size_t named = 0;
    int unnamed = 0;
    void add(std::string line)
    {
        if (named == kBarsNamed) {
            ++unnamed;
        } else {
            ++named;
            lines.push_back(std::move(line));
        }
    }
};

// `last` when the bar ends the piece: a pickup's last bar is short by what
// the pickup holds.
void checkBar(Score& score, VoiceState& v, BarReports& reports, bool last)
{
    if (v.inBar3 == 0)
        return;
    const int full = score.barLength() * 3;
    const bool off = v.inBar3 != full, shorter = v.inBar3 < full;
    const std::string why = lineRef(v.barLine) + ": a bar of " + std::to_string(v.inBar3 / 3) + "/64 where the meter " +
                            std::to_string(score.beats) + "/" + std::to_string(score.beatUnit) + " has " +
                            std::to_string(score.barLength()) + "/64; played as written";
    v.inBar3 = 0;
    if (++v.bars == 1 && off && shorter && !last) {
        if (!score.pickup)
            v.firstOff = why;
        return;
    }
    if (v.bars == 2 && !v.firstOff.empty()) {
        if (off)
            reports.add(v.firstOff);
        else
            score.pickup = true;
        v.firstOff.clear();
    }
    if (off && !(last && score.pickup && v.bars > 1))
        reports.add(why);
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

// The signs of a line of notes as their ASCII forms: the same characters
// counted, so that columns stay where an editor shows them.
void plainSigns(std::string& line)
{
    static constexpr std::pair<std::string_view, char> kWide[] = {
        {"\xEF\xBD\x9C", '|'}, {"\xEF\xBC\x9A", ':'}, {"\xEF\xBC\x88", '('}, {"\xEF\xBC\x89", ')'}, {"\xE2\x80\x94", '-'}};
    if (line.find_first_of("\xEF\xE2") == std::string::npos)
        return;
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        bool wide = false;
        for (const auto& [sign, plain] : kWide)
            if (line.compare(i, sign.size(), sign) == 0) {
                out += plain;
                i += sign.size();
                wide = true;
                break;
            }
        if (!wide)
            out += line[i++];
    }
    line = std::move(out);
}

constexpr std::string_view kTieSign = "\xE2\x8C\x92";  // ⌒
constexpr std::string_view kLyricsPrefix = "词";

std::size_t utf8Length(char lead)
{
    const auto b = std::uint8_t(lead);
    return b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
}

char32_t codePoint(std::string_view c)
{
    if (c.size() == 1)
        return std::uint8_t(c[0]);
    char32_t cp = std::uint8_t(c[0]) & (0x3F >> (c.size() - 1));
    for (std::size_t i = 1; i < c.size(); ++i)
        cp = (cp << 6) | (std::uint8_t(c[i]) & 0x3F);
    return cp;
}

bool isHanzi(char32_t c)
{
    return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3FFFF) ||
           (c >= 0x3040 && c <= 0x30FF) || (c >= 0xAC00 && c <= 0xD7AF);
}

// A 词 line cut into syllables: each Chinese character one, Latin words cut
// at blanks and after hyphens, _ one of its own; punctuation stays with the
// syllable before it, as it is printed.
std::vector<std::string> syllablesOf(std::string_view text)
{
    std::vector<std::string> out;
    std::string word;
    const auto endWord = [&] {
        if (!word.empty())
            out.push_back(std::move(word));
        word.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::string_view c = text.substr(i, utf8Length(text[i]));
        i += c.size();
        const char32_t cp = codePoint(c);
        if (cp == ' ' || cp == '\t' || cp == '\r' || cp == 0x3000) {
            endWord();
        } else if (cp == '_') {
            endWord();
            out.emplace_back(kHeldSyllable);
        } else if (isHanzi(cp)) {
            endWord();
            out.emplace_back(c);
        } else if (const bool mark = (cp < 0x80 && std::ispunct(int(cp))) || (cp >= 0x2000 && cp <= 0x206F) ||
                                     (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF00 && cp <= 0xFF0F) ||
                                     (cp >= 0xFF1A && cp <= 0xFF20);
                   mark && word.empty() && !out.empty() && out.back() != kHeldSyllable) {
            out.back() += c;
        } else {
            word += c;
            if (cp == '-')
                endWord();
        }
    }
    endWord();
    return out;
}

// The syllables given to the notes [first, end) that are sung: neither
// rests nor tied on. A count that differs is reported and the rest left bare.
void giveSyllables(std::vector<Note>& voice, std::size_t first, std::size_t end, const std::vector<std::string>& syllables,
                   int line, std::vector<std::string>& warnings)
{
    std::size_t next = 0, sung = 0;
    for (std::size_t i = first; i < end; ++i) {
        if (!IsStruck(voice, i))
            continue;
        ++sung;
        if (next < syllables.size())
            voice[i].lyric = syllables[next++];
    }
    if (sung != syllables.size())
        warnings.push_back(lineRef(line) + ": " + std::to_string(syllables.size()) + " syllables for " +
                           std::to_string(sung) + " notes sung in the line above");
}

}  // namespace

bool IsStruck(const std::vector<Note>& voice, std::size_t index)
{
    return voice[index].pitch >= 0 && !(index > 0 && voice[index - 1].tieAfter);
}

std::vector<int> PlayOrder(const std::vector<Note>& voice)
{
    const int n = int(voice.size());
    const auto at = [&voice](int i) -> const Note& { return voice[std::size_t(i)]; };
    // Where the endings after `from` give way to what follows: the first note
    // after a repeat's end that begins no ending, or the next section's start.
    const auto endingsEnd = [&](int from) {
        int j = from + 1;
        while (j < n && !at(j).repeatStart && !(at(j - 1).repeatEnd && at(j).ending == 0))
            ++j;
        return j;
    };
    // As many times through as the section has endings; twice without.
    const auto passesFrom = [&](int from) {
        int most = 2;
        for (int j = from; j < n && (j == from || !at(j).repeatStart); ++j)
            most = std::max(most, at(j).ending);
        return most;
    };
    std::vector<int> order;
    int sectionStart = 0, pass = 1, passes = passesFrom(0);
    for (int i = 0; i < n;) {
        if (at(i).repeatStart && i != sectionStart) {
            sectionStart = i;
            pass = 1;
            passes = passesFrom(i);
        }
        if (at(i).ending != 0 && at(i).ending != pass) {
            const int stop = endingsEnd(i);
            int j = i + 1;
            while (j < stop && at(j).ending != pass)
                ++j;
            i = j;
            continue;
        }
        order.push_back(i);
        if (at(i).repeatEnd && pass < passes) {
            ++pass;
            i = sectionStart;
            continue;
        }
        if (at(i).repeatEnd) {
            sectionStart = i + 1;
            pass = 1;
            passes = passesFrom(i + 1);
        }
        ++i;
    }
    return order;
}

bool ParseJianpu(std::string_view text, Score& score, std::string& error, std::vector<std::string>& warnings)
{
    score = Score{};
    error.clear();
    warnings.clear();
    if (text.size() > kMostTextBytes) {
        error = "the text is longer than 1 MB: more than a song can hold";
        return false;
    }
    // Older Chinese editors save GBK; a text that reads whole as GBK is
    // taken as such, and said to be.
    std::string decoded;
    if (!songs::IsUtf8(text)) {
        decoded = songs::GbkToUtf8(text);
        if (decoded.find("\xEF\xBF\xBD") == std::string::npos) {
            text = decoded;
            warnings.push_back("the text is not UTF-8: read as GBK");
        }
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);  // a byte-order mark from some editors
    bool inHeader = true;
    VoiceState lower{.notes = &score.lower}, upper{.notes = &score.upper};
    VoiceState* voice = &lower;
    BarReports reports{warnings};
    // The notes the last line of notes gave, for a 词 line after it.
    VoiceState* lineVoice = nullptr;
    std::size_t lineFirst = 0, lineEnd = 0;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto eol = text.find('\n');
        std::string line(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        // Bytes of another encoding would be read as no notes and echoed
        // undecodable.
        if (!songs::IsUtf8(line)) {
            error = lineRef(number) + ": " + std::string(kNotUtf8);
            return false;
        }
        if (const auto comment = line.find('%'); comment != std::string::npos)
            line.resize(comment);
        std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos)
            continue;
        if (!inHeader && line.compare(start, kLyricsPrefix.size(), kLyricsPrefix) == 0) {
            std::size_t at = line.find_first_not_of(" \t", start + kLyricsPrefix.size());
            const std::size_t colon = at == std::string::npos                            ? 0
                                      : line.compare(at, 1, ":") == 0                    ? 1
                                      : line.compare(at, kWideColon.size(), kWideColon) == 0 ? kWideColon.size()
                                                                                         : 0;
            if (colon != 0) {
                const std::vector<std::string> syllables = syllablesOf(std::string_view(line).substr(at + colon));
                if (lineVoice == nullptr)
                    warnings.push_back(lineRef(number) + ": lyrics with no line of notes before them");
                else
                    giveSyllables(*lineVoice->notes, lineFirst, lineEnd, syllables, number, warnings);
                lineVoice = nullptr;
                continue;
            }
        }
        if (inHeader) {
            if (headerLine(trim(line), number, score, error)) {
                if (!error.empty())
                    return false;
                continue;
            }
            inHeader = false;
        }
        plainSigns(line);
        start = line.find_first_not_of(" \t\r");
        // A voice prefix: "上:" or "下:".
        for (const auto& [prefix, v] : {std::pair<std::string_view, VoiceState*>{"上", &upper}, {"下", &lower}}) {
            if (line.compare(start, prefix.size(), prefix) != 0)
                continue;
            std::size_t at = start + prefix.size();
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                ++at;
            if (line.compare(at, 1, ":") != 0)
                continue;
            voice = v;
            start = at + 1;
        }
        std::vector<Note>& notes = *voice->notes;
        lineVoice = voice;
        lineFirst = notes.size();
        // A note takes two bytes at the least: room for as many as the line
        // can hold, grown as a vector grows, spares a long line the copies
        // of every note it has read so far.
        if (const std::size_t most = notes.size() + (line.size() - start) / 2 + 1; notes.capacity() < most)
            notes.reserve(std::max(most, 2 * notes.capacity()));
        Columns columns(line);
        for (std::size_t i = start; i < line.size();) {
            const char c = line[i];
            const auto where = [&] { return lineRef(number) + ", column " + std::to_string(columns.at(i)) + ": "; };
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
                continue;
            }
            if (c == '|' || (c == ':' && line.compare(i, 2, ":|") == 0)) {
                const bool repeatEnd = c == ':';
                i += repeatEnd ? 2 : 1;
                bool last = false;
                if (repeatEnd) {
                    if (notes.empty()) {
                        error = where() + "a repeat sign with no note before it";
                        return false;
                    }
                    notes.back().repeatEnd = true;
                    if (i < line.size() && line[i] == '|')
                        ++i;  // :|| is a repeat's end as well
                } else {
                    last = i < line.size() && (line[i] == '|' || line[i] == ']');
                    i += last ? 1 : 0;
                }
                if (i < line.size() && line[i] == ':' && line.compare(i, 2, ":|") != 0) {
                    voice->repeatNext = true;
                    ++i;
                }
                checkBar(score, *voice, reports, last);
                if (!notes.empty())
                    notes.back().barAfter = true;
                voice->ended = voice->ended || last;
                continue;
            }
            if (voice->ended) {
                error = where() + "notes after the final bar line";
                return false;
            }
            if (c == '(' || (c == '3' && line.compare(i + 1, 1, "(") == 0)) {
                (c == '(' ? voice->slurNext : voice->tripletNext) = true;
                voice->open.push_back(c);
                i += c == '(' ? 1 : 2;
                continue;
            }
            if (c == ')') {
                if (voice->open.empty() || notes.empty()) {
                    error = where() + "a ) with no ( before it";
                    return false;
                }
                (voice->open.back() == '(' ? notes.back().slurEnd : notes.back().tripletEnd) = true;
                voice->open.pop_back();
                ++i;
                continue;
            }
            if (c == '~' || c == '^' || line.compare(i, kTieSign.size(), kTieSign) == 0) {
                if (notes.empty() || (c != '^' && notes.back().pitch < 0)) {
                    error = where() + (c == '^' ? "a fermata" : "a tie") + " with no note before it";
                    return false;
                }
                (c == '^' ? notes.back().fermata : notes.back().tieAfter) = true;
                i += c == '~' || c == '^' ? 1 : kTieSign.size();
                continue;
            }
            if (c == '[') {
                int n = 0;
                if (i + 1 >= line.size() || line[i + 1] < '1' || line[i + 1] > '9') {
                    error = where() + "an ending is [1. [2. ...";
                    return false;
                }
                n = line[i + 1] - '0';
                i += line.compare(i + 2, 1, ".") == 0 ? 3 : 2;
                voice->endingNext = n;
                continue;
            }
            std::size_t end = i;
            const auto ends = [&line](std::size_t at) {
                switch (line[at]) {
                case ' ': case '\t': case '\r': case '|': case '(': case ')': case '~': case '^': case '[': return true;
                case ':': return line.compare(at, 2, ":|") == 0;
                case '\xE2': return line.compare(at, kTieSign.size(), kTieSign) == 0;
                default: return false;
                }
            };
            while (end < line.size() && !ends(end))
                ++end;
            const std::string_view token = std::string_view(line).substr(i, end - i);
            if (token == "弱起") {
                score.pickup = true;
            } else if (token == "-") {
                if (notes.empty() || notes.back().barAfter) {
                    error = where() + "a dash with no note before it in its bar";
                    return false;
                }
                notes.back().length += kQuarter;
                voice->inBar3 += kQuarter * (notes.back().triplet ? 2 : 3);
            } else {
                Note note;
                std::string why;
                if (!parseNote(token, score, number, note, why)) {
                    error = where() + quoted(token) + " is " + why;
                    return false;
                }
                if (voice->inBar3 == 0)
                    voice->barLine = number;
                note.slurStart = std::exchange(voice->slurNext, false);
                note.tripletStart = std::exchange(voice->tripletNext, false);
                note.triplet = std::find(voice->open.begin(), voice->open.end(), '3') != voice->open.end();
                note.repeatStart = std::exchange(voice->repeatNext, false);
                note.ending = std::exchange(voice->endingNext, 0);
                // Two different notes under a tie sign are slurred, as
                // hand-written jianpu uses the one arc for both.
                if (!notes.empty() && notes.back().tieAfter && notes.back().pitch != note.pitch) {
                    notes.back().tieAfter = false;
                    if (note.pitch >= 0) {
                        notes.back().slurStart = true;
                        note.slurEnd = true;
                    }
                }
                voice->inBar3 += ThirdsOf(note);
                notes.push_back(std::move(note));
            }
            i = end;
        }
        lineEnd = notes.size();
        if (lineEnd == lineFirst)
            lineVoice = nullptr;
    }
    for (VoiceState* v : {&lower, &upper}) {
        checkBar(score, *v, reports, true);
        if (!v->firstOff.empty())
            reports.add(v->firstOff);
        if (std::find(v->open.begin(), v->open.end(), '3') != v->open.end()) {
            error = "a triplet 3( with no ) after it";
            return false;
        }
        if (!v->notes->empty())
            v->notes->back().tieAfter = false;
    }
    if (reports.unnamed > 0)
        warnings.push_back(std::to_string(reports.unnamed) + " more bar" + (reports.unnamed > 1 ? "s differ" : " differs") +
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
    if (score.pickup)
        out.insert(out.size() - 1, "弱起\n");
    // Four bars a line, the upper voice above the lower one, as printed;
    // each with the syllables of its notes, when they have some.
    struct Line {
        std::string notes, lyrics;
    };
    const auto render = [&score](const std::vector<Note>& notes) {
        std::vector<Line> result;
        std::string line;
        std::vector<std::string> syllables;
        std::size_t sung = 0;  // syllables up to the last one given
        int bars = 0;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const Note& n = notes[i];
            const Spelling s = Spell(score, n);
            std::string token;
            if (n.repeatStart && (i == 0 || !notes[i - 1].barAfter))
                token += "|: ";
            if (n.ending != 0)
                token += "[" + std::to_string(n.ending) + ". ";
            token += n.tripletStart ? "3(" : "";
            token += n.slurStart ? "(" : "";
            if (s.accidental != 0)
                token += s.accidental > 0 ? "#" : "b";
            token += s.digit;
            token += std::string(std::size_t(std::max(0, s.octave)), '\'');
            token += std::string(std::size_t(std::max(0, -s.octave)), ',');
            token += std::string(std::size_t(s.underlines), '_');
            token += std::string(std::size_t(s.dots), '.');
            token += n.fermata ? "^" : "";
            for (int d = 0; d < s.dashes; ++d)
                token += " -";
            token += n.slurEnd ? ")" : "";
            token += n.tripletEnd ? ")" : "";
            token += n.tieAfter ? "~" : "";
            line += (line.empty() ? "" : " ") + token;
            if (IsStruck(notes, i)) {
                // A note left bare between sung ones keeps its place held.
                syllables.push_back(n.lyric.empty() ? std::string(kHeldSyllable) : n.lyric);
                if (!n.lyric.empty())
                    sung = syllables.size();
            }
            const bool last = i + 1 == notes.size();
            if (n.barAfter || last || n.repeatEnd) {
                const bool opens = !last && notes[i + 1].repeatStart;
                line += last ? (n.repeatEnd ? " :||" : " ||") : n.repeatEnd ? (opens ? " :|:" : " :|") : opens ? " |:" : " |";
                if (++bars % 4 == 0 || last) {
                    syllables.resize(sung);
                    std::string lyrics;
                    for (const std::string& syllable : syllables)
                        lyrics += (lyrics.empty() ? "" : " ") + syllable;
                    result.push_back({line, lyrics});
                    line.clear();
                    syllables.clear();
                    sung = 0;
                }
            }
        }
        return result;
    };
    const std::vector<Line> upper = render(score.upper), lower = render(score.lower);
    for (std::size_t i = 0; i < std::max(upper.size(), lower.size()); ++i) {
        for (const auto& [voice, prefix] : {std::pair{&upper, "上: "}, {&lower, "下: "}}) {
            if (i >= voice->size())
                continue;
            out += prefix + (*voice)[i].notes + "\n";
            if (!(*voice)[i].lyrics.empty())
                out += "词: " + (*voice)[i].lyrics + "\n";
        }
    }
    return out;
}

}  // namespace notation
