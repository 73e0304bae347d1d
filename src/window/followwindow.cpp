#include "window/followwindow.h"

#include "notation/scoredrawing.h"

#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// How many notes ahead a struck key is looked for: chords the score leaves
// out, and keys played along, are passed over.
constexpr int kLookAhead = 12;
constexpr int kRescoreMs = 150;

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

void ScorePage::paintEvent(QPaintEvent*)
{
    if (!drawing_)
        return;
    QPainter painter(this);
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
    empty_ = new QLabel(QStringLiteral("播放或录制一首乐曲，这里就显示它的简谱。"), this);
    empty_->setAlignment(Qt::AlignCenter);
    layout->addWidget(empty_);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    page_ = new ScorePage;
    scroll_->setWidget(page_);
    scroll_->hide();
    layout->addWidget(scroll_);
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
    setScore(score);
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
    // The last note taken is the one marked.
    const bool upper = !taken_.empty() && taken_.back().upper;
    const std::vector<notation::Note>& voice = score_.voice(upper);
    for (int i = int(voice.size()) - 1; i >= 0; --i)
        if (voice[std::size_t(i)].pitch >= 0) {
            markNote(upper, i);
            break;
        }
}
