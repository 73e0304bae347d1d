#include "window/soundlamp.h"

#include <QPainter>

SoundLamp::SoundLamp(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setToolTip(QStringLiteral("正在打开声音输出…"));
}

void SoundLamp::setState(State state, const QString& why)
{
    state_ = state;
    setToolTip(why);
    update();
}

void SoundLamp::paintEvent(QPaintEvent*)
{
    // Playing: the skin's own green lamp shows through.
    if (state_ == State::Playing)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(40, 40, 40));
    painter.setBrush(state_ == State::Silent ? QColor(224, 32, 32) : QColor(120, 120, 120));
    painter.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}
