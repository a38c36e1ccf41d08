// The toolbar's five commands. Every step runs on its own: a step that fails is
// abandoned without a word and the next one runs.
#include "form1.h"

namespace velmora {

namespace {
enum ToolbarButton { Open = 1, Save = 2, Play = 3, Pause = 4, Stop = 5 };
}

void Form1::Toolbar1_ButtonClick(int index)
{
    switch (index) {
    case Open: {
        QString chosen;
        Steps::skippingFailures()([&] {
            chosen = chooseFile(QStringLiteral("MP3音乐文件,MP3播放列表(*.mp3,*.m3u)|*.mp3;*.m3u"), false);
        });
        m_player->toolbarOpen(chosen);
        break;
    }
    case Save: m_player->toolbarSave(); break;
    case Play: m_player->toolbarPlay(); break;
    case Pause: m_player->toolbarPause(); break;
    case Stop: m_player->toolbarStop(); break;
    default: break;
    }
}

} // namespace velmora
