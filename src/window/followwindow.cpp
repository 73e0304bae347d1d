#include "window/followwindow.h"

#include "notation/scoredrawing.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// How many notes ahead a struck key is looked for: chords the score leaves
// out, and keys played along, are passed over.
constexpr int kLookAhead = 12;
constexpr int kRescoreMs = 150;
// A lesson's note is the score's note played this near it: the score is
// quantized to sixteenths, the song to its ticks.
constexpr double kNearestQuarters = 0.3;

}  // namespace

ScorePage::ScorePage(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

ScorePage::~ScorePage() = default;

void ScorePage::setScore(const notation::Score& score)
{
    score_ = score;
    marked_.reset();
    layOut();
}

void ScorePage::layOut()
{
    drawing_ = std::make_unique<notation::ScoreDrawing>(score_, std::max(300, width()), 0);
    setMinimumHeight(int(drawing_->height()));
    update();
}

QRectF ScorePage::mark(bool upper, int index)
{
    QRectF box;
    if (index < 0) {
        marked_.reset();
    } else {
        marked_ = std::pair{upper, index};
        box = drawing_ ? drawing_->boxOf(upper, index) : QRectF();
    }
    update();
    return box;
}

QSize ScorePage::sizeHint() const { return {640, drawing_ ? int(drawing_->height()) : 400}; }

void ScorePage::resizeEvent(QResizeEvent* event)
{
    // The systems fill the width: a new width lays them out again.
    if (event->size().width() != event->oldSize().width())
        layOut();
}

QColor ScorePage::nextColour() { return {255, 128, 0}; }
QColor ScorePage::loopColour() { return {120, 180, 255, 90}; }
QColor ScorePage::weakColour() { return {230, 60, 60, 70}; }

void ScorePage::setLessonMarks(const LessonMarks& marks)
{
    if (marks == lessonMarks_)
        return;
    lessonMarks_ = marks;
    update();
}

void ScorePage::mousePressEvent(QMouseEvent* event)
{
    const int bar = drawing_ && event->button() == Qt::LeftButton ? drawing_->barAt(0, event->position()) : -1;
    if (bar >= 0)
        emit barClicked(bar);
}

void ScorePage::paintEvent(QPaintEvent*)
{
    if (!drawing_)
        return;
    QPainter painter(this);
    // Under the ink: the loop's bars, the bars to practise, the next notes.
    const auto shade = [&](int bar, const QColor& colour) {
        for (const QRectF& box : drawing_->barBoxes(0, bar))
            painter.fillRect(box, colour);
    };
    const auto [a, b] = lessonMarks_.loop;
    for (int bar = a; bar >= 0 && bar <= std::max(a, b); ++bar)
        shade(bar, loopColour());
    for (const int bar : lessonMarks_.weak)
        shade(bar, weakColour());
    painter.setPen(QPen(nextColour(), 2.5));
    painter.setBrush(Qt::NoBrush);
    for (const auto& [upper, index] : lessonMarks_.next)
        painter.drawRoundedRect(drawing_->boxOf(upper, index).adjusted(-3, -3, 3, 3), 4, 4);
    notation::NoteBox highlight;
    if (marked_) {
        highlight.upper = marked_->first;
        highlight.index = marked_->second;
    }
    drawing_->paint(painter, 0, marked_ ? &highlight : nullptr);
}

FollowWindow::FollowWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("简谱"));
    resize(680, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* loopRow = new QHBoxLayout;
    loopRow->setContentsMargins(6, 4, 6, 0);
    loopLine_ = new QLabel(this);
    loopLine_->setObjectName(QStringLiteral("loopLine"));
    clearLoop_ = new QPushButton(QStringLiteral("清除循环"), this);
    clearLoop_->setObjectName(QStringLiteral("clearLoop"));
    connect(clearLoop_, &QPushButton::clicked, this, &FollowWindow::clearLoop);
    loopRow->addWidget(loopLine_, 1);
    loopRow->addWidget(clearLoop_);
    layout->addLayout(loopRow);
    empty_ = new QLabel(QStringLiteral("播放或录制一首乐曲，这里就显示它的简谱。"), this);
    empty_->setAlignment(Qt::AlignCenter);
    layout->addWidget(empty_);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    page_ = new ScorePage;
    scroll_->setWidget(page_);
    scroll_->hide();
    layout->addWidget(scroll_);
    connect(page_, &ScorePage::barClicked, this, &FollowWindow::chooseLoopBar);
    showLoop();
    rescore_.setSingleShot(true);
    rescore_.setInterval(kRescoreMs);
    connect(&rescore_, &QTimer::timeout, this, &FollowWindow::rescoreRecording);
}

FollowWindow::~FollowWindow() = default;

void FollowWindow::setScore(const notation::Score& score)
{
    score_ = score;
    next_ = {0, 0};
    order_ = {notation::PlayOrder(score_.lower), notation::PlayOrder(score_.upper)};
    page_->setScore(score_);
    // The marks were of the score before.
    page_->setLessonMarks({});
    placeNotes();
    showLoop();
    const bool any = !score_.lower.empty() || !score_.upper.empty();
    empty_->setVisible(!any);
    scroll_->setVisible(any);
    setWindowTitle(score_.title.empty() ? QStringLiteral("简谱")
                                        : QStringLiteral("简谱 - %1").arg(QString::fromStdString(score_.title)));
}

void FollowWindow::showSong(const QString& path)
{
    recording_ = false;
    rescore_.stop();
    notation::Score score;
    std::string error;
    std::vector<std::string> notices;
    if (!notation::ScoreOfFile(path.toStdString(), std::nullopt, score, error, notices))
        score = notation::Score{};
    // The same song played again keeps the loop chosen on it.
    const auto loop = page_->lessonMarks().loop;
    const bool same = path == shownPath_;
    setScore(score);
    shownPath_ = path;
    if (same && loop.first >= 0) {
        ScorePage::LessonMarks marks;
        marks.loop = loop;
        page_->setLessonMarks(marks);
        showLoop();
    }
}

void FollowWindow::placeNotes()
{
    // The score's own time, as the song made of it plays it: a fermata held
    // longer, from its first note.
    const double unitMs = 60000.0 / std::max(1, score_.tempo) / notation::kQuarter;
    double first = -1;
    for (const bool upper : {false, true}) {
        std::vector<Place>& places = places_[upper ? 1 : 0];
        places.clear();
        const std::vector<notation::Note>& voice = score_.voice(upper);
        std::vector<int> barOf(voice.size(), 0);
        for (std::size_t i = 1; i < voice.size(); ++i)
            barOf[i] = barOf[i - 1] + (voice[i - 1].barAfter ? 1 : 0);
        double at = 0;
        for (const int i : order_[upper ? 1 : 0]) {
            const notation::Note& n = voice[std::size_t(i)];
            const double length = notation::ThirdsOf(n) / 3.0 * (n.fermata ? notation::kFermataHold : 1.0) * unitMs;
            const bool struck = n.pitch >= 0 && notation::IsStruck(voice, std::size_t(i));
            places.push_back({at, at + length, i, barOf[std::size_t(i)], struck});
            if (struck && (first < 0 || at < first))
                first = at;
            at += length;
        }
    }
    for (std::vector<Place>& places : places_)
        for (Place& p : places) {
            p.ms -= std::max(0.0, first);
            p.endMs -= std::max(0.0, first);
        }
}

const FollowWindow::Place* FollowWindow::placeAt(bool upper, double ms, int pitch) const
{
    const std::vector<Place>& places = places_[upper ? 1 : 0];
    const std::vector<notation::Note>& voice = score_.voice(upper);
    const double near = 60000.0 / std::max(1, score_.tempo) * kNearestQuarters;
    // Of the struck notes near that time the one of that pitch, else (a
    // chord the score writes as its highest note) the nearest.
    const Place* best = nullptr;
    bool bestPitch = false;
    auto it = std::lower_bound(places.begin(), places.end(), ms - near,
                               [](const Place& p, double t) { return p.ms < t; });
    for (; it != places.end() && it->ms <= ms + near; ++it) {
        if (!it->struck)
            continue;
        const bool samePitch = voice[std::size_t(it->index)].pitch == pitch;
        if (!best || (samePitch && !bestPitch) ||
            (samePitch == bestPitch && std::abs(it->ms - ms) < std::abs(best->ms - ms))) {
            best = &*it;
            bestPitch = samePitch;
        }
    }
    return best;
}

void FollowWindow::markLessonNext(const std::vector<performance::LessonNote>& next)
{
    ScorePage::LessonMarks marks = page_->lessonMarks();
    marks.next.clear();
    for (const performance::LessonNote& n : next)
        if (const Place* p = placeAt(n.upper, double(n.ms), n.pitch))
            marks.next.insert({n.upper, p->index});
    if (marks == page_->lessonMarks())
        return;
    page_->setLessonMarks(marks);
    if (!marks.next.empty()) {
        const QRectF box = page_->drawing()->boxOf(marks.next.begin()->first, marks.next.begin()->second);
        if (!box.isEmpty())
            scroll_->ensureVisible(int(box.center().x()), int(box.center().y()), 40, int(box.height() * 2));
    }
}

void FollowWindow::markWeakBars(const std::vector<std::int64_t>& weakMs)
{
    ScorePage::LessonMarks marks = page_->lessonMarks();
    marks.weak.clear();
    for (const std::int64_t ms : weakMs)
        for (const std::vector<Place>& places : places_) {
            // The bar of the note sounding then.
            auto it = std::upper_bound(places.begin(), places.end(), double(ms),
                                       [](double t, const Place& p) { return t < p.ms; });
            if (it != places.begin() && std::prev(it)->endMs > double(ms)) {
                marks.weak.insert(std::prev(it)->bar);
                break;
            }
        }
    page_->setLessonMarks(marks);
}

void FollowWindow::chooseLoopBar(int bar)
{
    ScorePage::LessonMarks marks = page_->lessonMarks();
    auto& [a, b] = marks.loop;
    if (a < 0 || b >= 0) {
        a = bar;
        b = -1;
    } else {
        b = std::max(a, bar);
        a = std::min(a, bar);
    }
    page_->setLessonMarks(marks);
    showLoop();
}

void FollowWindow::clearLoop()
{
    ScorePage::LessonMarks marks = page_->lessonMarks();
    marks.loop = {-1, -1};
    page_->setLessonMarks(marks);
    showLoop();
}

void FollowWindow::showLoop()
{
    const auto [a, b] = page_->lessonMarks().loop;
    // Bars are shown counted from 1, as the score numbers them.
    const int shift = score_.pickup ? 0 : 1;
    if (a < 0)
        loopLine_->setText(QStringLiteral("练习循环：点第一个小节，再点最后一个小节"));
    else if (b < 0)
        loopLine_->setText(QStringLiteral("循环从第 %1 小节起，再点最后一个小节").arg(a + shift));
    else
        loopLine_->setText(QStringLiteral("练习循环第 %1–%2 小节").arg(a + shift).arg(b + shift));
    clearLoop_->setEnabled(a >= 0);
}

std::optional<std::pair<std::int64_t, std::int64_t>> FollowWindow::loopSpan() const
{
    auto [a, b] = page_->lessonMarks().loop;
    if (a < 0)
        return std::nullopt;
    b = b < 0 ? a : b;
    // The first time through: from the first note of bar A on while the
    // bars stay within the loop.
    std::optional<double> from, to;
    for (const std::vector<Place>& places : places_) {
        auto it = std::find_if(places.begin(), places.end(), [a](const Place& p) { return p.bar == a; });
        if (it == places.end())
            continue;
        from = std::min(from.value_or(it->ms), it->ms);
        for (; it != places.end() && it->bar >= a && it->bar <= b; ++it)
            to = std::max(to.value_or(it->endMs), it->endMs);
    }
    if (!from || !to)
        return std::nullopt;
    return std::pair{std::llround(*from), std::llround(*to)};
}

void FollowWindow::markNote(bool upper, int index)
{
    const QRectF box = page_->mark(upper, index);
    if (!box.isEmpty())
        scroll_->ensureVisible(int(box.center().x()), int(box.center().y()), 40, int(box.height() * 2));
}

void FollowWindow::struck(bool upper, int note)
{
    if (recording_)
        return;
    const std::vector<notation::Note>& voice = score_.voice(upper);
    const std::vector<int>& order = order_[upper ? 1 : 0];
    int& from = next_[upper ? 1 : 0];
    // A tied-on note is never struck: the key is its tie's first note.
    for (int k = from; k < int(order.size()) && k < from + kLookAhead; ++k) {
        const std::size_t i = std::size_t(order[std::size_t(k)]);
        if (voice[i].pitch == note && notation::IsStruck(voice, i)) {
            from = k + 1;
            markNote(upper, int(i));
            return;
        }
    }
}

void FollowWindow::recorded(bool upper, int note, const Heading& heading)
{
    heading_ = heading;
    if (!recording_) {
        recording_ = true;
        taken_.clear();
        clock_.start();
    }
    taken_.push_back({double(clock_.elapsed()), -1, upper, note});
    // Written down a moment later, not between this key and the next.
    if (!rescore_.isActive())
        rescore_.start();
}

void FollowWindow::rescoreRecording()
{
    int left = 0;
    notation::Score score =
        notation::ScoreOf(taken_, notation::EstimateQuarterMs(taken_), 4, 4, heading_.tonic, left);
    score.title = heading_.title.toStdString();
    setScore(score);
    shownPath_.clear();
    // The last note taken is the one marked.
    const bool upper = !taken_.empty() && taken_.back().upper;
    const std::vector<notation::Note>& voice = score_.voice(upper);
    for (int i = int(voice.size()) - 1; i >= 0; --i)
        if (voice[std::size_t(i)].pitch >= 0) {
            markNote(upper, i);
            break;
        }
}
