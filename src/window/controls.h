#pragma once
// Small widgets the window is built from: picture buttons with painted faces,
// slider knobs, invisible mouse zones and captions. They report mouse events
// in twips and leave every decision to the window.
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
