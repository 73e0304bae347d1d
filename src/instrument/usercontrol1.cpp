#include "instrument/usercontrol1.h"

#include "instrument/picture.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>

namespace {

const char* const kStripResource = ":/instrument/strip.png";
const char* const kStripResource2x = ":/instrument/strip@2x.png";  // for screens of twice the density
// The picture is grey digits on white; white is the mask colour, so a struck
// key's colour shows around the digits.
constexpr QRgb kMaskColour = qRgb(255, 255, 255);

QPixmap loadStrip(const char* resource, qreal ratio)
{
    QImage image = ReadPicture(QString::fromLatin1(resource));
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32);
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(kMaskColour, Qt::MaskInColor)));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

// Both keyboards show the same strip: it is read and masked once, the
// picture for dense screens only when such a screen asks for it.
const QPixmap& strip()
{
    static const QPixmap picture = loadStrip(kStripResource, 1.0);
    return picture;
}

const QPixmap& strip2x()
{
    static const QPixmap picture = loadStrip(kStripResource2x, 2.0);
    return picture;
}

}  // namespace

UserControl1::UserControl1(QWidget* parent) : QWidget(parent), picture_(strip())
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void UserControl1::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    // Drawn at its own size from the top-left corner; the strip's edges clip it.
    const QPixmap& picture = devicePixelRatioF() > 1.0 && !strip2x().isNull() ? strip2x() : picture_;
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture);
}
