#pragma once
// The 65 on-screen keys of one instrument, drawn as coloured buttons with the
// notation strip over the white keys. The view paints and reports; whoever
// owns it decides what a key's colour is and what a press means.
#include "songs/keys.h"

#include <QColor>
#include <QCursor>
#include <QPalette>
#include <QRect>
#include <QWidget>

#include <array>
#include <vector>
#include <variant>

class UserControl1;

class KeyboardView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kKeyCount = keys::kKeyCount;
    // States of a drag-over report.
    static constexpr int kDragEnter = 0;
    static constexpr int kDragLeave = 1;
    static constexpr int kDragOver = 2;

    explicit KeyboardView(QWidget* parent = nullptr);

    // Key k's place in twips from the keyboard's top-left corner.
    static QRect keyRectTwips(int k);
    // The same in logical pixels, as drawn and hit-tested.
    static QRect keyRect(int k);

    // A fixed colour, or a role of the palette resolved whenever the key is drawn.
    void setKeyColor(int k, const QColor& colour);
    void setKeyColor(int k, QPalette::ColorRole role);
    QColor keyColor(int k) const;
    // The colour alone, its repaint asked for later with repaintKey: asking
    // costs a struck key's note time, and the paint waits for the event
    // loop either way.
    void setKeyColorQuietly(int k, const QColor& colour);
    void repaintKey(int k);

    // The key under a point of the view (black keys lie over white ones), or -1.
    int keyAt(const QPoint& pos) const;

    // Until armed, a press on a key does nothing.
    void setMousePlayEnabled(bool on) { mousePlay_ = on; }

    // Movable digits (首调): each key that is a degree of the key whose
    // tonic is `tonic` (0 C .. 11 B) carries its digit, black keys too, with
    // octave dots counted from the tonic above middle C; key 0 sounds
    // `lowestNote`. A tonic of -1 leaves the digits to the fixed strip.
    void setMovableDigits(int tonic, int lowestNote);
    // The computer key's name drawn small on each key face (empty: none),
    // and whether the names are shown at all.
    void setKeyLabels(const std::array<QString, keys::kKeyCount>& labels);
    void setLabelsShown(bool on);
    bool labelsShown() const { return labelsShown_; }
    const QString& keyLabel(int k) const { return labels_[std::size_t(k)]; }
    // Where key k's name is drawn (the part of the face no other key covers).
    QRect labelRect(int k) const;
    // Whether the keyboard shows digits at all (the fixed strip or these).
    void setStripShown(bool on);
    int movableTonic() const { return tonic_; }
    // The digit and octave drawn on key k; digit 0 for none.
    struct Digit {
        int digit = 0;
        int octave = 0;
    };
    Digit movableDigit(int k) const;
    bool mousePlayEnabled() const { return mousePlay_; }

    UserControl1* strip() const { return strip_; }

    // A lesson's keys, marked over whatever colour the keys have: the next
    // to strike, and faintly the ones after. Empty lists clear the marks.
    static QColor lessonColour() { return {255, 128, 0}; }
    void setLessonKeys(const std::vector<int>& next, const std::vector<int>& after);
    const std::vector<int>& lessonKeys() const { return lessonNext_; }

signals:
    // Drag notifications of the keys while the left button is held: a key
    // entered (kDragEnter), moved over (kDragOver) or left (kDragLeave)...
    void dragOver(int key, int state);
    // ...and the key under the pointer when the button is released.
    void dragDropped(int key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void paintDigits(QPainter& painter);
    void paintLabels(QPainter& painter);
    std::array<QString, kKeyCount> labels_;
    bool labelsShown_ = true;
    int tonic_ = -1;
    bool stripShown_ = true;
    int lowestNote_ = 36;

    using Colour = std::variant<QColor, QPalette::ColorRole>;
    void cancelDrag();
    void abortDrag();
    bool pointerInside(const QPoint& pos) const;

    std::array<Colour, kKeyCount> colours_;
    UserControl1* strip_ = nullptr;
    bool mousePlay_ = false;
    bool dragging_ = false;
    int overKey_ = -1;
    std::vector<int> lessonNext_, lessonAfter_;
    void paintLessonKeys(QPainter& painter);
};

// The pointer shown while the mouse plays across the keys (the arrow when the
// picture is missing).
QCursor DragCursor();
