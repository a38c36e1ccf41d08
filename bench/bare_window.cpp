// Usage: bare_window
//
// An empty main window of the player's size and nothing else: how long Qt itself
// takes from launch to a mapped window on this machine, the floor under the player's
// own start-up figure.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.resize(481, 273);
    window.show();
    return app.exec();
}
