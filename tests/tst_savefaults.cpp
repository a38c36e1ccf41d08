// Saving the playlist when the disk says no, and when the program is killed in the
// middle of a save: the old file stays whole, nothing left behind gets in the way of
// the next save, and only the menus tell the user. A folder that takes no new file
// still gets its list saved when the list itself can be written.
#include "scratchmount.h"
#include "testwindow.h"

#include "entry.h"
#include "m3u.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QListView>
#include <QProcess>
#include <QStatusBar>
#include <QtTest>

#include <chrono>
#include <cstdio>
#include <thread>

#include <csignal>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// The test binary runs itself with this first argument to be the program that gets killed.
constexpr char kChildFlag[] = "--save-child";

// Large enough that writing and syncing take a while, so kills land in the middle.
constexpr int kChildEntries = 120000;
constexpr int kKillsPerRoute = 10;

enum class Fault { ReadOnlyFolder, TargetIsDirectory, DiskFull, FolderMissing, ReadOnlyFolderWritableList };
enum class Command { MenuSave, MenuSaveAs, ToolbarSave };

QStringList bigListEntries(int count)
{
    QStringList entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i)
        entries << listFormEntry(QStringLiteral("歌曲 %1").arg(i), QStringLiteral("/home/user/音乐/专辑 %1/曲目 %2.mp3").arg(i / 12).arg(i));
    return entries;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeContents(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList folderContents(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The child: saves a very large list to the target and says when it starts and ends.
//   --save-child atomic TARGET   velmora::writeFileAtomically with the bytes ready
//   --save-child window TARGET   列表另存为 (Player::saveAs) of a window holding the list
int saveChild(int argc, char *argv[])
{
    if (argc != 4)
        return 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString mode = QString::fromLocal8Bit(argv[2]);
    const QString target = QString::fromLocal8Bit(argv[3]);
    const QStringList entries = bigListEntries(kChildEntries);
    auto say = [](const char *text) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    };
    QElapsedTimer clock;
    bool ok = false;
    if (mode == QLatin1String("atomic")) {
        const QByteArray bytes = encodePlaylistText(playlistTextFromEntries(entryTexts(entries)));
        say("writing\n");
        clock.start();
        ok = writeFileAtomically(target, bytes).ok;
    } else {
        TestWindow w;
        w.form->player().list().append(entryTexts(entries));
        say("writing\n");
        clock.start();
        ok = w.saveAs(target);
    }
    std::printf("done %d %lld\n", ok ? 1 : 0, static_cast<long long>(clock.elapsed()));
    std::fflush(stdout);
    return ok ? 0 : 1;
}

struct ChildRun
{
    bool started = false;   // it said "writing"
    bool finished = false;  // it said "done", successfully
    qint64 saveMs = -1;     // how long the save took, by its own clock
};

// Runs the child; kills it killAfterUs microseconds after it starts writing (never, if
// negative). Only an undisturbed child may have something to say on its error output.
ChildRun runChild(const QString &mode, const QString &target, qint64 killAfterUs)
{
    ChildRun run;
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QString::fromLatin1(kChildFlag), mode, target});
    if (killAfterUs < 0)
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    else
        child.setStandardErrorFile(QProcess::nullDevice());
    child.start();
    if (!child.waitForStarted(10000))
        return run;
    QByteArray out;
    while (!out.contains("writing\n") && child.state() == QProcess::Running) {
        child.waitForReadyRead(200);
        out += child.readAllStandardOutput();
    }
    run.started = out.contains("writing\n");
    if (run.started && killAfterUs >= 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(killAfterUs));
        ::kill(pid_t(child.processId()), SIGKILL);
    }
    child.waitForFinished(60000);
    out += child.readAllStandardOutput();
    const qsizetype done = out.indexOf("done ");
    if (done >= 0) {
        const QList<QByteArray> fields = out.mid(done).trimmed().split(' ');
        run.finished = fields.size() == 3 && fields[1] == "1";
        run.saveMs = fields.size() == 3 ? fields[2].toLongLong() : -1;
    }
    return run;
}

QByteArray sha1(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

} // namespace

class SaveFaultsTest : public QObject
{
    Q_OBJECT
private slots:
    void faultKeepsOldFile_data();
    void faultKeepsOldFile();
    void killedMidSave_data();
    void killedMidSave();
};

void SaveFaultsTest::faultKeepsOldFile_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("command");
    const QList<QPair<const char *, Fault>> faults{
        {"read-only folder", Fault::ReadOnlyFolder},
        {"target is a directory", Fault::TargetIsDirectory},
        {"disk full", Fault::DiskFull},
        {"folder missing", Fault::FolderMissing},
        {"read-only folder, writable list", Fault::ReadOnlyFolderWritableList},
    };
    const QList<QPair<const char *, Command>> commands{
        {"menu save", Command::MenuSave},
        {"save as", Command::MenuSaveAs},
        {"toolbar save", Command::ToolbarSave},
    };
    for (const auto &[faultName, fault] : faults) {
        for (const auto &[commandName, command] : commands)
            QTest::addRow("%s, %s", faultName, commandName) << int(fault) << int(command);
    }
}

void SaveFaultsTest::faultKeepsOldFile()
{
    QFETCH(int, fault);
    QFETCH(int, command);

    // The folder that holds the target: a small disk of its own where the fault needs one.
    std::unique_ptr<ScratchMount> disk;
    QTemporaryDir plainFolder;
    QString folder = plainFolder.path();
    const bool inPlace = Fault(fault) == Fault::ReadOnlyFolderWritableList;
    if (Fault(fault) == Fault::ReadOnlyFolder || Fault(fault) == Fault::DiskFull || inPlace) {
        disk = std::make_unique<ScratchMount>(QStringLiteral("64k"));
        if (!disk->valid())
            QSKIP("mounting a scratch tmpfs needs root");
        folder = disk->path();
    }
    QString target = folder + QStringLiteral("/list.m3u");
    const QByteArray old = m3u({{"Old", "/m/old.mp3"}, {"旧歌", "/m/旧歌.mp3"}});
    QVERIFY(writeContents(target, old));
    const auto unbind = qScopeGuard([&] {
        if (inPlace)
            QProcess::execute(QStringLiteral("umount"), {target});
    });

    TestWindow w;
    QStringList paths;
    for (int i = 0; i < 3000; ++i)
        paths << QStringLiteral("/music/a rather long folder name/track number %1.mp3").arg(i);
    w.setEntries(paths);

    switch (Fault(fault)) {
    case Fault::ReadOnlyFolder:
        QVERIFY(disk->makeReadOnly());
        break;
    case Fault::TargetIsDirectory:
        QVERIFY(QFile::remove(target));
        QVERIFY(QDir(folder).mkdir(QStringLiteral("list.m3u")));
        QVERIFY(writeContents(target + QStringLiteral("/inside.txt"), old));
        break;
    case Fault::DiskFull:
        // The 3000 entries need far more than the 64 KiB there are.
        break;
    case Fault::FolderMissing:
        target = folder + QStringLiteral("/gone/list.m3u");
        break;
    case Fault::ReadOnlyFolderWritableList: {
        // The list is a writable file of another disk mounted over the one in the folder.
        const QString writable = plainFolder.filePath(QStringLiteral("list.m3u"));
        QVERIFY(writeContents(writable, old));
        QCOMPARE(QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), writable, target}), 0);
        QVERIFY(disk->makeReadOnly());
        break;
    }
    }
    const QStringList folderBefore = folderContents(folder);

    QSignalSpy problems(w.form.get(), &Form1::problemReported);
    w.form->vars().FilePath = target;
    switch (Command(command)) {
    case Command::MenuSave:
        w.form->munSave_Click();
        break;
    case Command::MenuSaveAs:
        w.dialog->answers << target;
        w.form->munSaveAs_Click();
        break;
    case Command::ToolbarSave:
        w.form->Toolbar1_ButtonClick(2);
        break;
    }

    if (Command(command) == Command::ToolbarSave || inPlace) {
        QCOMPARE(problems.count(), 0);
        QCOMPARE(w.form->lastProblem(), QString());
        QCOMPARE(w.form->shownReport(), QString());
    } else {
        QCOMPARE(problems.count(), 1);
        QVERIFY2(problems.first().first().toString().startsWith(QStringLiteral("保存失败：")),
                 qPrintable(problems.first().first().toString()));
        QCOMPARE(w.form->shownReport(), problems.first().first().toString());
        // A track starting afterwards leaves the report standing.
        w.form->player().StartLoadedList(0);
        QCOMPARE(w.form->shownReport(), problems.first().first().toString());
    }
    QCOMPARE(folderContents(folder), folderBefore);
    if (Fault(fault) == Fault::TargetIsDirectory) {
        QVERIFY(QFileInfo(target).isDir());
        QCOMPARE(contentsOf(target + QStringLiteral("/inside.txt")), old);
    } else if (inPlace) {
        QCOMPARE(contentsOf(target), encodePlaylistText(playlistTextFromEntries(entryTexts(w.entries()))));
    } else if (Fault(fault) != Fault::FolderMissing) {
        QCOMPARE(contentsOf(target), old);
    }
    QCOMPARE(w.form->vars().FilePath, target);

    // Once the fault is gone, saving works, whatever the failed attempt left.
    switch (Fault(fault)) {
    case Fault::ReadOnlyFolder:
        QCOMPARE(QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,rw"), folder}), 0);
        break;
    case Fault::TargetIsDirectory:
        QVERIFY(QDir(target).removeRecursively());
        break;
    case Fault::DiskFull:
        break;
    case Fault::FolderMissing:
        QVERIFY(QDir(folder).mkdir(QStringLiteral("gone")));
        break;
    case Fault::ReadOnlyFolderWritableList:
        break; // it stays: a shorter list is written over the longer one
    }
    w.setEntries({QStringLiteral("/m/small.mp3")});
    const QStringList entriesNow = w.entries();
    QVERIFY(w.saveAs(target));
    QCOMPARE(contentsOf(target), encodePlaylistText(playlistTextFromEntries(entryTexts(entriesNow))));
    QCOMPARE(folderContents(QFileInfo(target).path()), QStringList{QStringLiteral("list.m3u")});
}

void SaveFaultsTest::killedMidSave_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("writeFileAtomically") << QStringLiteral("atomic");
    QTest::newRow("列表另存为") << QStringLiteral("window");
}

void SaveFaultsTest::killedMidSave()
{
    QFETCH(QString, mode);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString target = folder.filePath(QStringLiteral("mp3.m3u"));
    const QByteArray old = m3u({{"Old", "/m/old.mp3"}, {"旧歌", "/m/旧歌.mp3"}});
    const QByteArray fresh = encodePlaylistText(playlistTextFromEntries(entryTexts(bigListEntries(kChildEntries))));
    const QByteArray oldHash = sha1(old);
    const QByteArray freshHash = sha1(fresh);

    // An undisturbed run first, to know how long a save takes.
    QVERIFY(writeContents(target, old));
    const ChildRun whole = runChild(mode, target, -1);
    QVERIFY2(whole.finished, "the save child failed on its own");
    QCOMPARE(sha1(contentsOf(target)), freshHash);
    QCOMPARE(folderContents(folder.path()), QStringList{QStringLiteral("mp3.m3u")});

    int keptOld = 0;
    int replaced = 0;
    const qint64 spanUs = std::max<qint64>(whole.saveMs, 1) * 1200;
    for (int i = 0; i < kKillsPerRoute; ++i) {
        QVERIFY(writeContents(target, old));
        const qint64 killAfterUs = spanUs * i / (kKillsPerRoute - 1);
        const ChildRun run = runChild(mode, target, killAfterUs);
        QVERIFY(run.started);
        const QByteArray hash = sha1(contentsOf(target));
        if (hash == oldHash) {
            QVERIFY2(!run.finished, "the save said it was done, yet the old file is still there");
            ++keptOld;
        } else {
            QVERIFY2(hash == freshHash,
                     qPrintable(QStringLiteral("killed after %1 us: the list is neither the old one nor the new one")
                                    .arg(killAfterUs)));
            ++replaced;
        }
    }
    const QStringList leftOver = folderContents(folder.path()).filter(QRegularExpression(QStringLiteral("^(?!mp3\\.m3u$)")));
    qInfo("%s: a whole save takes %lld ms; %d kills kept the old list, %d came after the new one was in place; "
          "%lld temporary files left behind",
          qPrintable(mode), static_cast<long long>(whole.saveMs), keptOld, replaced,
          static_cast<long long>(leftOver.size()));
    // The earliest kill comes before anything is written.
    QVERIFY(keptOld >= 1);

    // Whatever the kills left behind, the next save goes through and nothing else changes.
    TestWindow w;
    w.setEntries({QStringLiteral("/m/after.mp3")});
    QVERIFY(w.saveAs(target));
    QCOMPARE(contentsOf(target), encodePlaylistText(playlistTextFromEntries(entryTexts(w.entries()))));
    QCOMPARE(folderContents(folder.path()).filter(QRegularExpression(QStringLiteral("^(?!mp3\\.m3u$)"))), leftOver);
}

int main(int argc, char *argv[])
{
    if (argc >= 2 && qstrcmp(argv[1], kChildFlag) == 0)
        return saveChild(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    SaveFaultsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savefaults.moc"
