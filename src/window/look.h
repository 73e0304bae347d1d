#pragma once
// The window's fonts and colours, shared by the parts that build its controls.
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QSize>

class QWidget;

namespace look {

// The note length box, the lists and the song panel's buttons.
inline const QColor kFieldBack(159, 164, 164), kFieldText(64, 64, 64);

// SimSun ("宋体"), or the CJK family installed in its place.
QFont SongTi(double points, bool bold);
void SetTextColor(QWidget* widget, QColor text, QColor background = QColor());
// A picture of the window's resources; a plain block of `fallback` when it
// is missing, so that the window still works.
QPixmap LoadPicture(const char* path, QSize fallbackSize, QColor fallback);

}  // namespace look
