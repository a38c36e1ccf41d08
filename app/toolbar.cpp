// The toolbar's five commands. Every step runs on its own: a step that fails is
// abandoned without a word and the next one runs.
#include "form1.h"

#include "entry.h"
#include "m3u.h"
#include "playlistlocation.h"

#include <QAction>
#include <QListWidget>
#include <QSlider>

namespace velmora {

namespace {
enum ToolbarButton { Open = 1, Save = 2, Play = 3, Pause = 4, Stop = 5 };
}

void Form1::Toolbar1_ButtonClick(int index)
{
    const Steps steps = Steps::skippingFailures();
    switch (index) {
    case Open: toolbarOpen(steps); break;
    case Save: toolbarSave(steps); break;
    case Play: toolbarPlay(steps); break;
    case Pause: toolbarPause(steps); break;
    case Stop: toolbarStop(steps); break;
    default: break;
    }
}

void Form1::toolbarOpen(const Steps &steps)
{
    QString chosen;
    steps([&] {
        m_dialog->FileName.clear();
        m_dialog->Filter = QStringLiteral("MP3音乐文件,MP3播放列表(*.mp3,*.m3u)|*.mp3;*.m3u");
        m_dialog->ShowOpen();
        chosen = m_dialog->FileName;
    });
    openChosenFile(chosen, steps);
}

// What the toolbar's open does with the file chosen: an MP3 file goes to the top of
// the list and plays, a list file replaces the list and starts it.
void Form1::openChosenFile(const QString &chosen, const Steps &steps)
{
    if (chosen.size() <= 4)
        return;
    if (chosen.endsWith(QStringLiteral("mp3"))) {
        openTracks({chosen}, steps);
        return;
    }
    if (!chosen.endsWith(QStringLiteral("m3u")))
        return;
    // A list that cannot be read leaves the current list and its file alone.
    ReadResult list;
    steps([&] { list = readPlaylistFile(chosen); });
    if (list.ok)
        openReadList(chosen, list.entries, steps);
}

void Form1::openTracks(const QStringList &paths, const Steps &steps)
{
    if (paths.isEmpty())
        return;
    for (int row = 0; row < paths.size(); ++row) {
        const QString &path = paths.at(row);
        QString displayName;
        steps([&] { displayName = TrackBaseName(fixedText(path)); });
        steps([&] { List1->insertItem(row, fileFormEntry(displayName, path)); });
    }
    steps([&] { m_playback->selectEntry(0); });
    m_vars.RoundPlay = -1;
    m_vars.MP3File = paths.first();
    steps([&] { m_engine->Stop(); });
    steps([&] { m_playback->openCurrentTrack(); });
    steps([&] { Slider1->setEnabled(true); });
    steps([&] { Slider1->setMaximum(m_engine->GetFrameCount()); });
    steps([&] { m_engine->Play(); });
}

void Form1::openReadList(const QString &path, const QStringList &entries, const Steps &steps)
{
    steps([&] { List1->clear(); });
    m_vars.FilePath = path;
    steps([&] { List1->addItems(entries); });
    m_playback->StartLoadedList(0, steps);
}

void Form1::toolbarSave(const Steps &steps)
{
    const QString path = m_vars.FilePath; // the scan may open another list
    QString text;
    steps([&] { text = playlistTextFromList(List1); });
    steps([&] {
        makeDataFolderFor(path);
        if (!writeFileAtomically(path, encodePlaylistText(text, path)).ok)
            throw StepFailed("playlist not written");
    });
}

void Form1::toolbarPlay(const Steps &steps)
{
    if (m_vars.MP3File.size() <= 4)
        return;
    m_vars.RePlay = true;
    steps([&] { m_playback->openCurrentTrack(); });
    steps([&] { setWindowTitle(trackCaption(m_vars.MP3File)); });
    steps([&] { m_engine->Play(); });
}

void Form1::toolbarPause(const Steps &steps)
{
    steps([&] { m_engine->Pause(); });
    steps([&] { Slider1->setEnabled(false); });
}

void Form1::toolbarStop(const Steps &steps)
{
    m_vars.RePlay = false;
    steps([&] { m_engine->Stop(); });
    steps([&] { Slider1->setEnabled(false); });
}

} // namespace velmora
