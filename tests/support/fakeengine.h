#pragma once

#include "mp3engine.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <stdexcept>
#include <utility>

namespace velmora::test {

// A scripted engine that records every call, in order, as text.
class FakeEngine final : public Mp3Engine
{
    Q_OBJECT
public:
    struct Track
    {
        qint32 frames = 0;
        qint32 durationMs = 0;
        QString title, artist, album;
        qint16 openStatus = 0;
    };

    QStringList calls;
    QHash<QString, Track> tracks; // by path; unknown paths open with defaultTrack
    Track defaultTrack{9000, 235000, QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Best"), 0};
    QString openPath;
    QString failingCall; // a call of this name throws, as a failing component would
    // Runs inside the next OpenFile, as events do while a real engine reads the file.
    std::function<void()> duringOpen;

    void Stop() override { record(QStringLiteral("Stop")); }
    qint16 OpenFile(const QString &path, const QString &options) override
    {
        record(QStringLiteral("OpenFile(%1,%2)").arg(path, options));
        openPath = path;
        if (const std::function<void()> events = std::exchange(duringOpen, {}))
            events();
        return current().openStatus;
    }
    void Play() override { record(QStringLiteral("Play")); }
    void Pause() override { record(QStringLiteral("Pause")); }
    void SeekFrame(qint32 frame) override { record(QStringLiteral("SeekFrame(%1)").arg(frame)); }
    qint32 GetFrameCount() override { record(QStringLiteral("GetFrameCount")); return current().frames; }
    qint32 GetDuration() override { record(QStringLiteral("GetDuration")); return current().durationMs; }
    QString GetTitle() override { record(QStringLiteral("GetTitle")); return current().title; }
    QString GetArtist() override { record(QStringLiteral("GetArtist")); return current().artist; }
    QString GetAlbum() override { record(QStringLiteral("GetAlbum")); return current().album; }
    QString GetLastError() override { return current().openStatus ? QStringLiteral("文件不存在") : QString(); }
    // Kept apart from `calls`: a hint, not a command.
    void SetNextTrack(const QString &path) override { nextTracks << path; }
    QStringList nextTracks;
    void SetVolume(double volume) override { volumes << volume; }
    QList<double> volumes;

    // Only the calls that change playback, without the getters.
    QStringList commands() const
    {
        QStringList result;
        for (const QString &call : calls) {
            if (!call.startsWith(QLatin1String("Get")))
                result << call;
        }
        return result;
    }
    void endTrack() { emit PlaybackEnded(); }
    void reportPosition(qint32 frame) { emit PositionChanged(frame); }

private:
    const Track &current() const
    {
        auto it = tracks.constFind(openPath);
        return it == tracks.constEnd() ? defaultTrack : *it;
    }
    void record(const QString &call)
    {
        calls << call;
        if (!failingCall.isEmpty() && call.startsWith(failingCall))
            throw std::runtime_error("engine call failed");
    }
};

} // namespace velmora::test
