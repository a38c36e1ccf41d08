#include "form1.h"

#include "aboutbox.h"
#include "dropimport.h"
#include "playlistlocation.h"
#include "positionslider.h"
#include "programicon.h"
#include "shorttext.h"
#include "traywheel.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <optional>
#include <QSlider>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

// The pictures are built into this static library; make sure they are linked in.
static void initVelmoraResources()
{
    Q_INIT_RESOURCE(velmora);
}

namespace velmora {

namespace {

// The window's geometry is designed in twips, 15 to a pixel.
constexpr int px(int twips) { return twips / 15; }

constexpr int kClientWidth = px(7215);
constexpr int kClientHeight = px(4095);
constexpr int kToolbarHeight = px(765);
constexpr int kSliderTop = px(840);
constexpr int kSliderHeight = px(720);
constexpr int kListTop = px(1320);
constexpr int kListHeight = px(2400);
constexpr int kStatusBarHeight = px(375);
constexpr int kSongPanelWidth = px(3990);
constexpr int kPanelWidth = px(1440);
constexpr int kProblemMessageMs = 10000;

// Mouse button codes as the list's press handler receives them.
int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

QLabel *makePanel(const QString &text, int width, QWidget *parent)
{
    auto *panel = new QLabel(text, parent);
    panel->setMinimumWidth(kPanelWidth);
    panel->resize(width, kStatusBarHeight);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    // Tags and paths are shown as they are, never as markup.
    panel->setTextFormat(Qt::PlainText);
    return panel;
}

} // namespace

Form1::Form1(std::unique_ptr<Mp3Engine> engine, std::unique_ptr<FileDialog> dialog, QWidget *parent)
    : QMainWindow(parent),
      m_programFolder(QCoreApplication::applicationDirPath()),
      m_dialog(dialog ? std::move(dialog) : std::make_unique<QtFileDialog>(this)),
      m_player(std::make_unique<Player>(std::move(engine)))
{
    initVelmoraResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(programIcon());
    createControls();
    createMenus();
    createToolbar();
    createTray();

    PlayerControls controls;
    controls.window = this;
    controls.Slider1 = Slider1;
    controls.songPanel = StatusPanel1;
    controls.timePanel = StatusPanel2;
    controls.framePanel = StatusPanel3;
    controls.runPlay = runPlay;
    controls.munPause = munPause;
    m_playback = std::make_unique<PlaybackHandlers>(*m_player, controls);

    connectHandlers();
    QWidget::setTabOrder(Slider1, List1);
    resize(kClientWidth, kClientHeight);
}

Form1::~Form1()
{
    // Silence first: the engine goes before the controls it reports to, and the list
    // before the playlist it shows.
    m_playback.reset();
    List1->viewport()->removeEventFilter(this);
    delete std::exchange(List1, nullptr);
    m_player.reset();
}

QString Form1::automaticPlaylistPath() const
{
    return automaticPlaylistIn(m_programFolder);
}

void Form1::createControls()
{
    // Slider and list sit at fixed tops in the client area; the toolbar and the
    // status bar are docked and follow the window by themselves.
    List1 = new QListView(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setModel(&m_player->list());
    List1->setSelectionModel(&m_player->selection());
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);
    List1->setContextMenuPolicy(Qt::NoContextMenu);
    List1->setAccessibleName(QStringLiteral("播放列表"));
    List1->setItemDelegate(new ShortTextDelegate(List1));
    List1->setGeometry(0, kListTop, kClientWidth, kListHeight);
    List1->viewport()->installEventFilter(this);
    // Files and folders dropped from the file manager; the list has no drags of its own.
    List1->setDragDropMode(QAbstractItemView::DropOnly);
    List1->viewport()->installEventFilter(new DropImport(this));

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(kStatusBarHeight);
    // Where 宋体 is not installed, fontconfig stands in a serif face and a CJK font of its
    // own for it, beside the ones the rest of the window has loaded already: those serve.
    const QString simSun = QStringLiteral("SimSun");
    QFont statusFont(QFontDatabase::hasFamily(simSun) ? simSun : font().family());
    statusFont.setPointSizeF(9.75);
    StatusBar1->setFont(statusFont);
    StatusPanel1 = makePanel(QStringLiteral("当前歌曲:"), kSongPanelWidth, StatusBar1);
    StatusPanel2 = makePanel(QStringLiteral("时间："), kPanelWidth, StatusBar1);
    StatusPanel3 = makePanel(QStringLiteral("帧数："), kPanelWidth, StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusPanel3->setObjectName(QStringLiteral("StatusPanel3"));
    StatusBar1->addWidget(StatusPanel1, 1);
    StatusBar1->addWidget(StatusPanel2);
    StatusBar1->addWidget(StatusPanel3);
    setStatusBar(StatusBar1);
    m_reportTimer = new QTimer(this);
    m_reportTimer->setSingleShot(true);
    m_reportTimer->setInterval(kProblemMessageMs);
    connect(m_reportTimer, &QTimer::timeout, this, &Form1::endReport);

    Slider1 = new PositionSlider(Qt::Horizontal, this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setAccessibleName(QStringLiteral("播放位置"));
    Slider1->setRange(0, 10);
    Slider1->setPageStep(5);
    Slider1->setSingleStep(1);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setGeometry(0, kSliderTop, kClientWidth, kSliderHeight);
    Slider1->installEventFilter(this);
    // The list's top band lies over the slider's lower edge: the list owns it, so its
    // first entry takes clicks like any other, while the groove and handle above stay clickable.
    List1->raise();
}

void Form1::createMenus()
{
    auto addItem = [](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    munTray = new QMenu(QStringLiteral("托盘"), this);
    munTray->setObjectName(QStringLiteral("munTray"));
    munShow = addItem(munTray, "munShow", QStringLiteral("显示窗口"));
    munPause = addItem(munTray, "munPause", QStringLiteral("暂停播放"));
    munAbout = addItem(munTray, "munAbout", QStringLiteral("关于"));
    munExit = addItem(munTray, "munExit", QStringLiteral("退出"));

    munReplay = new QMenu(QStringLiteral("播放"), this);
    munReplay->setObjectName(QStringLiteral("munReplay"));
    runPlay = addItem(munReplay, "runPlay", QStringLiteral("播放"));
    runAdd = addItem(munReplay, "runAdd", QStringLiteral("添加"));
    runDel = addItem(munReplay, "runDel", QStringLiteral("删除"));
    munSave = addItem(munReplay, "munSave", QStringLiteral("保存"));
    munOpenList = addItem(munReplay, "munOpenList", QStringLiteral("打开列表"));
    munSaveAs = addItem(munReplay, "munSaveAs", QStringLiteral("列表另存为"));
}

void Form1::createToolbar()
{
    Toolbar1 = new QToolBar(QStringLiteral("工具栏"), this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1->setIconSize(QSize(32, 32));
    Toolbar1->setFixedHeight(kToolbarHeight);
    Toolbar1->setContextMenuPolicy(Qt::PreventContextMenu);
    // 32-pixel pictures with their captions under them must fit the 51-pixel band.
    Toolbar1->setStyleSheet(QStringLiteral("QToolBar { padding: 0px; spacing: 2px; }"
                                           "QToolButton { padding: 0px; margin: 0px; font-size: 11px; }"));
    Toolbar1->layout()->setContentsMargins(0, 0, 0, 0);
    addToolBar(Qt::TopToolBarArea, Toolbar1);

    struct Button { const char *picture; QString caption; QString tooltip; };
    const Button buttons[] = {
        {"open", QStringLiteral("打开"), QStringLiteral("打开MP3文件")},
        {"save", QStringLiteral("保存"), QStringLiteral("保存播放列表")},
        {"play", QStringLiteral("播放"), QStringLiteral("播放")},
        {"pause", QStringLiteral("暂停"), QStringLiteral("暂停")},
        {"stop", QStringLiteral("停止"), QStringLiteral("停止")},
    };
    for (const Button &button : buttons) {
        ImageList1.append(QPixmap(QStringLiteral(":/icons/%1.png").arg(QLatin1String(button.picture))));
        QAction *action = Toolbar1->addAction(QIcon(ImageList1.last()), button.caption);
        action->setToolTip(button.tooltip);
        action->setObjectName(QStringLiteral("Toolbar1_%1").arg(QLatin1String(button.picture)));
        if (QWidget *widget = Toolbar1->widgetForAction(action)) {
            widget->setAccessibleName(button.caption);
            widget->setAccessibleDescription(button.tooltip);
        }
        ToolbarButtons.append(action);
    }
}

void Form1::createTray()
{
    TrayForm1 = new QSystemTrayIcon(this);
    TrayForm1->setObjectName(QStringLiteral("TrayForm1"));
    TrayForm1->setToolTip(QStringLiteral("Velmora"));
    stepVolumeWithWheel(TrayForm1, *m_player);
}

void Form1::connectHandlers()
{
    PlaybackHandlers *playback = m_playback.get();
    connect(m_player.get(), &Player::trackOpened, this, &Form1::noteTrackOpened);
    connect(m_player.get(), &Player::problem, this, &Form1::reportProblem);
    connect(m_player.get(), &Player::fileChoiceCleared, this, [this] { m_dialog->FileName.clear(); });

    connect(runPlay, &QAction::triggered, playback, &PlaybackHandlers::runPlay_Click);
    connect(munPause, &QAction::triggered, playback, &PlaybackHandlers::munPause_Click);

    connect(List1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (List1->selectionModel()->hasSelection())
            List1_Click();
    });
    // A click on the entry that is already selected counts as a click as well.
    connect(List1, &QListView::clicked, this, &Form1::List1_Click);

    connect(munShow, &QAction::triggered, this, &Form1::munShow_Click);
    connect(munAbout, &QAction::triggered, this, &Form1::munAbout_Click);
    connect(munExit, &QAction::triggered, this, &Form1::munExit_Click);
    connect(runAdd, &QAction::triggered, this, &Form1::runAdd_Click);
    connect(runDel, &QAction::triggered, this, &Form1::runDel_Click);
    connect(munSave, &QAction::triggered, this, &Form1::munSave_Click);
    connect(munOpenList, &QAction::triggered, this, &Form1::munOpenList_Click);
    connect(munSaveAs, &QAction::triggered, this, &Form1::munSaveAs_Click);
    connect(Toolbar1, &QToolBar::actionTriggered, this, [this](QAction *action) {
        Toolbar1_ButtonClick(static_cast<int>(ToolbarButtons.indexOf(action)) + 1);
    });
    connect(TrayForm1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            ShowForm();
    });
}

void Form1::start(bool startAutomaticList)
{
    m_startAutomaticList = startAutomaticList;
    Form_Load();
    show();
}

void Form1::Form_Load()
{
    vars().RePlay = true;
    TrayForm1->setContextMenu(munTray);
    TrayForm1->setIcon(windowIcon());
    TrayForm1->show();
    Slider1->setEnabled(false);
    munPause->setEnabled(false);
    runPlay->setEnabled(false);
    runDel->setEnabled(false);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    QFont listFont = List1->font();
    listFont.setPointSize(10);
    List1->setFont(listFont);
    m_player->loadAutomaticList(automaticPlaylistPath(), m_startAutomaticList);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_Resize()
{
    const Steps steps = Steps::skippingFailures();
    const QSize client = size();
    auto setWidth = [](QWidget *widget, int width) {
        if (width < 0)
            throw StepFailed("negative width");
        widget->resize(width, widget->height());
    };
    steps([&] { setWidth(Slider1, client.width()); });
    steps([&] { setWidth(List1, client.width()); });
    steps([&] {
        const int height = client.height() - StatusBar1->height() - List1->y();
        if (height < 0)
            throw StepFailed("negative height");
        List1->resize(List1->width(), height);
    });
}

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized())
        return;
    // Only hide when the tray icon is really there to bring the window back.
    if (QSystemTrayIcon::isSystemTrayAvailable() && TrayForm1->isVisible())
        QTimer::singleShot(0, this, &QWidget::hide);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == List1->viewport() && event->type() == QEvent::MouseButtonPress) {
        const int button = buttonCode(static_cast<QMouseEvent *>(event)->button());
        List1_MouseDown(button);
        // A right-button press only opens the menu; it never changes the selection.
        return button == 2;
    }
    // Anywhere in the list, not only on an entry: below the last entry or in an empty
    // list the double-click plays entry 0 or the current track again.
    if (watched == List1->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        m_playback->List1_DblClick();
    if (watched == Slider1 && event->type() == QEvent::MouseButtonPress)
        m_playback->setSliderHeld(true);
    if (watched == Slider1 && event->type() == QEvent::MouseButtonRelease) {
        if (Slider1->isEnabled()) {
            // Let the slider take the click first, then seek to where it now stands;
            // position reports queued meanwhile must not move it back before that.
            QTimer::singleShot(0, m_playback.get(), [playback = m_playback.get()] {
                playback->Slider1_Click();
                playback->setSliderHeld(false);
            });
        } else {
            m_playback->setSliderHeld(false);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::List1_Click()
{
    runPlay->setEnabled(true);
    runDel->setEnabled(true);
}

void Form1::List1_MouseDown(int button)
{
    if (button == 2) {
        // Until the menu closes; what the user chooses in it then runs at once.
        auto waiting = std::make_optional<Player::UserWait>(*m_player);
        const QMetaObject::Connection closing
            = connect(munReplay, &QMenu::aboutToHide, this, [&waiting] { waiting.reset(); });
        munReplay->exec(QCursor::pos());
        disconnect(closing);
    }
    runPlay->setEnabled(false);
    runDel->setEnabled(false);
}

void Form1::ShowForm()
{
    // Shown before it is restored: restoring a hidden minimised window maps it at once,
    // before the stay-on-top state is set again, and a window manager then takes it for
    // an ordinary window.
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void Form1::munShow_Click()
{
    ShowForm();
}

void Form1::munExit_Click()
{
    close();
    QCoreApplication::quit();
}

void Form1::munAbout_Click()
{
    const Player::UserWait waiting(*m_player);
    frmAbout about(this);
    about.exec();
}

QString Form1::chooseFile(const QString &filter, bool saving)
{
    const Player::UserWait waiting(*m_player);
    m_dialog->FileName.clear();
    m_dialog->Filter = filter;
    if (saving)
        m_dialog->ShowSave();
    else
        m_dialog->ShowOpen();
    return m_dialog->FileName;
}

void Form1::munOpenList_Click()
{
    const QString chosen = chooseFile(QStringLiteral("MP3播放列表(*.m3u)|*.m3u"), false);
    if (chosen.size() <= 4 || !chosen.endsWith(QStringLiteral("m3u")))
        return;
    m_player->openList(chosen);
}

void Form1::munSave_Click()
{
    m_player->save();
}

void Form1::munSaveAs_Click()
{
    const QString chosen = chooseFile(QStringLiteral("MP3播放列表(*.m3u)|*.m3u"), true);
    if (chosen.size() > 4)
        m_player->saveAs(chosen);
}

void Form1::runAdd_Click()
{
    const QString chosen = chooseFile(QStringLiteral("*.mp3|*.mp3"), false);
    if (chosen.size() <= 4)
        return;
    m_player->add(chosen);
}

void Form1::runDel_Click()
{
    if (m_player->selectedRow() < 0)
        return;
    runDel->setEnabled(false);
    m_player->removeSelected();
}

// A report takes panel 1's place for a while (a status-bar message would hide every
// panel); the time and frame panels stay in view and keep counting.
void Form1::reportProblem(const QString &text)
{
    m_lastProblem = text;
    if (!StatusReport) {
        // Made on first use: a window that never reports shows no trace of it.
        StatusReport = makePanel(QString(), kSongPanelWidth, StatusBar1);
        StatusReport->setObjectName(QStringLiteral("StatusReport"));
        StatusBar1->insertWidget(1, StatusReport, 1);
    }
    StatusReport->setText(shortenedForDisplay(text));
    StatusReport->setAccessibleDescription(text);
    StatusPanel1->hide();
    StatusReport->show();
    m_reportTimer->start();
    emit problemReported(text);
}

void Form1::endReport()
{
    m_reportTimer->stop();
    if (StatusReport) {
        StatusReport->hide();
        StatusReport->clear();
    }
    StatusPanel1->show();
}

QString Form1::shownReport() const
{
    return StatusReport && StatusReport->isVisibleTo(StatusBar1) ? StatusReport->text() : QString();
}

void Form1::noteTrackOpened(const QString &path, const QString &reason)
{
    const QString failedPrefix = QStringLiteral("无法播放 %1：").arg(path);
    if (reason.isEmpty()) {
        // Only a report about this very track is now wrong; any other stands its time.
        if (m_lastProblem.startsWith(failedPrefix)) {
            endReport();
            m_lastProblem.clear();
        }
        return;
    }
    reportProblem(failedPrefix + reason);
}

} // namespace velmora

#include "moc_form1.cpp"
