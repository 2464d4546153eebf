// The yardstick for the start-up benchmark: the least a Qt Widgets program
// does to show a window of the game's size. The game's own start-up is
// compared against this one, built with the same compiler and flags.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("BareWindow"));
    window.setFixedSize(324, 156);
    window.show();
    return app.exec();
}
