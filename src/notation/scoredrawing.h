#pragma once
// A score drawn as jianpu is printed: title, author, key, meter and tempo;
// systems of bars, the upper keyboard's line above the lower one's; digits
// with octave dots above and below, accidentals, underlines beamed within a
// beat, augmentation dots, dashes and bar lines; ties and slurs as arcs, a
// small 3 over a triplet, fermatas, repeat signs and ending brackets, the
// lyrics under their notes, bar numbers at the start of each line and a
// brace joining the parts of a system. The same drawing serves the page
// (PDF, SVG) and the screen.
#include "notation/jianpu.h"

#include <QFont>
#include <QRectF>

#include <vector>

class QPainter;

namespace notation {

// Where a note of a voice was put: its page and the box around its digit.
struct NoteBox {
    bool upper = false;
    int index = 0;  // in the voice
    int page = 0;
    QRectF box;
};

class ScoreDrawing {
public:
    // `width` the page's width; `pageHeight` 0 for one endless page (the
    // screen), else the systems are spread over pages of that height.
    ScoreDrawing(const Score& score, double width, double pageHeight);

    int pages() const { return pages_; }
    double height() const { return height_; }  // of the endless page
    const std::vector<NoteBox>& notes() const { return boxes_; }
    // The box of a voice's note; empty when it has none.
    QRectF boxOf(bool upper, int index) const;
    // Bars are numbered from 0 as the voices count them, a pickup too. The
    // bar under a point of the page (-1 off the bars), and the boxes of a
    // bar, one a part.
    int barAt(int page, QPointF point) const;
    std::vector<QRectF> barBoxes(int page, int bar) const;

    // Draws one page; the note `highlight` (when it is one) on a yellow mark,
    // and the syllable sung on it.
    void paint(QPainter& painter, int page, const NoteBox* highlight = nullptr) const;

    static QFont textFont(double pointSize);

private:
    struct Token {
        enum Kind { Digit, Dot, Dash } kind = Digit;
        int note = -1;  // index in the voice, for digits
        double x = 0;
    };
    struct Bar {
        double start = 0, end = 0;  // x where it begins and of its closing line
        int index = 0;              // from the piece's first bar
        bool repeatStart = false, repeatEnd = false;
        int ending = 0;             // the number of the ending that begins in it
        bool underEnding = false;   // under an ending's bracket
    };
    struct Row {
        bool upper = false;
        int page = 0;
        double y = 0;  // the digits' middle
        double left = 0, right = 0;
        bool lyrics = false;
        bool systemTop = false, systemBottom = false;
        int firstBar = 0;  // the number of its first bar; 0 a pickup
        std::vector<Token> tokens;
        std::vector<Bar> bars;
        bool last = false;  // the piece ends in this row
    };
    void layOut();
    void paintArcs(QPainter& painter, const Row& row) const;
    void paintBars(QPainter& painter, const Row& row, const Row* below) const;
    QRectF boxOfBar(const Row& row, const Bar& bar) const;

    const Score& score_;
    double width_, pageHeight_;
    double digitSize_ = 15, cell_ = 18, margin_ = 40, rowGap_ = 58, systemGap_ = 22;
    std::vector<Row> rows_;
    std::vector<NoteBox> boxes_;
    int pages_ = 1;
    double height_ = 0;
    double headerHeight_ = 0;
};

}  // namespace notation
