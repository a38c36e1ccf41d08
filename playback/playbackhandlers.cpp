#include "playbackhandlers.h"

#include "entry.h"
#include "filedialog.h"
#include "mp3engine.h"
#include "nextentry.h"
#include "playlistedit.h"
#include "progresstext.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QSlider>

#include <algorithm>

namespace velmora {

namespace {
const QString kPauseCaption = QStringLiteral("暂停播放");
const QString kResumeCaption = QStringLiteral("继续播放");

// Shorter paths are taken for "nothing to play".
bool playablePath(const QString &path) { return path.size() > 4; }

// Width of the widest text of the same shape as `text`: any digit may become the widest one.
int widestTextWidth(const QFontMetrics &metrics, QString text)
{
    QChar widestDigit = QLatin1Char('0');
    for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
        if (metrics.horizontalAdvance(QChar(digit)) > metrics.horizontalAdvance(widestDigit))
            widestDigit = QChar(digit);
    }
    for (QChar &c : text) {
        if (c.isDigit())
            c = widestDigit;
    }
    return metrics.horizontalAdvance(text);
}

// Fixes a panel's width to hold longestText, and never less than its design width.
void holdPanelWidth(QLabel *panel, int designWidth, const QString &longestText)
{
    // The label's own frame, margins and indent, as its size hint counts them.
    const QFontMetrics metrics = panel->fontMetrics();
    const QMargins margins = panel->contentsMargins();
    const int around = 2 * panel->frameWidth() + margins.left() + margins.right() + 2 * panel->margin()
        + (panel->indent() >= 0 ? panel->indent() : metrics.horizontalAdvance(QLatin1Char('x')));
    const int width = std::max(designWidth, widestTextWidth(metrics, longestText) + around);
    // Fixed in both directions, a label's new text no longer asks the status bar for a
    // new layout, which repaints the whole bar. The bar's height is fixed: a panel in
    // view keeps the height it has.
    if (panel->isVisible())
        panel->setFixedSize(width, panel->height());
    else
        panel->setFixedWidth(width);
}
} // namespace

QString trackCaption(const QString &path)
{
    QString caption = QStringLiteral("Velmora--") + path;
    caption.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return caption;
}

PlaybackHandlers::PlaybackHandlers(PlayerVars &vars, const PlayerControls &controls, QObject *parent)
    : QObject(parent), m_vars(vars), m_ui(controls),
      m_timePanelWidth(controls.timePanel->minimumWidth()), m_framePanelWidth(controls.framePanel->minimumWidth())
{
    m_nextTrackHint.setSingleShot(true);
    m_nextTrackHint.setInterval(0);
    connect(&m_nextTrackHint, &QTimer::timeout, this, &PlaybackHandlers::tellNextTrack);
    const QAbstractItemModel *entries = m_ui.List1->model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, &PlaybackHandlers::nextTrackMayHaveChanged);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, &PlaybackHandlers::nextTrackMayHaveChanged);
    connect(entries, &QAbstractItemModel::rowsMoved, this, &PlaybackHandlers::nextTrackMayHaveChanged);
    connect(entries, &QAbstractItemModel::dataChanged, this, &PlaybackHandlers::nextTrackMayHaveChanged);
    connect(entries, &QAbstractItemModel::modelReset, this, &PlaybackHandlers::nextTrackMayHaveChanged);
}

// The track the end of this one starts, by the rule Mp3Play1_PlaybackEnded follows,
// as the list stands now; none when the end starts nothing.
void PlaybackHandlers::tellNextTrack()
{
    QString next;
    if (m_vars.RePlay) {
        next = m_vars.MP3File;
        const EndOfTrackStep step = stepAtEndOfTrack(m_vars.RoundPlay, m_ui.List1->count());
        const QListWidgetItem *item = step.takesEntry ? m_ui.List1->item(step.roundPlay) : nullptr;
        if (item) {
            if (const auto path = EntryPathOf(item->text()))
                next = *path;
        }
    }
    m_ui.Mp3Play1->SetNextTrack(next);
}

void PlaybackHandlers::showCaption()
{
    m_ui.window->setWindowTitle(trackCaption(m_vars.MP3File));
}

void PlaybackHandlers::showSongPanel()
{
    const QString title = m_ui.Mp3Play1->GetTitle();
    const QString artist = m_ui.Mp3Play1->GetArtist();
    const QString album = m_ui.Mp3Play1->GetAlbum();
    m_ui.songPanel->setText(QStringLiteral("当前歌曲:") + title + QStringLiteral("--") + artist
                            + QStringLiteral("(专辑：") + album + QStringLiteral(")"));
}

void PlaybackHandlers::ShowNowPlaying()
{
    showCaption();
    showSongPanel();
}

void PlaybackHandlers::showFrameCount()
{
    m_ui.Slider1->setMaximum(m_ui.Mp3Play1->GetFrameCount());
}

qint16 PlaybackHandlers::openCurrentTrack()
{
    const qint16 status = m_ui.Mp3Play1->OpenFile(m_vars.MP3File, QString());
    m_failedOpensInARow = status == 0 ? 0 : m_failedOpensInARow + 1;
    emit trackOpened(m_vars.MP3File, status == 0 ? QString() : m_ui.Mp3Play1->GetLastError());
    return status;
}

void PlaybackHandlers::selectEntry(int row)
{
    m_ui.List1->setCurrentRow(row);
}

void PlaybackHandlers::StartLoadedList(qint32 listPosition, const Steps &steps)
{
    if (m_ui.List1->count() <= 1)
        return;
    steps([&] {
        if (const auto path = EntryPath(listEntryText(m_ui.List1, 0)))
            m_vars.MP3File = *path;
    });
    steps([&] { selectEntry(0); });
    if (!playablePath(m_vars.MP3File))
        return;
    steps([&] { m_ui.Mp3Play1->Stop(); });
    m_vars.RePlay = true;
    m_failedOpensInARow = 0;
    steps([&] { openCurrentTrack(); });
    steps([&] { showCaption(); });
    steps([&] { showSongPanel(); });
    steps([&] {
        showFrameCount();
        m_ui.Slider1->setPageStep(static_cast<int>(roundHalfEven(m_ui.Slider1->maximum() / 50.0)));
    });
    steps([&] { m_ui.CommonDialog1->FileName.clear(); });
    steps([&] {
        const QString title = m_ui.Mp3Play1->GetTitle();
        const QString artist = m_ui.Mp3Play1->GetArtist();
        m_ui.List1->addItem(fileFormEntry(title + QStringLiteral("--") + artist, m_vars.MP3File));
    });
    steps([&] { m_ui.Mp3Play1->Play(); });
    steps([&] { m_ui.munPause->setEnabled(true); });
    steps([&] { m_ui.Slider1->setEnabled(true); });
    m_vars.RoundPlay = listPosition;
    nextTrackMayHaveChanged();
}

void PlaybackHandlers::startSelectedEntry(bool firstSelectedWins)
{
    m_ui.Mp3Play1->Stop();
    int chosen = 0;
    for (int i = 0; i < m_ui.List1->count(); ++i) {
        if (m_ui.List1->item(i)->isSelected()) {
            chosen = i;
            m_vars.RoundPlay = 100;
            if (firstSelectedWins)
                break;
        }
    }
    if (const auto path = EntryPath(listEntryText(m_ui.List1, chosen)))
        m_vars.MP3File = *path;
    if (!playablePath(m_vars.MP3File))
        return;
    m_vars.RePlay = true;
    m_failedOpensInARow = 0;
    playCurrentTrack();
}

void PlaybackHandlers::playCurrentTrack()
{
    openCurrentTrack();
    m_ui.Mp3Play1->Play();
    ShowNowPlaying();
    showFrameCount();
    m_ui.Slider1->setEnabled(true);
    m_ui.runPlay->setEnabled(false);
    m_ui.munPause->setEnabled(true);
    nextTrackMayHaveChanged();
}

void PlaybackHandlers::runPlay_Click()
{
    startSelectedEntry(false);
}

void PlaybackHandlers::List1_DblClick()
{
    startSelectedEntry(true);
}

void PlaybackHandlers::munPause_Click()
{
    if (m_ui.munPause->text() == kPauseCaption)
        pauseTrack();
    else
        resumeTrack();
}

void PlaybackHandlers::pauseTrack()
{
    m_ui.Mp3Play1->Pause();
    m_ui.munPause->setText(kResumeCaption);
}

void PlaybackHandlers::resumeTrack()
{
    if (!playablePath(m_vars.MP3File))
        return;
    m_failedOpensInARow = 0;
    openCurrentTrack();
    m_ui.Mp3Play1->Play();
    m_ui.munPause->setText(kPauseCaption);
    nextTrackMayHaveChanged();
}

void PlaybackHandlers::Mp3Play1_PositionChanged(qint32 frame)
{
    // Reports come five times a second, more often than a click takes.
    if (!m_sliderHeld)
        m_ui.Slider1->setValue(frame);
    const qint64 value = m_ui.Slider1->value();
    const qint64 maximum = m_ui.Slider1->maximum();
    // The panels take the width of the longest text of the track once, at its first
    // report, so that a report repaints their texts and moves nothing in the status bar.
    const qint64 frameCount = m_ui.Mp3Play1->GetFrameCount();
    if (frameCount != m_fittedFrameCount) {
        m_fittedFrameCount = frameCount;
        holdPanelWidth(m_ui.framePanel, m_framePanelWidth, framePanelText(frameCount, frameCount, frameCount));
    }
    m_ui.framePanel->setText(framePanelText(value, maximum, frameCount));
    const qint64 duration = m_ui.Mp3Play1->GetDuration();
    if (duration != m_fittedDuration) {
        m_fittedDuration = duration;
        holdPanelWidth(m_ui.timePanel, m_timePanelWidth, timePanelText(1, 1, duration));
    }
    m_ui.timePanel->setText(timePanelText(value, maximum, duration)); // the same text repaints nothing
}

void PlaybackHandlers::Slider1_Click()
{
    m_ui.Mp3Play1->SeekFrame(m_ui.Slider1->value());
}

void PlaybackHandlers::seekToFrame(qint32 frame)
{
    m_ui.Slider1->setValue(frame);
    Slider1_Click();
}

void PlaybackHandlers::skipEntries(int step)
{
    const int target = skipTarget(firstSelectedRow(m_ui.List1), m_ui.List1->count(), step);
    if (target < 0)
        return;
    // The end of a track moves on from RoundPlay to the entry after it.
    m_vars.RoundPlay = target - 1;
    Mp3Play1_PlaybackEnded();
}

void PlaybackHandlers::Mp3Play1_PlaybackEnded()
{
    const EndOfTrackStep step = stepAtEndOfTrack(m_vars.RoundPlay, m_ui.List1->count());
    m_vars.RoundPlay = step.roundPlay;
    if (step.takesEntry) {
        if (const auto path = EntryPath(listEntryText(m_ui.List1, m_vars.RoundPlay))) {
            m_vars.MP3File = *path;
            selectEntry(m_vars.RoundPlay);
        }
    }
    if (!m_vars.RePlay)
        return;
    m_ui.Mp3Play1->Stop();
    // Every entry has been tried once that many opens failed: a round may also replay a
    // chosen track and, at the end of the list, the last one.
    if (m_failedOpensInARow >= qint64(m_ui.List1->count()) + 2) {
        emit nothingPlayable();
        return;
    }
    playCurrentTrack();
    m_ui.List1->update();
}

} // namespace velmora

#include "moc_playbackhandlers.cpp"
