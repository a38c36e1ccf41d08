// The player layer's commands, carried out by the window's own handlers.
#include "commandline.h"
#include "form1.h"

#include <QAbstractItemModel>
#include <QListWidget>

namespace velmora {

void Form1::connectPlayer()
{
    PlayerActions actions;
    actions.play = [this] { toolbarPlay(Steps::skippingFailures()); };
    actions.pause = [this] { m_playback->pauseTrack(); };
    actions.resume = [this] { m_playback->resumeTrack(); };
    actions.stop = [this] { toolbarStop(Steps::skippingFailures()); };
    actions.skip = [this](int step) { m_playback->skipEntries(step); };
    actions.seekFrame = [this](qint32 frame) { m_playback->seekToFrame(frame); };
    // As from the command line: any letter case, and a file that cannot be opened is reported.
    actions.open = [this](const QString &path) { openFromOutside(*this, {path}); };
    actions.entryCount = [this] { return List1->count(); };
    m_player->setActions(std::move(actions));

    QAbstractItemModel *entries = List1->model();
    const auto changed = [player = m_player.get()] { emit player->entriesChanged(); };
    connect(entries, &QAbstractItemModel::rowsInserted, m_player.get(), changed);
    connect(entries, &QAbstractItemModel::rowsRemoved, m_player.get(), changed);
    connect(entries, &QAbstractItemModel::modelReset, m_player.get(), changed);
    // Stop, play and the toolbar's commands change what the end of a track starts.
    connect(m_player.get(), &Player::transportChanged, m_playback.get(), &PlaybackHandlers::nextTrackMayHaveChanged);
}

} // namespace velmora
