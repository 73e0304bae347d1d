#include "notation/scoredrawing.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

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

// The note whose syllable is sung while `index` sounds: itself, or the
// note before a held syllable or a tie.
int sungAt(const std::vector<Note>& voice, int index)
{
    while (index > 0 && index < int(voice.size()) &&
           (voice[std::size_t(index)].lyric == kHeldSyllable ||
            (voice[std::size_t(index)].pitch >= 0 && !IsStruck(voice, std::size_t(index)))))
        --index;
    return index;
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
    std::vector<std::vector<Bar>> marks;  // by voice and bar: its signs
    std::size_t barCount = 0;
    for (const bool upper : voices) {
        const std::vector<Note>& voice = score_.voice(upper);
        bars.push_back(barsOf(voice));
        barCount = std::max(barCount, bars.back().size());
        std::vector<Bar>& m = marks.emplace_back(bars.back().size());
        int open = 0;  // the ending whose bracket runs on
        for (std::size_t b = 0; b < m.size(); ++b) {
            const std::vector<int>& bar = bars.back()[b];
            m[b].repeatStart = voice[std::size_t(bar.front())].repeatStart;
            m[b].repeatEnd = voice[std::size_t(bar.back())].repeatEnd;
            for (const int i : bar)
                m[b].ending = std::max(m[b].ending, voice[std::size_t(i)].ending);
            open = m[b].ending != 0 ? m[b].ending : open;
            m[b].underEnding = open != 0;
            // A bracket closes at its repeat sign; the last ending's, which
            // has none, over its one bar.
            bool later = false;
            for (std::size_t c = b + 1; c < m.size() && !voice[std::size_t(bars.back()[c].front())].repeatStart; ++c)
                for (const int i : bars.back()[c])
                    later = later || voice[std::size_t(i)].ending > open;
            if (m[b].repeatEnd || !later)
                open = 0;
        }
    }
    const double room = cell_ * 0.5;  // for a repeat sign's dots
    std::vector<double> barWidth(barCount, 0);
    for (std::size_t v = 0; v < voices.size(); ++v)
        for (std::size_t b = 0; b < bars[v].size(); ++b)
            barWidth[b] = std::max(barWidth[b], cellsOf(score_, score_.voice(voices[v]), bars[v][b]) * cell_ + cell_ * 0.6 +
                                                    (marks[v][b].repeatStart ? room : 0) + (marks[v][b].repeatEnd ? room : 0));
    std::vector<bool> lyrics;
    for (const bool upper : voices)
        lyrics.push_back(std::any_of(score_.voice(upper).begin(), score_.voice(upper).end(),
                                     [](const Note& n) { return !n.lyric.empty(); }));

    headerHeight_ = margin_ + 70;
    const double left = margin_ + (labelled ? kLabelWidth : 0);
    const double usable = width_ - left - margin_;
    const double lyricRoom = digitSize_ * 1.3;
    double y = headerHeight_;
    int page = 0;
    double systemHeight = systemGap_;
    for (std::size_t v = 0; v < voices.size(); ++v)
        systemHeight += rowGap_ + (lyrics[v] ? lyricRoom : 0);
    // Bars counted from the first full one.
    const int firstNumber = score_.pickup ? 0 : 1;
    for (std::size_t first = 0; first < barCount;) {
        std::size_t end = first;
        double used = 0;
        while (end < barCount && (end == first || used + barWidth[end] <= usable))
            used += barWidth[end++];
        // A line ends where a phrase of four bars does, when one ends in it.
        if (end < barCount) {
            std::size_t phrase = end;
            while (phrase > first + 1 && (int(phrase) + firstNumber - 1) % 4 != 0)
                --phrase;
            if ((int(phrase) + firstNumber - 1) % 4 == 0 && phrase > first)
                for (; end > phrase; --end)
                    used -= barWidth[end - 1];
        }
        // Bars spread over the line, but a short last line stays short.
        const double stretch = end < barCount || used > usable * 0.7 ? std::max(1.0, usable / used) : 1.0;
        // A system that does not fit goes over to the next page, unless it
        // is the page's first.
        if (pageHeight_ > 0 && y + systemHeight > pageHeight_ - margin_ && y > (page == 0 ? headerHeight_ : margin_)) {
            ++page;
            y = margin_;
        }
        double rowTop = y;
        for (std::size_t v = 0; v < voices.size(); ++v) {
            const std::vector<Note>& voice = score_.voice(voices[v]);
            Row row;
            row.upper = voices[v];
            row.page = page;
            row.y = rowTop + rowGap_ * 0.5;
            row.lyrics = lyrics[v];
            row.left = left;
            row.right = left + used * stretch;
            row.systemTop = v == 0;
            row.systemBottom = v + 1 == voices.size();
            row.firstBar = int(first) + firstNumber;
            rowTop += rowGap_ + (lyrics[v] ? lyricRoom : 0);
            double x = left;
            for (std::size_t b = first; b < end; ++b) {
                const double w = barWidth[b] * stretch;
                if (b < bars[v].size()) {
                    Bar mark = marks[v][b];
                    const double before = mark.repeatStart ? room * stretch : 0;
                    const double after = mark.repeatEnd ? room * stretch : 0;
                    const int cells = cellsOf(score_, voice, bars[v][b]);
                    const double step = (w - cell_ * 0.6 * stretch - before - after) / std::max(1, cells);
                    int c = 0;
                    for (const int i : bars[v][b]) {
                        const Spelling s = Spell(score_, voice[std::size_t(i)]);
                        const double at = x + before;
                        row.tokens.push_back({Token::Digit, i, at + (c++ + 0.5) * step});
                        for (int d = 0; d < s.dots; ++d)
                            row.tokens.push_back({Token::Dot, i, at + (c++ + 0.5) * step - step * 0.3});
                        for (int d = 0; d < s.dashes; ++d)
                            row.tokens.push_back({Token::Dash, i, at + (c++ + 0.5) * step});
                    }
                    mark.start = x;
                    mark.end = x + w;
                    mark.index = int(b);
                    row.bars.push_back(mark);
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

void ScoreDrawing::paintArcs(QPainter& painter, const Row& row) const
{
    const std::vector<Note>& voice = score_.voice(row.upper);
    std::vector<double> xs;  // the digits' x, by note from the row's first
    int rowFirst = -1;
    for (const Token& t : row.tokens)
        if (t.kind == Token::Digit) {
            rowFirst = rowFirst < 0 ? t.note : rowFirst;
            xs.push_back(t.x);
        }
    if (rowFirst < 0)
        return;
    const int rowLast = rowFirst + int(xs.size()) - 1;
    const double ds = digitSize_;
    const auto lift = [&](int i) {
        return i >= rowFirst && i <= rowLast ? std::max(0, Spell(score_, voice[std::size_t(i)]).octave) * ds * 0.26 : 0;
    };
    // An arc from note i to note j; an end beyond the row at the row's edge.
    const auto arc = [&](int i, int j, bool tie, bool triplet) {
        if (j < rowFirst || i > rowLast)
            return;
        const double x1 = i >= rowFirst ? xs[std::size_t(i - rowFirst)] + (tie ? ds * 0.15 : 0) : row.left;
        const double x2 = j <= rowLast ? xs[std::size_t(j - rowFirst)] - (tie ? ds * 0.15 : 0) : row.right;
        const double y = row.y - ds * 0.85 - std::max(lift(i), lift(j)) - (triplet ? ds * 0.1 : 0);
        const double h = std::min(ds * 0.55, 2 + (x2 - x1) * 0.15);
        QPainterPath path(QPointF(x1, y));
        path.quadTo(QPointF((x1 + x2) / 2, y - 2 * h), QPointF(x2, y));
        painter.setPen(QPen(QColor(0, 0, 0), ds * 0.06));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        if (triplet) {
            QFont small = textFont(ds * 0.4);
            small.setPixelSize(int(ds * 0.55));
            small.setItalic(true);
            painter.setFont(small);
            painter.setPen(QColor(0, 0, 0));
            painter.drawText(QRectF((x1 + x2) / 2 - ds * 0.4, y - h - ds * 0.75, ds * 0.8, ds * 0.6), Qt::AlignCenter,
                             QStringLiteral("3"));
        }
    };
    std::vector<int> slurs, triplets;  // open at their first note
    for (int i = 0; i <= rowLast; ++i) {
        const Note& n = voice[std::size_t(i)];
        if (n.slurStart)
            slurs.push_back(i);
        if (n.tripletStart)
            triplets.push_back(i);
        if (n.tieAfter && i + 1 < int(voice.size()))
            arc(i, i + 1, true, false);
        if (n.slurEnd && !slurs.empty()) {
            arc(slurs.back(), i, false, false);
            slurs.pop_back();
        }
        if (n.tripletEnd && !triplets.empty()) {
            arc(triplets.back(), i, false, true);
            triplets.pop_back();
        }
    }
    for (const int i : slurs)  // going on into the next row
        arc(i, rowLast + 1, false, false);
    painter.setBrush(QColor(0, 0, 0));
}

void ScoreDrawing::paintBars(QPainter& painter, const Row& row, const Row* below) const
{
    const QColor ink(0, 0, 0);
    const double ds = digitSize_;
    const double top = row.y - ds * 0.75, bottom = row.y + ds * 0.75;
    const auto line = [&](double x, double width, bool through) {
        painter.setPen(QPen(ink, width));
        painter.drawLine(QPointF(x, top), QPointF(x, through && below ? below->y + ds * 0.75 : bottom));
    };
    const auto dots = [&](double x) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(x, row.y - ds * 0.25), ds * 0.09, ds * 0.09);
        painter.drawEllipse(QPointF(x, row.y + ds * 0.25), ds * 0.09, ds * 0.09);
    };
    for (std::size_t b = 0; b < row.bars.size(); ++b) {
        const Bar& bar = row.bars[b];
        const double x = bar.end - cell_ * 0.3;
        // Bar lines run through both parts of a system where both have the bar.
        bool through = false;
        if (below)
            for (const Bar& other : below->bars)
                through = through || std::abs(other.end - bar.end) < 0.5;
        const bool final = row.last && b + 1 == row.bars.size();
        if (final || bar.repeatEnd) {
            line(x - 4, ds * 0.06, through);
            line(x, ds * 0.2, through);
            if (bar.repeatEnd)
                dots(x - 8);
        } else {
            line(x, ds * 0.06, through);
        }
        if (bar.repeatStart) {
            const double xs = b == 0 ? bar.start + 1 : bar.start - cell_ * 0.3;
            line(xs, ds * 0.2, false);
            line(xs + 4, ds * 0.06, false);
            dots(xs + 8);
        }
        if (bar.underEnding) {
            const double y = row.y - ds * 1.9;
            const double x1 = bar.start + 2, x2 = x - 3;
            painter.setPen(QPen(ink, ds * 0.05));
            painter.drawLine(QPointF(x1, y), QPointF(x2, y));
            if (bar.ending != 0) {
                painter.drawLine(QPointF(x1, y), QPointF(x1, y + ds * 0.5));
                QFont small = textFont(ds * 0.4);
                small.setPixelSize(int(ds * 0.6));
                painter.setFont(small);
                painter.drawText(QRectF(x1 + 2, y, ds * 1.5, ds * 0.7), Qt::AlignLeft | Qt::AlignVCenter,
                                 QStringLiteral("%1.").arg(bar.ending));
            }
            if (bar.repeatEnd)
                painter.drawLine(QPointF(x2, y), QPointF(x2, y + ds * 0.5));
        }
    }
}

QRectF ScoreDrawing::boxOf(bool upper, int index) const
{
    for (const NoteBox& b : boxes_)
        if (b.upper == upper && b.index == index)
            return b.box;
    return {};
}

QRectF ScoreDrawing::boxOfBar(const Row& row, const Bar& bar) const
{
    return QRectF(QPointF(bar.start, row.y - digitSize_ * 1.4), QPointF(bar.end - cell_ * 0.3, row.y + digitSize_ * 1.4));
}

int ScoreDrawing::barAt(int page, QPointF point) const
{
    for (const Row& row : rows_)
        for (const Bar& bar : row.bars)
            if (row.page == page && boxOfBar(row, bar).contains(point))
                return bar.index;
    return -1;
}

std::vector<QRectF> ScoreDrawing::barBoxes(int page, int bar) const
{
    std::vector<QRectF> boxes;
    for (const Row& row : rows_)
        for (const Bar& b : row.bars)
            if (row.page == page && b.index == bar)
                boxes.push_back(boxOfBar(row, b));
    return boxes;
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
    QFont lyricFont = textFont(ds * 0.55);
    lyricFont.setPixelSize(int(ds * 0.8));
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
            painter.drawText(QRectF(margin_ - 6, row.y - ds, kLabelWidth - 8, 2 * ds), Qt::AlignCenter,
                             row.upper ? QStringLiteral("上") : QStringLiteral("下"));
        }
        const Row* below = nullptr;
        if (row.systemTop && !row.systemBottom)
            for (const Row& r : rows_)
                if (&r > &row && r.systemBottom) {
                    below = &r;
                    break;
                }
        if (below) {
            // The brace, and the line that opens the system.
            const double top = row.y - ds * 0.75, bottom = below->y + ds * 0.75, mid = (top + bottom) / 2;
            const double bx = row.left - ds * 0.35;
            QPainterPath brace(QPointF(bx, top));
            brace.cubicTo(bx - ds * 0.5, top, bx, mid, bx - ds * 0.45, mid);
            brace.cubicTo(bx, mid, bx - ds * 0.5, bottom, bx, bottom);
            painter.setPen(QPen(ink, ds * 0.1));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(brace);
            painter.setPen(QPen(ink, ds * 0.06));
            painter.drawLine(QPointF(row.left, top), QPointF(row.left, bottom));
            painter.setPen(ink);
        }
        if (row.systemTop && row.firstBar > 1) {
            painter.setFont(small);
            painter.drawText(QRectF(row.left, row.y - ds * 2.1, ds * 2, ds * 0.8), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::number(row.firstBar));
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
            if (n.fermata) {
                QPainterPath arc(QPointF(t.x - ds * 0.35, row.y - ds * 1.05 - s.octave * ds * 0.26));
                arc.arcTo(QRectF(t.x - ds * 0.35, row.y - ds * 1.4 - s.octave * ds * 0.26, ds * 0.7, ds * 0.7), 180, -180);
                painter.setPen(QPen(ink, ds * 0.06));
                painter.setBrush(Qt::NoBrush);
                painter.drawPath(arc);
                painter.setPen(ink);
                painter.setBrush(ink);
                painter.drawEllipse(QPointF(t.x, row.y - ds * 1.12 - s.octave * ds * 0.26), r, r);
            }
            if (!n.lyric.empty()) {
                const QRectF under(t.x - ds * 1.2, row.y + ds * 1.45, ds * 2.4, ds * 1.1);
                const bool sung = highlight && highlight->upper == row.upper && sungAt(voice, highlight->index) == t.note;
                if (sung) {
                    painter.setPen(Qt::NoPen);
                    painter.setBrush(QColor(255, 220, 60));
                    painter.drawRoundedRect(under.adjusted(ds * 0.5, 0, -ds * 0.5, 0), 3, 3);
                    painter.setPen(ink);
                }
                if (n.lyric == kHeldSyllable) {
                    painter.setPen(QPen(ink, ds * 0.05));
                    painter.drawLine(QPointF(t.x - ds * 0.4, under.bottom() - ds * 0.25),
                                     QPointF(t.x + ds * 0.4, under.bottom() - ds * 0.25));
                    painter.setPen(ink);
                } else {
                    painter.setFont(lyricFont);
                    painter.drawText(under, Qt::AlignCenter, QString::fromStdString(n.lyric));
                }
            }
        }
        paintArcs(painter, row);
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
        paintBars(painter, row, below);
        painter.setPen(ink);
    }
    painter.restore();
}

}  // namespace notation
