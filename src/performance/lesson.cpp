#include "performance/lesson.h"

#include "performance/tempo.h"

#include <algorithm>
#include <cstdlib>

namespace performance {
namespace {

// Notes of the player's part struck this close together are one chord: a
// song strikes a key group within one 10 ms tick, a MIDI file's chord may
// be spread a little.
constexpr std::int64_t kChordMs = 30;
// An accompaniment note the song gives no length sounds until that
// keyboard's next note, or this long after the last.
constexpr std::int64_t kLastNoteMs = 500;
constexpr std::size_t kWeakestBars = 3;

}  // namespace

Lesson::Lesson(std::vector<LessonNote> notes, LessonBars bars, LessonPart part, LessonMode mode, const Reach& reachable)
    : notes_(std::move(notes)), bars_(bars), part_(part), mode_(mode)
{
    bars_.barMs = std::max<std::int64_t>(bars_.barMs, 1);
    for (LessonNote& n : notes_)
        n.bar = barAt(n.ms);
    std::stable_sort(notes_.begin(), notes_.end(), [](const LessonNote& a, const LessonNote& b) { return a.ms < b.ms; });
    for (std::size_t i = 0; i < notes_.size(); ++i) {
        const bool players = isPlayers(notes_[i]);
        if (!players || (reachable && !reachable(notes_[i]))) {
            // A note of the player's that no key reaches sounds with the
            // accompaniment; the rest of its chord is still the player's.
            unreachable_ += players ? 1 : 0;
            accompaniment_.push_back(i);
            continue;
        }
        if (chords_.empty() || notes_[i].ms - chords_.back().ms > kChordMs)
            chords_.push_back({notes_[i].ms, {}, {}, false});
        chords_.back().notes.push_back(i);
        chords_.back().struck.push_back(false);
    }
    scored_.assign(notes_.size(), 0);
}

bool Lesson::isPlayers(const LessonNote& n) const
{
    return part_ == LessonPart::Both || n.upper == (part_ == LessonPart::Upper);
}

void Lesson::setTempo(int percent, std::int64_t nowMs)
{
    if (started_) {
        songAt_ = songMs(nowMs);
        wallAt_ = nowMs;
    }
    tempo_ = ClampTempoPercent(percent);
}

std::int64_t Lesson::realMs(std::int64_t songGapMs) const { return ToRealTime(songGapMs, tempo_); }

int Lesson::barAt(std::int64_t songMs) const
{
    return songMs < bars_.firstMs ? 0 : int((songMs - bars_.firstMs) / bars_.barMs);
}

void Lesson::setLoop(int firstBar, int lastBar)
{
    if (firstBar > lastBar)
        std::swap(firstBar, lastBar);
    firstBar = std::max(firstBar, 0);
    lastBar = std::max(lastBar, 0);
    // A song strikes the keys of a bar's first beat a tick or two apart
    // (the keyboard switches between), some before the bar line the player's
    // note sets: the loop keeps them with their bar, each pass.
    loopFromMs_ = std::max<std::int64_t>(0, bars_.firstMs + firstBar * bars_.barMs - kChordMs);
    loopToMs_ = bars_.firstMs + (lastBar + 1) * bars_.barMs - kChordMs;
    // Bars the song does not reach hold nothing to repeat.
    looping_ = !notes_.empty() && notes_.back().ms >= loopFromMs_;
}

std::size_t Lesson::firstLoopChord() const
{
    return std::size_t(std::lower_bound(chords_.begin(), chords_.end(), loopFromMs_,
                                        [](const Chord& c, std::int64_t ms) { return c.ms < ms; }) -
                       chords_.begin());
}

void Lesson::start(std::int64_t nowMs)
{
    started_ = true;
    finished_ = false;
    counts_ = {};
    faults_.clear();
    nextPass_.clear();
    restartAt(looping_ ? loopFromMs_ : 0, nowMs);
}

void Lesson::restartAt(std::int64_t songMs, std::int64_t nowMs)
{
    songAt_ = songMs;
    wallAt_ = nowMs;
    struckUpToMs_ = -1;
    chord_ = std::size_t(std::lower_bound(chords_.begin(), chords_.end(), songMs,
                                          [](const Chord& c, std::int64_t ms) { return c.ms < ms; }) -
                         chords_.begin());
    for (std::size_t c = chord_; c < chords_.size(); ++c) {
        std::fill(chords_[c].struck.begin(), chords_[c].struck.end(), false);
        chords_[c].faulty = false;
        for (std::size_t i : chords_[c].notes)
            scored_[i] = 0;
    }
    for (std::size_t i : nextPass_)
        scored_[i] = 1;
    nextPass_.clear();
    sound_ = std::size_t(std::lower_bound(accompaniment_.begin(), accompaniment_.end(), songMs,
                                          [this](std::size_t i, std::int64_t ms) { return notes_[i].ms < ms; }) -
                         accompaniment_.begin());
}

bool Lesson::struckForNextPass(std::size_t note) const
{
    return std::find(nextPass_.begin(), nextPass_.end(), note) != nextPass_.end();
}

std::int64_t Lesson::rawSongMs(std::int64_t nowMs) const { return songAt_ + ToSongTime(nowMs - wallAt_, tempo_); }

std::int64_t Lesson::songMs(std::int64_t nowMs) const
{
    const std::int64_t raw = rawSongMs(nowMs);
    if (mode_ == LessonMode::Wait && chord_ < chords_.size())
        return std::min(raw, chords_[chord_].ms);
    return raw;
}

bool Lesson::waiting(std::int64_t nowMs) const
{
    return started_ && !finished_ && mode_ == LessonMode::Wait && chord_ < chords_.size() &&
           rawSongMs(nowMs) >= chords_[chord_].ms;
}

void Lesson::fault(int bar, int count)
{
    if (bar < 0)
        return;
    if (std::size_t(bar) >= faults_.size())
        faults_.resize(std::size_t(bar) + 1, 0);
    faults_[std::size_t(bar)] += count;
}

// A wrong key belongs to the note awaited, or in time to the bar it is struck in.
int Lesson::barOfFault(std::int64_t nowMs) const
{
    if (mode_ == LessonMode::Wait && chord_ < chords_.size())
        return notes_[chords_[chord_].notes.front()].bar;
    return barAt(songMs(nowMs));
}

std::vector<LessonSound> Lesson::advance(std::int64_t nowMs)
{
    std::vector<LessonSound> due;
    if (!started_ || finished_)
        return due;
    for (;;) {
        const std::int64_t s = songMs(nowMs);
        if (mode_ == LessonMode::InTime) {
            // A chord is done when all its notes are scored, or when it is
            // too long ago to be struck: what is left of it is missed.
            while (chord_ < chords_.size()) {
                Chord& c = chords_[chord_];
                const bool gone = realMs(s - c.ms) > kNearMs;
                const bool all = std::all_of(c.notes.begin(), c.notes.end(), [&](std::size_t i) { return scored_[i]; });
                if (!gone && !all)
                    break;
                for (std::size_t i : c.notes)
                    if (!scored_[i]) {
                        scored_[i] = 1;
                        ++counts_.notes;
                        ++counts_.missed;
                        fault(notes_[i].bar);
                    }
                ++chord_;
            }
        }
        // The accompaniment struck with the player's chord waits for its
        // strike too, and sounds with it: a song may strike it a tick before
        // or after, when the keyboard switches in between.
        const std::int64_t reach = std::max(s, struckUpToMs_);
        const std::int64_t limit = looping_ ? std::min(reach, loopToMs_ - 1) : reach;
        const bool awaited = mode_ == LessonMode::Wait && chord_ < chords_.size();
        while (sound_ < accompaniment_.size()) {
            const LessonNote& n = notes_[accompaniment_[sound_]];
            if (n.ms > limit || (awaited && n.ms >= chords_[chord_].ms - kChordMs))
                break;
            std::int64_t length = n.lengthMs;
            if (length < 0) {
                length = kLastNoteMs;
                for (std::size_t j = sound_ + 1; j < accompaniment_.size(); ++j) {
                    const LessonNote& m = notes_[accompaniment_[j]];
                    if (m.upper == n.upper && m.ms > n.ms) {
                        length = m.ms - n.ms;
                        break;
                    }
                }
            }
            due.push_back({n.upper, n.pitch, realMs(length)});
            ++sound_;
        }
        if (looping_ && s >= loopToMs_) {
            restartAt(loopFromMs_, nowMs);
            continue;  // the loop's first notes may be due at once
        }
        break;
    }
    if (!looping_ && chord_ == chords_.size() && sound_ == accompaniment_.size())
        finished_ = true;
    return due;
}

Lesson::Strike Lesson::strike(bool upper, int pitch, std::int64_t nowMs)
{
    if (!started_ || finished_ || (part_ != LessonPart::Both && upper != (part_ == LessonPart::Upper)))
        return Strike::Ignored;
    if (mode_ == LessonMode::Wait) {
        // Struck while the song plays out a loop's last bar: the loop's first
        // note, marked next, and the loop goes round now.
        if (looping_ && (chord_ >= chords_.size() || chords_[chord_].ms >= loopToMs_))
            restartAt(loopFromMs_, nowMs);
        if (chord_ >= chords_.size())
            return Strike::Ignored;
        Chord& c = chords_[chord_];
        for (std::size_t k = 0; k < c.notes.size(); ++k) {
            const LessonNote& n = notes_[c.notes[k]];
            if (n.upper != upper || n.pitch != pitch)
                continue;
            if (c.struck[k])
                return Strike::Ignored;  // struck again while the rest of the chord is awaited
            c.struck[k] = true;
            if (std::all_of(c.struck.begin(), c.struck.end(), [](bool b) { return b; })) {
                counts_.notes += int(c.notes.size());
                if (!c.faulty)
                    counts_.right += int(c.notes.size());
                // The song goes on from the chord, not from where the
                // clock would have been had it not stopped.
                if (rawSongMs(nowMs) >= c.ms) {
                    songAt_ = c.ms;
                    wallAt_ = nowMs;
                }
                struckUpToMs_ = c.ms + kChordMs;
                ++chord_;
            }
            return Strike::Right;
        }
        ++counts_.wrong;
        c.faulty = true;
        fault(barOfFault(nowMs));
        return Strike::Wrong;
    }
    // In time: the nearest unscored note of that key within reach. A loop
    // plays none of the song past its end; near the end its first notes of
    // the next pass are within reach instead, as far ahead as the rest of
    // this pass and the start of the next.
    const std::int64_t s = songMs(nowMs);
    std::size_t best = notes_.size();
    std::int64_t bestDev = 0;
    bool bestNextPass = false;
    const auto inLoop = [this](std::size_t ci) { return !looping_ || chords_[ci].ms < loopToMs_; };
    const auto consider = [&](std::size_t ci, std::int64_t dev, bool nextPass) {  // dev positive: late
        for (std::size_t i : chords_[ci].notes) {
            const bool open = nextPass ? !struckForNextPass(i) : !scored_[i];
            if (open && notes_[i].upper == upper && notes_[i].pitch == pitch &&
                (best == notes_.size() || std::abs(dev) < std::abs(bestDev))) {
                best = i;
                bestDev = dev;
                bestNextPass = nextPass;
            }
        }
    };
    for (std::size_t ci = chord_; ci < chords_.size() && inLoop(ci) && realMs(chords_[ci].ms - s) <= kNearMs; ++ci)
        if (const std::int64_t dev = realMs(s - chords_[ci].ms); std::abs(dev) <= kNearMs)
            consider(ci, dev, false);
    if (looping_)
        for (std::size_t ci = firstLoopChord(); ci < chords_.size() && inLoop(ci); ++ci) {
            const std::int64_t ahead = realMs(loopToMs_ - s + chords_[ci].ms - loopFromMs_);
            if (ahead > kNearMs)
                break;
            consider(ci, -ahead, true);
        }
    if (best == notes_.size()) {
        ++counts_.wrong;
        fault(barOfFault(nowMs));
        return Strike::Wrong;
    }
    if (bestNextPass)
        nextPass_.push_back(best);
    else
        scored_[best] = 1;
    ++counts_.notes;
    if (std::abs(bestDev) <= kOnTimeMs) {
        ++counts_.right;
        return Strike::OnTime;
    }
    fault(notes_[best].bar);
    if (bestDev < 0) {
        ++counts_.early;
        return Strike::Early;
    }
    ++counts_.late;
    return Strike::Late;
}

std::vector<LessonNote> Lesson::upcoming(int which) const
{
    std::vector<LessonNote> out;
    // Past a loop's last chord the next are its first again, all to strike.
    bool wrapped = false;
    for (std::size_t ci = chord_; ci < chords_.size() || (looping_ && !wrapped); ++ci) {
        if (looping_ && !wrapped && (ci >= chords_.size() || chords_[ci].ms >= loopToMs_)) {
            wrapped = true;
            ci = firstLoopChord();
        }
        if (ci >= chords_.size() || (looping_ && chords_[ci].ms >= loopToMs_))
            break;
        const Chord& c = chords_[ci];
        std::vector<LessonNote> left;
        for (std::size_t k = 0; k < c.notes.size(); ++k)
            if (wrapped ? !struckForNextPass(c.notes[k]) : !c.struck[k] && !scored_[c.notes[k]])
                left.push_back(notes_[c.notes[k]]);
        if (left.empty())
            continue;
        if (which-- == 0)
            return left;
    }
    return out;
}

LessonResult Lesson::result() const
{
    LessonResult r = counts_;
    std::vector<int> bars;
    for (std::size_t b = 0; b < faults_.size(); ++b)
        if (faults_[b] > 0)
            bars.push_back(int(b));
    std::stable_sort(bars.begin(), bars.end(), [this](int a, int b) { return faults_[std::size_t(a)] > faults_[std::size_t(b)]; });
    if (bars.size() > kWeakestBars)
        bars.resize(kWeakestBars);
    r.weakestBars = bars;
    return r;
}

}  // namespace performance
