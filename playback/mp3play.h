#pragma once

#include "mp3engine.h"

#include <memory>

namespace velmora {

// The real engine: libmpg123 decodes on a worker thread of its own, libout123 plays
// through the default device (PulseAudio/PipeWire, then ALSA). Without a usable device
// it plays to a silent output paced by the clock, so positions and ends still happen,
// says so (NoSoundOutput) and keeps trying the device.
class Mp3Play final : public Mp3Engine
{
    Q_OBJECT
public:
    enum class Output { Device, Silent };
    explicit Mp3Play(Output output = Output::Device, QObject *parent = nullptr);
    ~Mp3Play() override;

    void Stop() override;
    qint16 OpenFile(const QString &path, const QString &options) override;
    void Play() override;
    void Pause() override;
    void SeekFrame(qint32 frame) override;
    qint32 GetFrameCount() override;
    qint32 GetDuration() override;
    QString GetTitle() override;
    QString GetArtist() override;
    QString GetAlbum() override;
    QString GetLastError() override;
    void SetNextTrack(const QString &path) override;
    void SetVolume(double volume) override;

private:
    struct Impl;
    std::shared_ptr<Impl> d;
};

} // namespace velmora
