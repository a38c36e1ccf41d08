#include "commandline.h"
#include "form1.h"
#include "mp3play.h"
#include "mpris.h"
#include "playlistlocation.h"
#include "singleinstance.h"
#include "translations.h"

#include <QApplication>

#include <string_view>

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

void describeProgram(QCoreApplication &app)
{
    velmora::installChineseTranslations(app);
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
}

// --help and --version only print their text, which needs no display: QApplication
// would end the program without one (from ssh or a console) before they are read.
bool asksOnlyForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--")
            return false;
        if (argument == "-h" || argument == "--help" || argument == "-v" || argument == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        describeProgram(app);
        velmora::filesFromCommandLine(app); // prints the text and ends the program
    }
    preferXWayland();
    QApplication app(argc, argv);
    describeProgram(app);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    // The tray keeps the program alive only while the window exists: closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(true);
    const QStringList files = velmora::filesFromCommandLine(app);

    // One Velmora per automatic list: a copy of the program elsewhere, with a list of
    // its own, plays beside this one.
    velmora::SingleInstance instance(velmora::automaticPlaylistIn(QCoreApplication::applicationDirPath()));
    bool unanswered = false;
    if (!instance.claim()) {
        switch (instance.handOver(files)) {
        case velmora::SingleInstance::HandOver::Done:
            return 0;
        case velmora::SingleInstance::HandOver::NoAnswer:
            unanswered = true; // it keeps the name; this one runs without it
            break;
        case velmora::SingleInstance::HandOver::Absent:
            instance.claim(); // the running one has just ended: this one takes its place
            break;
        }
    }

    velmora::Form1 window(std::make_unique<velmora::Mp3Play>());
    window.player().rememberVolume(); // before anything plays
    window.start(files.isEmpty());
    if (unanswered)
        window.reportProblem(QStringLiteral("另一个 Velmora 没有响应，已单独启动"));
    // Problems with the files, if any, are the newer news and take the report's place.
    if (!files.isEmpty())
        window.player().openFiles(files);
    instance.setHandler([&window](const QStringList &handed) {
        window.player().openFiles(handed, [&window] { window.munShow_Click(); });
    });
    // Without a session bus the player runs all the same. A second player takes an
    // MPRIS name of its own.
    velmora::MprisService mpris(window.player(), [&window] { window.munShow_Click(); },
                                [&window] { window.munExit_Click(); },
                                [&window](const QString &problem) { window.reportProblem(problem); });
    mpris.registerOnSessionBus();
    return app.exec();
}
