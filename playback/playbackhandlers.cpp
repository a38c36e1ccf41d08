#include "playbackhandlers.h"

#include "progresstext.h"

#include <QAction>
#include <QLabel>
#include <QSlider>

#include <algorithm>

namespace velmora {

namespace {
const QString kPauseCaption = QStringLiteral("暂停播放");
const QString kResumeCaption = QStringLiteral("继续播放");

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

PlaybackHandlers::PlaybackHandlers(Player &player, const PlayerControls &controls, QObject *parent)
    : QObject(parent), m_player(player), m_ui(controls),
      m_timePanelWidth(controls.timePanel->minimumWidth()), m_framePanelWidth(controls.framePanel->minimumWidth())
{
    connect(&player, &Player::positionChanged, this, &PlaybackHandlers::Mp3Play1_PositionChanged);
    connect(&player, &Player::captionShown, this,
            [this](const QString &path) { m_ui.window->setWindowTitle(trackCaption(path)); });
    connect(&player, &Player::songShown, this, &PlaybackHandlers::showSongPanel);
    connect(&player, &Player::frameCountShown, m_ui.Slider1, &QSlider::setMaximum);
    connect(&player, &Player::pageStepShown, m_ui.Slider1, &QSlider::setPageStep);
    connect(&player, &Player::sliderEnabled, m_ui.Slider1, &QWidget::setEnabled);
    connect(&player, &Player::playItemEnabled, m_ui.runPlay, &QAction::setEnabled);
    connect(&player, &Player::pauseItemEnabled, m_ui.munPause, &QAction::setEnabled);
    connect(&player, &Player::pauseItemResumes, this,
            [this](bool resumes) { m_ui.munPause->setText(resumes ? kResumeCaption : kPauseCaption); });
    // A seek from elsewhere moves the slider as a click on it would.
    connect(&player, &Player::seeked, m_ui.Slider1, &QSlider::setValue);
}

void PlaybackHandlers::showSongPanel(const QString &title, const QString &artist, const QString &album)
{
    m_ui.songPanel->setText(QStringLiteral("当前歌曲:") + title + QStringLiteral("--") + artist
                            + QStringLiteral("(专辑：") + album + QStringLiteral(")"));
}

void PlaybackHandlers::runPlay_Click()
{
    m_player.playSelected(false);
}

void PlaybackHandlers::List1_DblClick()
{
    m_player.playSelected(true);
}

void PlaybackHandlers::munPause_Click()
{
    m_player.togglePauseItem();
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
    const qint64 frameCount = m_player.engine().GetFrameCount();
    if (frameCount != m_fittedFrameCount) {
        m_fittedFrameCount = frameCount;
        holdPanelWidth(m_ui.framePanel, m_framePanelWidth, framePanelText(frameCount, frameCount, frameCount));
    }
    m_ui.framePanel->setText(framePanelText(value, maximum, frameCount));
    const qint64 duration = m_player.engine().GetDuration();
    if (duration != m_fittedDuration) {
        m_fittedDuration = duration;
        holdPanelWidth(m_ui.timePanel, m_timePanelWidth, timePanelText(1, 1, duration));
    }
    m_ui.timePanel->setText(timePanelText(value, maximum, duration)); // the same text repaints nothing
}

void PlaybackHandlers::Slider1_Click()
{
    m_player.seekFrame(m_ui.Slider1->value());
}

} // namespace velmora

#include "moc_playbackhandlers.cpp"
