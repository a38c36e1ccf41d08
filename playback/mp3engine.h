#pragma once

#include <QObject>
#include <QString>

namespace velmora {

// What the window needs of an MP3 player component. The real one is Mp3Play;
// tests drive the handlers with a scripted fake.
//
// Events are delivered on the thread that owns the engine (the UI thread), and an
// event that belongs to a track that has since been stopped, paused, re-opened,
// replaced or sought is never delivered.
class Mp3Engine : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Mp3Engine() override = default;

    virtual void Stop() = 0;
    // 0 on success; non-zero when the file is missing, unreadable or not MP3.
    virtual qint16 OpenFile(const QString &path, const QString &options) = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void SeekFrame(qint32 frame) = 0;
    virtual qint32 GetFrameCount() = 0;
    virtual qint32 GetDuration() = 0;
    virtual QString GetTitle() = 0;
    virtual QString GetArtist() = 0;
    virtual QString GetAlbum() = 0;

    // Why the last OpenFile failed, in words for the user; empty after a success.
    virtual QString GetLastError() = 0;

    // The track that the end of the open one will start, as far as the window can tell
    // now (empty: none). The engine may read it ahead and play it on behind the open
    // track's last sample; PlaybackEnded still comes when that sample is heard, and the
    // window's Stop, OpenFile of that path and Play then carry on without a break. Any
    // other command drops what was read ahead.
    virtual void SetNextTrack(const QString &path) = 0;

    // Scales what is heard by `volume` (0.0 silent to 1.0 as decoded, linear), from the
    // sound still to come out of the output's buffer on, for this track and the ones after.
    virtual void SetVolume(double volume) = 0;

signals:
    void PositionChanged(qint32 frame);
    void PlaybackEnded();
    // Sound cannot reach a device ("没有声音输出：..."): playback goes on silently, with
    // positions and ends as usual, and sound comes back by itself once a device does.
    void NoSoundOutput(const QString &message);
};

} // namespace velmora
