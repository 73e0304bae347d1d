#pragma once
// The small lamp at the right of the panel: lit by the skin while the
// keyboard has sound, dim while the sound is starting, red while there is
// none; its tooltip says why and what is being tried.
#include <QWidget>

class SoundLamp : public QWidget {
    Q_OBJECT
public:
    enum class State { Starting, Playing, Silent };
    explicit SoundLamp(QWidget* parent);
    void setState(State state, const QString& why);
    State state() const { return state_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    State state_ = State::Starting;
};
