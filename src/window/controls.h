#pragma once
// Small widgets the window is built from: picture buttons with painted faces,
// slider knobs, invisible mouse zones and captions. They report mouse events
// in twips and leave every decision to the window.
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

// A picture box whose face is painted by the window (the command buttons).
class PictureButton : public QWidget {
    Q_OBJECT
public:
    PictureButton(int index, QWidget* parent);
    int index() const { return index_; }
    // Draws the picture at (0, 0), stretched over the whole button.
    void paintFace(const QPixmap& face);
    const QPixmap& face() const { return face_; }

signals:
    void mouseDown(int index);
    void mouseUp(int index);
    void clicked(int index);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int index_;
    QPixmap face_;
};

// A vertical slider knob: a picture whose top edge the window moves in twips.
class Knob : public QLabel {
    Q_OBJECT
public:
    Knob(int index, QWidget* parent);
    double top() const { return top_; }
    void setTop(double twips);

signals:
    // Y in twips inside the knob.
    void mouseDown(int index, double y);
    void mouseMove(int index, double y);
    void mouseUp(int index, double y);

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int index_;
    double top_ = 0;
};

// An invisible area that reports every mouse move over it (the mute zones).
class MouseZone : public QWidget {
    Q_OBJECT
public:
    explicit MouseZone(QWidget* parent);
signals:
    void moved();

protected:
    void mouseMoveEvent(QMouseEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
};

// A transparent caption that keeps its mouse events to itself, so that moves
// over it neither drag the window nor count towards the drag.
class Caption : public QLabel {
    Q_OBJECT
public:
    explicit Caption(QWidget* parent);
};

// A drop-down list that changes only by a choice in its open list: the mouse
// wheel passing over the closed list leaves it alone, as a list that has not
// been clicked has nothing to scroll.
class DropList : public QComboBox {
    Q_OBJECT
public:
    explicit DropList(QWidget* parent);
    void hidePopup() override;

signals:
    // The open list closed, chosen from or not: the keys go back to the
    // keyboards rather than stay with a closed list that arrows would change.
    void closed();

protected:
    void wheelEvent(QWheelEvent*) override;
};

// The clock: a caption that changes every second. Repainting a label means
// painting the skin beneath it and shaping its text again; the clock instead
// keeps the skin behind it and each character it has drawn, so a tick costs
// two small copies where a digit changed.
class ClockFace : public QWidget {
    Q_OBJECT
public:
    explicit ClockFace(QWidget* parent);
    QString text() const { return text_; }
    void setText(const QString& text);
    // The window's picture under the clock; without one the clock paints the
    // window's colour.
    void setBackdrop(const QPixmap& backdrop);

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;

private:
    struct Glyph {
        QPixmap picture;
        qreal advance = 0;
    };
    const Glyph& glyph(QChar c);
    // Left edge of each character and, last, the end of the text.
    QList<qreal> edges(const QString& text);

    QString text_;
    QPixmap backdrop_;
    QHash<QChar, Glyph> glyphs_;
};
