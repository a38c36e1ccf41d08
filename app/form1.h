#pragma once

#include "filedialog.h"
#include "mp3engine.h"
#include "playbackhandlers.h"
#include "player.h"
#include "playerstate.h"

#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QStringList>

#include <memory>

class QAction;
class QLabel;
class QListView;
class QMenu;
class QSlider;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;
class QToolBar;

namespace velmora {

// The main window: playlist, toolbar, position slider, status bar, tray icon and the
// two pop-up menus, with the handlers of all of them.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit Form1(std::unique_ptr<Mp3Engine> engine, std::unique_ptr<FileDialog> dialog = nullptr,
                   QWidget *parent = nullptr);
    ~Form1() override;

    // Runs the start-up handler, then shows the window. With files to open from the
    // command line the automatic list is read but its first track is not started.
    void start(bool startAutomaticList = true);
    // The folder whose mp3.m3u is the automatic playlist (the executable's by default).
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }
    QString automaticPlaylistPath() const;

    PlayerVars &vars() { return m_player->vars(); }
    PlaybackHandlers &playback() { return *m_playback; }
    // The list, the transport state, the track and every command.
    Player &player() { return *m_player; }

    // Handlers.
    void Form_Load();
    void Form_Resize();
    void List1_Click();
    void List1_MouseDown(int button);
    void munShow_Click();
    void munExit_Click();
    void munAbout_Click();
    void munOpenList_Click();
    void munSave_Click();
    void munSaveAs_Click();
    void runAdd_Click();
    void runDel_Click();
    void Toolbar1_ButtonClick(int index);

    // Shows a problem in the status bar, without a dialog.
    void reportProblem(const QString &text);

    // Controls, by the names the handlers use. The list shows the player's playlist.
    QListView *List1 = nullptr;
    QSlider *Slider1 = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QLabel *StatusPanel1 = nullptr;
    QLabel *StatusPanel2 = nullptr;
    QLabel *StatusPanel3 = nullptr;
    // Stands in panel 1's place while a report is shown; panels 2 and 3 stay in view.
    QLabel *StatusReport = nullptr;
    QToolBar *Toolbar1 = nullptr;
    QList<QAction *> ToolbarButtons;
    QList<QPixmap> ImageList1;
    QSystemTrayIcon *TrayForm1 = nullptr;

    QMenu *munTray = nullptr;
    QAction *munShow = nullptr;
    QAction *munPause = nullptr;
    QAction *munAbout = nullptr;
    QAction *munExit = nullptr;

    QMenu *munReplay = nullptr;
    QAction *runPlay = nullptr;
    QAction *runAdd = nullptr;
    QAction *runDel = nullptr;
    QAction *munSave = nullptr;
    QAction *munOpenList = nullptr;
    QAction *munSaveAs = nullptr;

    FileDialog &CommonDialog1() { return *m_dialog; }

    // The last problem shown to the user (a file that could not be read, written or played).
    QString lastProblem() const { return m_lastProblem; }
    // The report the status bar shows now; empty once it has timed out.
    QString shownReport() const;

signals:
    // For tests and accessibility tools: a problem was reported in the status bar.
    void problemReported(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void createMenus();
    void createToolbar();
    void createTray();
    void connectHandlers();
    void endReport();
    void noteTrackOpened(const QString &path, const QString &reason);
    void ShowForm();
    // Shows the file dialog; the choice is the dialog's FileName.
    QString chooseFile(const QString &filter, bool saving);

    QString m_programFolder;
    QString m_lastProblem;
    QTimer *m_reportTimer = nullptr;
    bool m_startAutomaticList = true;
    std::unique_ptr<FileDialog> m_dialog;
    std::unique_ptr<Player> m_player; // owns the engine
    std::unique_ptr<PlaybackHandlers> m_playback;
};

} // namespace velmora
