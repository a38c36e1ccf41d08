#pragma once

#include "mp3decoder.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

struct out123_struct;

namespace velmora {

using SteadyClock = std::chrono::steady_clock;

// How much audio the output may hold. Pause, stop and seek drop it, so they are heard
// at once whatever its size; the size sets how often the audio path wakes up and how
// far the reported position can stray from what is heard.
//
// ALSA: OUT123_DEVICEBUFFER.
inline constexpr double kAlsaBufferSeconds = 0.1;
// PulseAudio (or PipeWire's PulseAudio server): libout123's module ignores
// OUT123_DEVICEBUFFER and leaves the choice to libpulse, which takes PULSE_LATENCY_MSEC.
// Measured with PulseAudio 16 (null sink, nothing recording it), 150 / 500 / 1000 ms:
// player 1.2–3.1 / 0.65–1.15 / 0.4–0.45 % of a core, sound server 1.1–2.9 / 0.3–0.55 /
// 0.15 % (mpg123's command line: 0.4–1.0 and 0.45–1.5 %); pause and seek heard within
// 40 ms alike. Beyond 500 ms the saving is small and the position strays further.
inline constexpr int kPulseLatencyMs = 500;
// What PulseAudio holds of the latency asked for, on average: its stream buffer about
// half, the sink's share rising and falling as it renders (0.56–0.93 of it measured).
inline constexpr double kPulseQueuedShare = 0.75;

// Estimates how much of the audio written is still waiting to be heard, from what was
// written when and the sample rate. Neither libout123 nor the silent output can be
// asked, and an estimate is all position display and end-of-track timing need.
class PlayoutEstimate
{
public:
    // `capacity`: PCM frames the output holds at most; a blocking output is full
    // whenever a write returns after waiting.
    void reset(long rate, qint64 capacity, bool blockingOutput);
    void clear(); // the output was emptied
    void wrote(qint64 frames, SteadyClock::time_point now);
    qint64 pending(SteadyClock::time_point now) const;
    // When all but the last `framesFromEnd` frames written will have been heard.
    SteadyClock::time_point drainedAt(qint64 framesFromEnd = 0) const;
    // When the buffer has room again (for an output that does not block by itself).
    SteadyClock::time_point roomAt() const;

private:
    SteadyClock::duration framesToDuration(double frames) const;

    long m_rate = 0;
    qint64 m_capacity = 0;
    bool m_blocking = true;
    double m_pendingAtMark = 0;
    SteadyClock::time_point m_mark{};
};

// Where decoded audio goes. Used by the engine's worker thread only.
class AudioSink
{
public:
    virtual ~AudioSink() = default;

    // Gets ready for audio in `format`; a running stream of the same format is kept,
    // so consecutive tracks play without a gap. False if the output cannot do it.
    virtual bool start(const PcmFormat &format) = 0;
    // Plays interleaved PCM; a device blocks while its buffer is full. False on failure.
    virtual bool write(std::uint8_t *data, std::size_t bytes) = 0;
    // Silences at once, discarding whatever is buffered.
    virtual void drop() = 0;

    // Earliest time the next write is welcome; the caller waits for it (interruptibly)
    // instead of blocking inside write().
    SteadyClock::time_point readyAt() const { return m_paced ? m_estimate.roomAt() : SteadyClock::time_point{}; }
    // PCM frames written but not yet heard.
    qint64 pendingFrames(SteadyClock::time_point now) const { return m_estimate.pending(now); }
    // When the last frame written will have been heard.
    SteadyClock::time_point drainedAt() const { return m_estimate.drainedAt(); }
    // When all but the last `framesFromEnd` PCM frames written will have been heard.
    SteadyClock::time_point heardAt(qint64 framesFromEnd) const { return m_estimate.drainedAt(framesFromEnd); }

protected:
    explicit AudioSink(bool paced) : m_paced(paced) {}
    PlayoutEstimate m_estimate;

private:
    bool m_paced;
};

// Plays nothing, at the speed of the clock: positions and track ends behave as with
// a device, on machines without sound and in tests.
class SilentSink final : public AudioSink
{
public:
    SilentSink() : AudioSink(true) {}
    bool start(const PcmFormat &format) override;
    bool write(std::uint8_t *data, std::size_t bytes) override;
    void drop() override { m_estimate.clear(); }

private:
    PcmFormat m_format;
};

// The default sound device through libout123: PulseAudio (or PipeWire's PulseAudio
// server), then ALSA.
class DeviceSink final : public AudioSink
{
public:
    // Null when no output module finds a working device.
    static std::unique_ptr<DeviceSink> open();
    ~DeviceSink() override;

    bool start(const PcmFormat &format) override;
    bool write(std::uint8_t *data, std::size_t bytes) override;
    void drop() override;

private:
    struct HandleDeleter
    {
        void operator()(::out123_struct *handle) const;
    };
    explicit DeviceSink(std::unique_ptr<::out123_struct, HandleDeleter> handle);

    std::unique_ptr<::out123_struct, HandleDeleter> m_handle;
    PcmFormat m_format;
    bool m_started = false;
    double m_bufferSeconds = kAlsaBufferSeconds;
};

} // namespace velmora
