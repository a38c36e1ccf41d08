#include "form1.h"
#include "mp3play.h"
#include "mpris.h"
#include "translations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    velmora::installChineseTranslations(app);
    // The tray keeps the program alive only while the window exists: closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    velmora::Form1 window(std::make_unique<velmora::Mp3Play>());
    window.start();
    // Without a session bus the player runs all the same.
    velmora::MprisService mpris(window.player(), [&window] { window.munShow_Click(); },
                                [&window] { window.munExit_Click(); });
    mpris.registerOnSessionBus();
    return app.exec();
}
