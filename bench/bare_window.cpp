// Usage: bare_window [--text]
//
// An empty main window of the player's size and nothing else: how long Qt itself
// takes from launch to a mapped window on this machine, and how much memory it takes,
// the floors under the player's own figures. With --text the window shows one line
// of Chinese, which brings in fontconfig, the shaper and a CJK font.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.resize(481, 273);
    if (argc > 1 && QByteArrayView(argv[1]) == "--text")
        window.setCentralWidget(new QLabel(QStringLiteral("当前歌曲:晨曦--Velmora 演示")));
    window.show();
    return app.exec();
}
