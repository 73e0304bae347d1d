#include "window/lessonrun.h"

#include "instrument/instrument.h"
#include "instrument/keyboardview.h"
#include "notation/songscore.h"
#include "performance/tempo.h"

#include <QActionGroup>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QStringList>

#include <algorithm>
#include <array>
#include <vector>

using performance::Lesson;
using performance::LessonMode;
using performance::LessonPart;

namespace {

// Often enough that a due note is at most a few milliseconds late, and a
// strike moves the song on at once without waiting for it.
constexpr int kLessonTickMs = 5;
constexpr int kTicksPerSecond = 100;  // a keyboard's countdown runs in 10 ms ticks

QString PartName(LessonPart part)
{
    switch (part) {
    case LessonPart::Upper:
        return QStringLiteral("上");
    case LessonPart::Lower:
        return QStringLiteral("下");
    case LessonPart::Both:
        break;
    }
    return QStringLiteral("双手");
}

}  // namespace

QString LessonResultText(const performance::LessonResult& r, int best)
{
    QString text = QStringLiteral("练习结束：对 %1%（%2/%3），早 %4，晚 %5，错 %6，漏 %7")
                       .arg(r.rightPercent())
                       .arg(r.right)
                       .arg(r.notes)
                       .arg(r.early)
                       .arg(r.late)
                       .arg(r.wrong)
                       .arg(r.missed);
    if (!r.weakestBars.empty()) {
        QStringList bars;
        for (int b : r.weakestBars)
            bars << QString::number(b + 1);  // bars are counted from 1 where people read them
        text += QStringLiteral("；多练第 %1 小节").arg(bars.join(QStringLiteral("、")));
    }
    if (best >= 0)
        text += QStringLiteral("；最好 %1%").arg(best);
    return text;
}

LessonRun::LessonRun(MIDi& lower, MIDi& upper, QObject* parent) : QObject(parent), lower_(lower), upper_(upper)
{
    timer_.setInterval(kLessonTickMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LessonRun::tick);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    clock_ = [elapsed] { return elapsed->elapsed(); };
}

LessonRun::~LessonRun() = default;

MIDi& LessonRun::keyboardOf(bool upper) const { return upper ? upper_ : lower_; }

void LessonRun::say(const QString& text)
{
    if (status)
        status(text);
}

bool LessonRun::start(const QString& songPath, LessonPart part)
{
    if (lesson_)
        stop();
    std::vector<performance::LessonNote> notes;
    performance::LessonBars bars;
    std::string error;
    if (!notation::LessonNotesOf(songPath.toStdString(), notes, bars, error)) {
        say(QStringLiteral("不能练习：%1").arg(QString::fromStdString(error)));
        return false;
    }
    if (songStopping)
        songStopping();
    // A note off the player's keyboard, as its Pitch and Tone set it now, is
    // one no key, click or controller can strike.
    const auto reachable = [this](const performance::LessonNote& n) {
        return keyboardOf(n.upper).keyOfNote(n.pitch).has_value();
    };
    lesson_.emplace(std::move(notes), bars, part, mode, reachable);
    lesson_->setTempo(tempo_);
    song_ = songPath;
    bars_ = bars;
    heading_ = QStringLiteral("练习 %1 · %2 · %3% · %4")
                   .arg(PartName(part), mode == LessonMode::Wait ? QStringLiteral("等待") : QStringLiteral("跟拍"))
                   .arg(lesson_->tempo())
                   .arg(QFileInfo(songPath).completeBaseName());
    if (lesson_->unreachable() > 0)
        heading_ += QStringLiteral("（%1 个音在键盘外，跳过）").arg(lesson_->unreachable());
    // The loop's span to the song's bars, to the nearest bar line.
    const auto span = loopSpan ? loopSpan(songPath) : std::nullopt;
    looping_ = span.has_value();
    if (span) {
        const int first = int((span->first + bars.barMs / 2) / bars.barMs);
        const int last = std::max(first, int((span->second + bars.barMs / 2) / bars.barMs) - 1);
        lesson_->setLoop(first, last);
        heading_ += QStringLiteral(" · 循环");
    }
    if (weakBars)
        weakBars({});
    say(heading_);
    const std::int64_t lead = countIn ? countIn(songPath, lesson_->tempo()) : 0;
    lesson_->start(clock_() + lead);
    tick();
    if (lesson_ && !lesson_->finished())
        timer_.start();
    return true;
}

void LessonRun::setTempo(int percent)
{
    tempo_ = performance::ClampTempoPercent(percent);
    if (running())
        lesson_->setTempo(tempo_, clock_());
}

void LessonRun::stop()
{
    if (!lesson_)
        return;
    lesson_->stop();
    finish();
}

void LessonRun::finish()
{
    timer_.stop();
    const performance::LessonResult result = lesson_->result();
    // Only the whole song played to its end is a result to keep.
    const bool whole = !looping_ && result.notes > 0 && lesson_->upcoming(0).empty();
    const int best = keepBest ? keepBest(song_, whole ? result.rightPercent() : -1) : -1;
    say(LessonResultText(result, best));
    if (weakBars) {
        std::vector<std::int64_t> middles;
        for (const int bar : result.weakestBars)
            middles.push_back(bar * bars_.barMs + bars_.barMs / 2);
        weakBars(middles);
    }
    lesson_.reset();
    markNextKeys();
    if (ended)
        ended();
}

void LessonRun::struck(MIDi* keyboard, int key)
{
    if (!running())
        return;
    const bool upper = keyboard == &upper_;
    const int pitch = key + keyboard->Pitch() + keyboard->Tone();
    // Scored at the time it was struck, once the key's own note is out.
    QMetaObject::invokeMethod(
        this,
        [this, upper, pitch, at = clock_()] {
            if (!running() || lesson_->strike(upper, pitch, at) == Lesson::Strike::Ignored)
                return;
            // The accompaniment waiting for this key goes on with it, not a tick later.
            tick();
        },
        Qt::QueuedConnection);
}

void LessonRun::tick()
{
    if (!lesson_)
        return;
    for (const performance::LessonSound& s : lesson_->advance(clock_())) {
        MIDi& keyboard = keyboardOf(s.upper);
        const int key = s.pitch - keyboard.Pitch() - keyboard.Tone();
        if (key < 0 || key >= keys::kKeyCount)
            continue;  // off this keyboard as it is set now
        // Struck as a song strikes its keys, so the window takes them for no player's.
        keyboard.Play(key, int(std::max<std::int64_t>(1, s.lengthMs * kTicksPerSecond / 1000)));
    }
    if (lesson_->finished()) {
        finish();
        return;
    }
    markNextKeys();
}

void LessonRun::markNextKeys()
{
    std::array<std::vector<int>, 2> next, after;  // by keyboard: lower, upper
    if (nextNotes) {
        std::vector<performance::LessonNote> notes = lesson_ ? lesson_->upcoming(0) : std::vector<performance::LessonNote>{};
        for (performance::LessonNote& n : notes)
            n.ms -= bars_.firstMs;
        nextNotes(notes);
    }
    if (lesson_) {
        for (int which = 0; which < 2; ++which)
            for (const performance::LessonNote& n : lesson_->upcoming(which)) {
                MIDi& keyboard = keyboardOf(n.upper);
                (which == 0 ? next : after)[n.upper ? 1 : 0].push_back(n.pitch - keyboard.Pitch() - keyboard.Tone());
            }
    }
    for (int k = 0; k < 2; ++k)
        if (KeyboardView* view = keyboardOf(k == 1).keyboardView())
            view->setLessonKeys(next[std::size_t(k)], after[std::size_t(k)]);
}

void LessonRun::addMenu(QMenu* menu, std::function<QString()> song)
{
    QMenu* sub = menu->addMenu(QStringLiteral("练习"));
    for (LessonPart part : {LessonPart::Upper, LessonPart::Lower, LessonPart::Both})
        connect(sub->addAction(PartName(part)), &QAction::triggered, this, [this, part, song] { start(song(), part); });
    QAction* end = sub->addAction(QStringLiteral("结束练习"));
    end->setEnabled(running());
    connect(end, &QAction::triggered, this, &LessonRun::stop);
    sub->addSeparator();
    auto* modes = new QActionGroup(sub);
    for (LessonMode m : {LessonMode::Wait, LessonMode::InTime}) {
        QAction* action = sub->addAction(m == LessonMode::Wait ? QStringLiteral("等待") : QStringLiteral("跟拍"));
        action->setCheckable(true);
        action->setChecked(mode == m);
        modes->addAction(action);
        connect(action, &QAction::triggered, this, [this, m] { mode = m; });
    }
}
