#pragma once

#include "posixfile.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <sys/types.h>

struct mpg123_handle_struct;

namespace velmora {

struct PcmFormat
{
    long rate = 0;
    int channels = 0;
    int encoding = 0; // an MPG123_ENC_* value

    bool isValid() const { return rate > 0 && channels > 0 && encoding != 0; }
    int bytesPerFrame() const; // one PCM frame: a sample for every channel
    bool operator==(const PcmFormat &) const = default;
};

// One MPEG stream opened with libmpg123: output locked to signed 16 bit at the
// stream's own rate and channel count, frame index complete (scanned), gapless.
// Not thread-safe; the engine serialises calls.
class Mp3Decoder
{
public:
    Mp3Decoder();
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder &) = delete;
    Mp3Decoder &operator=(const Mp3Decoder &) = delete;

    // False when no MPEG audio frame is found. The decoder owns `fd` from then on.
    bool open(UniqueFd fd);
    void close();
    bool isOpen() const { return m_open; }

    PcmFormat format() const { return m_format; }
    qint64 frameCount() const { return m_frames; }
    qint64 durationMs() const;
    qint64 tellFrame() const;
    // Clamped to [0, frameCount()]; at frameCount() the next decode reports the end.
    void seekFrame(qint64 frame);

    struct Chunk
    {
        enum class Kind { Audio, End, Error } kind = Kind::End;
        qint64 frame = 0;                   // index of the MPEG frame decoded
        const std::uint8_t *data = nullptr; // valid until the next call on this decoder
        std::size_t bytes = 0;
    };
    // Decodes the next MPEG frame.
    Chunk decodeFrame();
    // Scales the frames decoded from now on (0.0 to 1.0, linear); kept until close().
    void setVolume(double volume);

private:
    bool createHandle();
    bool finishOpen();

    struct HandleDeleter
    {
        void operator()(mpg123_handle_struct *handle) const;
    };
    std::unique_ptr<mpg123_handle_struct, HandleDeleter> m_handle;
    UniqueFd m_fd;
    // libmpg123's own descriptor reader looks for a frame start one read() per byte,
    // which makes a stretch of junk cost a system call per byte; this one reads ahead.
    struct FdStream
    {
        int fd = -1;
        qint64 size = 0;
        qint64 pos = 0;
        qint64 bufferStart = 0;
        std::vector<std::uint8_t> buffer;
    } m_fdStream;
    bool m_open = false;
    PcmFormat m_format;
    qint64 m_frames = 0;
    qint64 m_samples = 0;
    double m_volume = 1.0; // libmpg123's own default
};

// Consecutive undecodable frames after which a track counts as ended: a damaged
// file must not keep the decoder spinning.
inline constexpr int kMaxDecodeErrorRun = 32;

} // namespace velmora
