#pragma once
// The numbered-notation strip laid over the white keys: one digit under each
// white key. A picture only; presses go straight through to the key beneath.
#include <QPixmap>
#include <QWidget>

class UserControl1 : public QWidget {
    Q_OBJECT
public:
    explicit UserControl1(QWidget* parent = nullptr);

    // False when the picture resource is missing; the strip then draws nothing.
    bool hasPicture() const { return !picture_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
};
