#include "window/look.h"

#include "instrument/picture.h"

#include <QPalette>
#include <QWidget>

namespace look {

// The only font the window asks for by name; the CJK families after it stand
// in where SimSun is not installed.
QFont SongTi(double points, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("Droid Sans Fallback")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void SetTextColor(QWidget* widget, QColor text, QColor background)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    if (background.isValid()) {
        p.setColor(QPalette::Base, background);
        p.setColor(QPalette::Button, background);
        p.setColor(QPalette::Window, background);
    }
    widget->setPalette(p);
}

QPixmap LoadPicture(const char* path, QSize fallbackSize, QColor fallback)
{
    QPixmap pixmap = QPixmap::fromImage(ReadPicture(QString::fromLatin1(path)));
    if (pixmap.isNull()) {
        pixmap = QPixmap(fallbackSize);
        pixmap.fill(fallback);
    }
    return pixmap;
}

}  // namespace look
