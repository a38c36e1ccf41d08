#include "commandline.h"
#include "form1.h"
#include "mp3play.h"
#include "mpris.h"
#include "singleinstance.h"
#include "translations.h"

#include <QApplication>

namespace {

// A Wayland window cannot keep itself above the others; on XWayland it can. The
// user's own choice of platform stands.
void preferXWayland()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland")
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace

int main(int argc, char *argv[])
{
    preferXWayland();
    QApplication app(argc, argv);
    velmora::installChineseTranslations(app);
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    // The tray keeps the program alive only while the window exists: closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    const QStringList files = velmora::filesFromCommandLine(app);

    velmora::SingleInstance instance;
    if (!instance.claim()) {
        if (velmora::SingleInstance::handOver(files))
            return 0;
        instance.claim(); // the running one has just ended: this one takes its place
    }

    velmora::Form1 window(std::make_unique<velmora::Mp3Play>());
    window.start(files.isEmpty());
    velmora::openFromOutside(window, files);
    instance.setHandler([&window](const QStringList &handed) {
        velmora::openFromOutside(window, handed);
        window.munShow_Click();
    });
    // Without a session bus the player runs all the same.
    velmora::MprisService mpris(window.player(), [&window] { window.munShow_Click(); },
                                [&window] { window.munExit_Click(); });
    mpris.registerOnSessionBus();
    return app.exec();
}
