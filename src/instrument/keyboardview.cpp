#include "instrument/keyboardview.h"

#include "songs/scale.h"

#include "instrument/picture.h"
#include "instrument/twips.h"
#include "instrument/usercontrol1.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kWhiteKeyHeightTwips = 1100;
constexpr int kBlackKeyHeightTwips = 600;
constexpr int kBlackKeyWidthTwips = 165;
constexpr int kKeyboardWidthTwips = 10360;    // key 64 ends here
const QRect kStripTwips(0, 660, 10335, 375);

struct KeyPlace {
    int left;
    int width;  // 0 for a black key
};
// Left edges (and the widths of the white keys) in twips, by key index. The
// widths are uneven on purpose: they follow the keyboard as it was drawn.
constexpr KeyPlace kKeys[KeyboardView::kKeyCount] = {
    {0, 265},     {180, 0},  {270, 265},   {465, 0},  {540, 265},   {810, 265},   {1005, 0},
    {1080, 265},  {1275, 0}, {1350, 265},  {1530, 0}, {1620, 265},  // octave 1
    {1890, 265},  {2055, 0}, {2160, 265},  {2355, 0}, {2430, 265},  {2700, 280},  {2880, 0},
    {2985, 280},  {3180, 0}, {3270, 280},  {3480, 0}, {3555, 265},  // octave 2
    {3825, 265},  {4005, 0}, {4080, 285},  {4290, 0}, {4365, 265},  {4635, 265},  {4800, 0},
    {4905, 280},  {5100, 0}, {5190, 280},  {5400, 0}, {5475, 280},  // octave 3
    {5760, 280},  {5955, 0}, {6045, 265},  {6240, 0}, {6315, 265},  {6585, 265},  {6765, 0},
    {6855, 265},  {7030, 0}, {7125, 265},  {7300, 0}, {7395, 265},  // octave 4
    {7665, 265},  {7845, 0}, {7935, 265},  {8130, 0}, {8205, 265},  {8475, 265},  {8655, 0},
    {8745, 265},  {8940, 0}, {9015, 265},  {9210, 0}, {9285, 265},  // octave 5
    {9555, 280},  {9720, 0}, {9840, 265},  {10035, 0}, {10095, 265},
};

constexpr bool tableAgreesWithOctaves()
{
    for (int k = 0; k < KeyboardView::kKeyCount; ++k)
        if ((kKeys[k].width == 0) != keys::IsBlackKey(k))
            return false;
    return kKeys[KeyboardView::kKeyCount - 1].left + kKeys[KeyboardView::kKeyCount - 1].width == kKeyboardWidthTwips;
}
static_assert(tableAgreesWithOctaves());

bool validKey(int k) { return k >= 0 && k < KeyboardView::kKeyCount; }

}  // namespace

QRect KeyboardView::keyRectTwips(int k)
{
    if (!validKey(k))
        return {};
    const KeyPlace& p = kKeys[k];
    if (p.width == 0)
        return QRect(p.left, 0, kBlackKeyWidthTwips, kBlackKeyHeightTwips);
    return QRect(p.left, 0, p.width, kWhiteKeyHeightTwips);
}

QRect KeyboardView::keyRect(int k) { return twips::EdgesToPixels(keyRectTwips(k)); }

KeyboardView::KeyboardView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    resize(twips::ToPixels(kKeyboardWidthTwips), twips::ToPixels(kWhiteKeyHeightTwips));
    for (int k = 0; k < kKeyCount; ++k) {
        if (keys::IsBlackKey(k))
            colours_[std::size_t(k)] = QColor(0, 0, 0);
        else
            colours_[std::size_t(k)] = QPalette::Base;
    }
    strip_ = new UserControl1(this);
    strip_->setObjectName(QStringLiteral("UserControl11"));
    strip_->setGeometry(twips::EdgesToPixels(kStripTwips));
}

void KeyboardView::setKeyColor(int k, const QColor& colour)
{
    setKeyColorQuietly(k, colour);
    repaintKey(k);
}

void KeyboardView::setKeyColorQuietly(int k, const QColor& colour)
{
    if (validKey(k))
        colours_[std::size_t(k)] = colour;
}

void KeyboardView::repaintKey(int k)
{
    if (validKey(k))
        update(keyRect(k));
}

void KeyboardView::setKeyColor(int k, QPalette::ColorRole role)
{
    if (!validKey(k))
        return;
    colours_[std::size_t(k)] = role;
    update(keyRect(k));
}

QColor KeyboardView::keyColor(int k) const
{
    if (!validKey(k))
        return {};
    const Colour& c = colours_[std::size_t(k)];
    // From the active group always: a disabled keyboard only stops taking
    // the mouse, its keys keep their colours.
    if (const auto* role = std::get_if<QPalette::ColorRole>(&c))
        return palette().color(QPalette::Active, *role);
    return std::get<QColor>(c);
}

bool KeyboardView::pointerInside(const QPoint& pos) const
{
    // Keys cut off by a narrower parent are not there to be played.
    if (!rect().contains(pos))
        return false;
    const QWidget* parent = parentWidget();
    return !parent || parent->rect().contains(mapToParent(pos));
}

int KeyboardView::keyAt(const QPoint& pos) const
{
    if (!pointerInside(pos))
        return -1;
    for (int k = 0; k < kKeyCount; ++k)
        if (keys::IsBlackKey(k) && keyRect(k).contains(pos))
            return k;
    // Where two white keys overlap, the later one is drawn on top.
    for (int k = kKeyCount - 1; k >= 0; --k)
        if (!keys::IsBlackKey(k) && keyRect(k).contains(pos))
            return k;
    return -1;
}

void KeyboardView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    auto drawKey = [&](int k) {
        const QRect r = keyRect(k);
        painter.fillRect(r, keyColor(k));
        // A raised button edge: light above and left, shadow below and right.
        painter.setPen(pal.color(QPalette::Active, QPalette::Light));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(pal.color(QPalette::Active, QPalette::Shadow));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
        painter.setPen(pal.color(QPalette::Active, QPalette::Dark));
        painter.drawLine(r.bottomLeft() + QPoint(1, -1), r.bottomRight() + QPoint(-1, -1));
        painter.drawLine(r.topRight() + QPoint(-1, 1), r.bottomRight() + QPoint(-1, -1));
    };
    for (int k = 0; k < kKeyCount; ++k)
        if (!keys::IsBlackKey(k))
            drawKey(k);
    for (int k = 0; k < kKeyCount; ++k)
        if (keys::IsBlackKey(k))
            drawKey(k);
    if (tonic_ >= 0)
        paintDigits(painter);
    paintLessonKeys(painter);
    if (labelsShown_)
        paintLabels(painter);
}

void KeyboardView::setLessonKeys(const std::vector<int>& next, const std::vector<int>& after)
{
    if (next == lessonNext_ && after == lessonAfter_)
        return;
    lessonNext_ = next;
    lessonAfter_ = after;
    update();
}

// A band over the key's lower third, which no other key covers, so the
// mark stays in sight whatever colour the key is struck in; the key's label
// is drawn over it.
void KeyboardView::paintLessonKeys(QPainter& painter)
{
    const auto band = [&](int k, int alpha) {
        if (k < 0 || k >= kKeyCount)
            return;
        const QRect r = keyRect(k).adjusted(2, 0, -2, -2);
        QColor c = lessonColour();
        c.setAlpha(alpha);
        painter.fillRect(QRect(r.left(), r.bottom() - r.height() / 3, r.width(), r.height() / 3), c);
    };
    for (int k : lessonAfter_)
        band(k, 90);
    for (int k : lessonNext_)
        band(k, 255);
}

void KeyboardView::setKeyLabels(const std::array<QString, kKeyCount>& labels)
{
    if (labels == labels_)
        return;
    labels_ = labels;
    update();
}

void KeyboardView::setLabelsShown(bool on)
{
    labelsShown_ = on;
    update();
}

QRect KeyboardView::labelRect(int k) const
{
    // A white key's name sits at its top, between the black keys beside it;
    // a black key's at its foot.
    const QRect r = keyRect(k);
    if (keys::IsBlackKey(k))
        return QRect(r.left() + 1, r.top() + r.height() * 2 / 3, r.width() - 2, r.height() / 3 - 2);
    int left = r.left() + 1, right = r.right() - 1;
    if (k > 0 && keys::IsBlackKey(k - 1))
        left = std::max(left, keyRect(k - 1).right() + 1);
    if (k + 1 < kKeyCount && keys::IsBlackKey(k + 1))
        right = std::min(right, keyRect(k + 1).left() - 1);
    return QRect(left, r.top() + 2, right - left + 1, keyRect(1).height() / 3);
}

void KeyboardView::paintLabels(QPainter& painter)
{
    // Text, not a picture: sharp at any scale. A long name gets a smaller
    // type rather than leaving its key.
    QFont font = painter.font();
    for (int k = 0; k < kKeyCount; ++k) {
        const QString& text = labels_[std::size_t(k)];
        if (text.isEmpty())
            continue;
        const QRect box = labelRect(k);
        int size = std::max(5, box.height() * 3 / 4);
        font.setPixelSize(size);
        while (size > 5 && QFontMetrics(font).horizontalAdvance(text) > box.width())
            font.setPixelSize(--size);
        painter.setFont(font);
        painter.setPen(keys::IsBlackKey(k) ? QColor(200, 200, 200) : QColor(70, 70, 70));
        painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop, text);
    }
}

void KeyboardView::setMovableDigits(int tonic, int lowestNote)
{
    if (tonic == tonic_ && lowestNote == lowestNote_)
        return;
    tonic_ = tonic;
    lowestNote_ = lowestNote;
    if (strip_)
        strip_->setHidden(tonic >= 0 || !stripShown_);
    update();
}

void KeyboardView::setStripShown(bool on)
{
    stripShown_ = on;
    strip_->setVisible(on && tonic_ < 0);
    update();
}

KeyboardView::Digit KeyboardView::movableDigit(int k) const
{
    if (tonic_ < 0)
        return {};
    const songs::ScalePlace place = songs::PlaceOf(lowestNote_ + k, tonic_);
    const int digit = songs::DegreeOf(place.semitone);
    return digit == 0 ? Digit{} : Digit{digit, place.octave};
}

void KeyboardView::paintDigits(QPainter& painter)
{
    if (!stripShown_)
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    const QRect white = keyRect(0);
    font.setPixelSize(std::max(8, white.width() * 3 / 4));
    font.setBold(true);
    painter.setFont(font);
    const int h = QFontMetrics(font).ascent();
    for (int k = 0; k < kKeyCount; ++k) {
        const Digit d = movableDigit(k);
        if (d.digit == 0)
            continue;
        const QRect r = keyRect(k);
        const bool black = keys::IsBlackKey(k);
        const QColor ink = black ? QColor(255, 255, 255) : QColor(90, 90, 90);
        painter.setPen(ink);
        painter.setBrush(ink);
        // On a white key below the black keys; on a black key near its end.
        const int middle = black ? r.bottom() - h * 8 / 5 : r.bottom() - h * 4 / 3;
        painter.drawText(QRect(r.left(), middle - h / 2, r.width(), h), Qt::AlignCenter, QString::number(d.digit));
        const double dot = std::max(1.0, h / 9.0);
        for (int o = 0; o < std::abs(d.octave); ++o) {
            const double y = d.octave > 0 ? middle - h / 2 - dot * (1.5 + 3 * o) : middle + h / 2 + dot * (1.5 + 3 * o);
            painter.drawEllipse(QPointF(r.center().x() + 0.5, y), dot, dot);
        }
    }
}

void KeyboardView::mousePressEvent(QMouseEvent* event)
{
    if (!mousePlay_ || dragging_ || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int key = keyAt(event->position().toPoint());
    if (key < 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The drag starts on the key itself; every move until the release is ours.
    dragging_ = true;
    overKey_ = key;
    // Made at the first drag, not with the keyboard: the window's start
    // need not wait for a picture it may never show.
    static const QCursor dragCursor = DragCursor();
    grabMouse(dragCursor);
    emit dragOver(key, kDragEnter);
}

void KeyboardView::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const int key = keyAt(event->position().toPoint());
    if (key == overKey_) {
        if (key >= 0)
            emit dragOver(key, kDragOver);
        return;
    }
    // The key left is reported before the key entered, so that leaving never
    // looks like a fresh arrival on the old key.
    const int left = overKey_;
    overKey_ = key;
    if (left >= 0)
        emit dragOver(left, kDragLeave);
    if (key >= 0 && dragging_)
        emit dragOver(key, kDragEnter);
}

void KeyboardView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!dragging_ || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int key = keyAt(event->position().toPoint());
    cancelDrag();
    if (key >= 0)
        emit dragDropped(key);
}

void KeyboardView::cancelDrag()
{
    if (!dragging_)
        return;
    dragging_ = false;
    overKey_ = -1;
    releaseMouse();
}

void KeyboardView::abortDrag()
{
    // No drop will come: report the key under the pointer as left, so it is
    // not shown held for good.
    const int key = overKey_;
    const bool wasDragging = dragging_;
    cancelDrag();
    if (wasDragging && key >= 0)
        emit dragOver(key, kDragLeave);
}

void KeyboardView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        abortDrag();
    QWidget::changeEvent(event);
}

void KeyboardView::hideEvent(QHideEvent* event)
{
    abortDrag();
    QWidget::hideEvent(event);
}

QCursor DragCursor()
{
    const bool dense = qGuiApp && qGuiApp->devicePixelRatio() > 1.0;
    struct Picture {
        const char* name;
        qreal ratio;
    };
    const Picture pictures[] = {
        {":/instrument/dragicon@2x.png", 2.0}, {":/instrument/dragicon.png", 1.0},
        {":/instrument/dragicon16@2x.png", 2.0}, {":/instrument/dragicon16.png", 1.0},
    };
    for (const Picture& p : pictures) {
        if (p.ratio > 1.0 && !dense)
            continue;
        QPixmap icon = QPixmap::fromImage(ReadPicture(QString::fromLatin1(p.name)));
        if (icon.isNull())
            continue;
        icon.setDevicePixelRatio(p.ratio);
        return QCursor(icon);
    }
    return QCursor(Qt::ArrowCursor);
}
