#include "instrument/usercontrol1.h"

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
    QImage image(QString::fromLatin1(resource));
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32);
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(kMaskColour, Qt::MaskInColor)));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

}  // namespace

UserControl1::UserControl1(QWidget* parent)
    : QWidget(parent), picture_(loadStrip(kStripResource, 1.0)), picture2x_(loadStrip(kStripResource2x, 2.0))
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
    const QPixmap& picture = devicePixelRatioF() > 1.0 && !picture2x_.isNull() ? picture2x_ : picture_;
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture);
}
