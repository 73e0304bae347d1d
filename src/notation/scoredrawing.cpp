#include "notation/scoredrawing.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace notation {
namespace {

constexpr double kLabelWidth = 22;
constexpr const char* kQuarterSign = "\xE2\x99\xA9";

// A voice cut into bars: the indices of each bar's notes.
std::vector<std::vector<int>> barsOf(const std::vector<Note>& voice)
{
    std::vector<std::vector<int>> bars(1);
    for (int i = 0; i < int(voice.size()); ++i) {
        bars.back().push_back(i);
        if (voice[std::size_t(i)].barAfter && i + 1 < int(voice.size()))
            bars.emplace_back();
    }
    if (bars.back().empty())
        bars.pop_back();
    return bars;
}

int cellsOf(const Score& score, const std::vector<Note>& voice, const std::vector<int>& bar)
{
    int cells = 0;
    for (const int i : bar) {
        const Spelling s = Spell(score, voice[std::size_t(i)]);
        cells += 1 + s.dots + s.dashes;
    }
    return cells;
}

}  // namespace

QFont ScoreDrawing::textFont(double pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC")});
    font.setPointSizeF(pointSize);
    return font;
}

ScoreDrawing::ScoreDrawing(const Score& score, double width, double pageHeight)
    : score_(score), width_(width), pageHeight_(pageHeight)
{
    layOut();
}

void ScoreDrawing::layOut()
{
    std::vector<bool> voices;
    if (!score_.upper.empty())
        voices.push_back(true);
    if (!score_.lower.empty())
        voices.push_back(false);
    const bool labelled = voices.size() > 1;
    std::vector<std::vector<std::vector<int>>> bars;
    std::size_t barCount = 0;
    for (const bool upper : voices) {
        bars.push_back(barsOf(score_.voice(upper)));
        barCount = std::max(barCount, bars.back().size());
    }
    std::vector<double> barWidth(barCount, 0);
    for (std::size_t v = 0; v < voices.size(); ++v)
        for (std::size_t b = 0; b < bars[v].size(); ++b)
            barWidth[b] = std::max(barWidth[b], cellsOf(score_, score_.voice(voices[v]), bars[v][b]) * cell_ + cell_ * 0.6);

    headerHeight_ = margin_ + 70;
    const double left = margin_ + (labelled ? kLabelWidth : 0);
    const double usable = width_ - left - margin_;
    double y = headerHeight_;
    int page = 0;
    const double systemHeight = double(voices.size()) * rowGap_ + systemGap_;
    for (std::size_t first = 0; first < barCount;) {
        std::size_t end = first;
        double used = 0;
        while (end < barCount && (end == first || used + barWidth[end] <= usable))
            used += barWidth[end++];
        // Bars spread over the line, but a short last line stays short.
        const double stretch = end < barCount || used > usable * 0.7 ? std::max(1.0, usable / used) : 1.0;
        // A system that does not fit goes over to the next page, unless it
        // is the page's first.
        if (pageHeight_ > 0 && y + systemHeight > pageHeight_ - margin_ && y > (page == 0 ? headerHeight_ : margin_)) {
            ++page;
            y = margin_;
        }
        for (std::size_t v = 0; v < voices.size(); ++v) {
            const std::vector<Note>& voice = score_.voice(voices[v]);
            Row row;
            row.upper = voices[v];
            row.page = page;
            row.y = y + rowGap_ * (double(v) + 0.5);
            double x = left;
            for (std::size_t b = first; b < end; ++b) {
                const double w = barWidth[b] * stretch;
                if (b < bars[v].size()) {
                    const int cells = cellsOf(score_, voice, bars[v][b]);
                    const double step = (w - cell_ * 0.6 * stretch) / std::max(1, cells);
                    int c = 0;
                    for (const int i : bars[v][b]) {
                        const Spelling s = Spell(score_, voice[std::size_t(i)]);
                        row.tokens.push_back({Token::Digit, i, x + (c++ + 0.5) * step});
                        for (int d = 0; d < s.dots; ++d)
                            row.tokens.push_back({Token::Dot, i, x + (c++ + 0.5) * step - step * 0.3});
                        for (int d = 0; d < s.dashes; ++d)
                            row.tokens.push_back({Token::Dash, i, x + (c++ + 0.5) * step});
                    }
                    row.bars.push_back(x + w);
                    if (b + 1 == bars[v].size())
                        row.last = true;
                }
                x += w;
            }
            for (const Token& t : row.tokens)
                if (t.kind == Token::Digit)
                    boxes_.push_back({row.upper, t.note, page,
                                      QRectF(t.x - digitSize_ * 0.5, row.y - digitSize_ * 0.75, digitSize_, digitSize_ * 1.5)});
            rows_.push_back(std::move(row));
        }
        y += systemHeight;
        first = end;
    }
    pages_ = page + 1;
    height_ = y + margin_;
}

QRectF ScoreDrawing::boxOf(bool upper, int index) const
{
    for (const NoteBox& b : boxes_)
        if (b.upper == upper && b.index == index)
            return b.box;
    return {};
}

void ScoreDrawing::paint(QPainter& painter, int page, const NoteBox* highlight) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0, 0, 0);
    painter.setPen(ink);
    const double ds = digitSize_;
    if (page == 0) {
        painter.setFont(textFont(18));
        const QString title = QString::fromStdString(score_.title);
        painter.drawText(QRectF(margin_, margin_, width_ - 2 * margin_, 30), Qt::AlignHCenter | Qt::AlignVCenter, title);
        painter.setFont(textFont(10));
        painter.drawText(QRectF(margin_, margin_ + 32, width_ - 2 * margin_, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(score_.author));
        const QString line = QStringLiteral("1=%1  %2/%3  %4=%5")
                                 .arg(QString::fromStdString(TonicName(score_.tonic)))
                                 .arg(score_.beats)
                                 .arg(score_.beatUnit)
                                 .arg(QString::fromUtf8(kQuarterSign))
                                 .arg(score_.tempo);
        painter.drawText(QRectF(margin_, margin_ + 32, width_ - 2 * margin_, 20), Qt::AlignLeft | Qt::AlignVCenter, line);
    }
    const bool labelled = !score_.upper.empty() && !score_.lower.empty();
    QFont digitFont = textFont(ds * 0.75);  // points, where a point is a unit of the page
    digitFont.setPixelSize(int(ds));
    QFont small = textFont(ds * 0.45);
    small.setPixelSize(int(ds * 0.6));
    for (const Row& row : rows_) {
        if (row.page != page)
            continue;
        const std::vector<Note>& voice = score_.voice(row.upper);
        // When each note starts: underlines join within a beat.
        std::vector<int> starts(voice.size() + 1, 0);
        for (std::size_t i = 0; i < voice.size(); ++i)
            starts[i + 1] = starts[i] + voice[i].length;
        if (labelled) {
            painter.setFont(small);
            painter.drawText(QRectF(margin_, row.y - ds, kLabelWidth - 4, 2 * ds), Qt::AlignCenter,
                             row.upper ? QStringLiteral("上") : QStringLiteral("下"));
        }
        int deepest = 0;
        for (const Token& t : row.tokens)
            if (t.kind == Token::Digit)
                deepest = std::max(deepest, Spell(score_, voice[std::size_t(t.note)]).underlines);
        for (const Token& t : row.tokens) {
            const Note& n = voice[std::size_t(t.note)];
            const Spelling s = Spell(score_, n);
            if (t.kind == Token::Dot) {
                painter.setBrush(ink);
                painter.drawEllipse(QPointF(t.x, row.y + ds * 0.1), ds * 0.09, ds * 0.09);
                continue;
            }
            if (t.kind == Token::Dash) {
                painter.setPen(QPen(ink, ds * 0.08));
                painter.drawLine(QPointF(t.x - ds * 0.35, row.y), QPointF(t.x + ds * 0.35, row.y));
                painter.setPen(ink);
                continue;
            }
            const QRectF box(t.x - ds * 0.5, row.y - ds * 0.75, ds, ds * 1.5);
            if (highlight && highlight->upper == row.upper && highlight->index == t.note) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(QColor(255, 220, 60));
                painter.drawRoundedRect(box.adjusted(-2, -ds * 0.4, 2, ds * 0.4 + deepest * ds * 0.18), 3, 3);
                painter.setPen(ink);
            }
            painter.setFont(digitFont);
            painter.drawText(box, Qt::AlignCenter, QString(QChar(s.digit)));
            if (s.accidental != 0) {
                painter.setFont(small);
                painter.drawText(QRectF(t.x - ds * 0.95, row.y - ds * 0.8, ds * 0.5, ds * 0.7), Qt::AlignCenter,
                                 s.accidental > 0 ? QStringLiteral("#") : QStringLiteral("\u266D"));
            }
            painter.setBrush(ink);
            const double r = ds * 0.085;
            for (int o = 0; o < s.octave; ++o)
                painter.drawEllipse(QPointF(t.x, row.y - ds * 0.72 - o * ds * 0.26), r, r);
            for (int o = 0; o < -s.octave; ++o)
                painter.drawEllipse(QPointF(t.x, row.y + ds * 0.72 + s.underlines * ds * 0.18 + o * ds * 0.26), r, r);
        }
        // Underlines: a line at each level runs under the notes of one beat
        // that have it, from the first to the last.
        painter.setPen(QPen(ink, ds * 0.07));
        for (int level = 1; level <= deepest; ++level) {
            const Token* runFirst = nullptr;
            const Token* runLast = nullptr;
            int runBeat = -1;
            const auto flush = [&] {
                if (runFirst) {
                    const double y = row.y + ds * 0.58 + (level - 1) * ds * 0.18;
                    painter.drawLine(QPointF(runFirst->x - ds * 0.38, y), QPointF(runLast->x + ds * 0.38, y));
                }
                runFirst = runLast = nullptr;
            };
            for (const Token& t : row.tokens) {
                if (t.kind == Token::Dash) {
                    flush();
                    continue;
                }
                const Spelling s = Spell(score_, voice[std::size_t(t.note)]);
                const int beat = starts[std::size_t(t.note)] / kQuarter;
                if (s.underlines < level || beat != runBeat || (runLast && runLast->note != t.note &&
                                                                voice[std::size_t(runLast->note)].barAfter)) {
                    flush();
                    if (s.underlines < level)
                        continue;
                }
                if (!runFirst)
                    runFirst = &t;
                runLast = &t;
                runBeat = beat;
            }
            flush();
        }
        // Bar lines; the piece ends on a thin and a thick one.
        for (std::size_t b = 0; b < row.bars.size(); ++b) {
            const double x = row.bars[b] - cell_ * 0.3;
            const bool final = row.last && b + 1 == row.bars.size();
            painter.setPen(QPen(ink, ds * 0.06));
            painter.drawLine(QPointF(final ? x - 4 : x, row.y - ds * 0.75), QPointF(final ? x - 4 : x, row.y + ds * 0.75));
            if (final) {
                painter.setPen(QPen(ink, ds * 0.2));
                painter.drawLine(QPointF(x, row.y - ds * 0.75), QPointF(x, row.y + ds * 0.75));
            }
        }
        painter.setPen(ink);
    }
    painter.restore();
}

}  // namespace notation
