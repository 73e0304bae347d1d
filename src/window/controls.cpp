#include "window/controls.h"

#include "instrument/twips.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

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
    move(x(), twips::ToPixels(twips));
}

void Knob::mousePressEvent(QMouseEvent* event)
{
    emit mouseDown(index_, event->position().y() * twips::kPerPixel);
}

void Knob::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMove(index_, event->position().y() * twips::kPerPixel);
}

void Knob::mouseReleaseEvent(QMouseEvent* event)
{
    emit mouseUp(index_, event->position().y() * twips::kPerPixel);
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

DropList::DropList(QWidget* parent) : QComboBox(parent) {}

void DropList::wheelEvent(QWheelEvent* event) { event->ignore(); }

void DropList::hidePopup()
{
    QComboBox::hidePopup();
    emit closed();
}

ClockFace::ClockFace(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoMousePropagation);
    setMouseTracking(true);
}

void ClockFace::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void ClockFace::setBackdrop(const QPixmap& backdrop)
{
    backdrop_ = backdrop;
    update();
}

void ClockFace::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        glyphs_.clear();
        update();
    }
    QWidget::changeEvent(event);
}

const ClockFace::Glyph& ClockFace::glyph(QChar c)
{
    auto it = glyphs_.find(c);
    if (it != glyphs_.end())
        return *it;
    const QFontMetricsF metrics(font());
    Glyph g;
    g.advance = metrics.horizontalAdvance(c);
    const qreal ratio = devicePixelRatioF();
    const QSize size(int(std::ceil(g.advance + 2)), height());
    g.picture = QPixmap(size * ratio);
    g.picture.setDevicePixelRatio(ratio);
    g.picture.fill(Qt::transparent);
    QPainter painter(&g.picture);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    // Vertically centred, as a label draws its line.
    const qreal baseline = (height() - metrics.height()) / 2 + metrics.ascent();
    painter.drawText(QPointF(0, baseline), QString(c));
    return *glyphs_.insert(c, g);
}

QList<qreal> ClockFace::edges(const QString& text)
{
    QList<qreal> x;
    x.reserve(text.size() + 1);
    qreal at = 0;
    for (QChar c : text) {
        x.append(at);
        at += glyph(c).advance;
    }
    x.append(at);
    return x;
}

void ClockFace::setText(const QString& text)
{
    if (text == text_)
        return;
    const QList<qreal> before = edges(text_), after = edges(text);
    // Only the characters that changed are drawn again, as long as those
    // before them kept their places.
    QRect dirty;
    const qsizetype common = std::min(text_.size(), text.size());
    qsizetype first = 0;
    while (first < common && text_[first] == text[first])
        ++first;
    for (qsizetype i = first; i < std::max(text_.size(), text.size()); ++i) {
        const qreal left = std::min(i < before.size() ? before[i] : before.last(), i < after.size() ? after[i] : after.last());
        const qreal right = std::max(i + 1 < before.size() ? before[i + 1] : before.last(),
                                     i + 1 < after.size() ? after[i + 1] : after.last());
        dirty |= QRect(int(std::floor(left)), 0, int(std::ceil(right - left)) + 2, height());
    }
    text_ = text;
    update(dirty);
}

void ClockFace::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (backdrop_.isNull())
        painter.fillRect(event->rect(), parentWidget() ? parentWidget()->palette().color(QPalette::Window) : Qt::black);
    else
        painter.drawPixmap(event->rect(), backdrop_, event->rect());
    qreal at = 0;
    for (QChar c : text_) {
        const Glyph& g = glyph(c);
        if (at + g.advance + 2 >= event->rect().left() && at <= event->rect().right())
            painter.drawPixmap(QPointF(at, 0), g.picture);
        at += g.advance;
    }
}
