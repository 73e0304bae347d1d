#include "window/controls.h"

#include "window/twips.h"

#include <QMouseEvent>
#include <QPainter>

PictureButton::PictureButton(int index, QWidget* parent) : QWidget(parent), index_(index)
{
    setAttribute(Qt::WA_NoMousePropagation);
    setFocusPolicy(Qt::ClickFocus);  // the panel moves the focus here after every edit
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(p);
}

void PictureButton::paintFace(const QPixmap& face)
{
    face_ = face;
    update();
}

void PictureButton::paintEvent(QPaintEvent*)
{
    if (face_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), face_);
}

void PictureButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit mouseDown(index_);
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    // The normal face comes back even when the pointer has left the button;
    // the click only when the release is over it.
    emit mouseUp(index_);
    if (isEnabled() && rect().contains(event->position().toPoint()))
        emit clicked(index_);
}

Knob::Knob(int index, QWidget* parent) : QLabel(parent), index_(index)
{
    setAttribute(Qt::WA_NoMousePropagation);
    setMouseTracking(true);  // hovering counts too
}

void Knob::setTop(double twips)
{
    top_ = twips;
    move(x(), TwipsToPixels(twips));
}

void Knob::mousePressEvent(QMouseEvent* event)
{
    emit mouseDown(index_, event->position().y() * kTwipsPerPixel);
}

void Knob::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMove(index_, event->position().y() * kTwipsPerPixel);
}

void Knob::mouseReleaseEvent(QMouseEvent* event)
{
    emit mouseUp(index_, event->position().y() * kTwipsPerPixel);
}

MouseZone::MouseZone(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoMousePropagation);
    setMouseTracking(true);
}

void MouseZone::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    emit moved();
}

void MouseZone::mousePressEvent(QMouseEvent* event) { event->accept(); }

Caption::Caption(QWidget* parent) : QLabel(parent)
{
    setAttribute(Qt::WA_NoMousePropagation);
    setMouseTracking(true);
}
