#pragma once

#include "mp3decoder.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

struct out123_struct;

namespace velmora {

using SteadyClock = std::chrono::steady_clock;

// Device buffer asked of the output (libout123's OUT123_DEVICEBUFFER for ALSA,
// PULSE_LATENCY_MSEC for PulseAudio, whose module ignores the former). Small, so the
// reported position stays close to what is heard; not smaller, as every halving
// roughly doubles the wake-ups of the audio path.
inline constexpr double kDeviceBufferSeconds = 0.1;

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
    SteadyClock::time_point drainedAt() const;
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
};

} // namespace velmora
