// The least a Qt 6 program can show: one window with one label. The start-up
// benchmark times it beside the keyboard, as the floor of what Qt costs.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Bare"));
    label.setWindowTitle(QStringLiteral("Bare"));
    label.show();
    return app.exec();
}
