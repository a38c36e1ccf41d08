#include "mp3decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// Junk inside a file (a damaged download, a splice) is skipped up to this many bytes
// per resync. The default (1 KB) would end such a track early; unlimited would make a
// long run of garbage cost seconds. Only raised once the first frame was found, so
// files that are not MP3 at all are still rejected quickly.
constexpr long kResyncLimit = 256 * 1024;

constexpr size_t kReadAhead = 64 * 1024;

bool initLibrary()
{
    // Required by libmpg123 before 1.27, harmless after.
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

} // namespace

int PcmFormat::bytesPerFrame() const
{
    return channels * std::max(1, mpg123_encsize(encoding));
}

void Mp3Decoder::HandleDeleter::operator()(mpg123_handle_struct *handle) const
{
    mpg123_delete(handle);
}

Mp3Decoder::Mp3Decoder() = default;

Mp3Decoder::~Mp3Decoder()
{
    close();
}

void Mp3Decoder::close()
{
    // The handle goes before the descriptor it reads from.
    m_handle.reset();
    m_fd.reset();
    m_fdStream = {};
    m_open = false;
    m_format = {};
    m_frames = 0;
    m_samples = 0;
    m_volume = 1.0;
}

bool Mp3Decoder::open(UniqueFd fd)
{
    close();
    if (!initLibrary() || !fd.isValid())
        return false;
    m_fd = std::move(fd);
    struct stat st {};
    if (::fstat(m_fd.get(), &st) != 0 || !createHandle()) {
        close();
        return false;
    }
    m_fdStream = {m_fd.get(), qint64(st.st_size), 0, 0, {}};
    const auto read = [](void *stream, void *buffer, size_t count) -> mpg123_ssize_t {
        auto *file = static_cast<FdStream *>(stream);
        auto *out = static_cast<std::uint8_t *>(buffer);
        size_t done = 0;
        while (done < count) {
            qint64 offset = file->pos - file->bufferStart;
            if (offset < 0 || offset >= qint64(file->buffer.size())) {
                file->buffer.resize(kReadAhead);
                ssize_t n = 0;
                do
                    n = ::pread(file->fd, file->buffer.data(), kReadAhead, off_t(file->pos));
                while (n < 0 && errno == EINTR);
                file->buffer.resize(n > 0 ? size_t(n) : 0);
                file->bufferStart = file->pos;
                if (n <= 0) // end of file, or an error libmpg123 should see
                    return done > 0 ? mpg123_ssize_t(done) : mpg123_ssize_t(n);
                offset = 0;
            }
            const size_t take = std::min(count - done, size_t(qint64(file->buffer.size()) - offset));
            std::memcpy(out + done, file->buffer.data() + offset, take);
            done += take;
            file->pos += qint64(take);
        }
        return mpg123_ssize_t(done);
    };
    const auto seek = [](void *stream, off_t offset, int whence) -> off_t {
        auto *file = static_cast<FdStream *>(stream);
        qint64 base = 0;
        if (whence == SEEK_CUR)
            base = file->pos;
        else if (whence == SEEK_END)
            base = file->size;
        else if (whence != SEEK_SET)
            return -1;
        if (base + qint64(offset) < 0)
            return -1;
        file->pos = base + qint64(offset);
        return off_t(file->pos);
    };
    if (mpg123_replace_reader_handle(m_handle.get(), read, seek, nullptr) != MPG123_OK
        || mpg123_open_handle(m_handle.get(), &m_fdStream) != MPG123_OK) {
        close();
        return false;
    }
    return finishOpen();
}

bool Mp3Decoder::createHandle()
{
    int error = MPG123_OK;
    m_handle.reset(mpg123_new(nullptr, &error));
    if (!m_handle)
        return false;
    // Tags are read separately (id3tags.h); the decoder only steps over them. Gapless:
    // the encoder's delay and padding (LAME/Xing header) are cut, so that tracks cut
    // from one recording join up without a click or a hole.
    mpg123_param(m_handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2 | MPG123_GAPLESS, 0);
    return true;
}

bool Mp3Decoder::finishOpen()
{
    mpg123_handle *h = m_handle.get();
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0) {
        close();
        return false;
    }
    // One output format for the whole track, so the device never has to be reopened mid-way.
    mpg123_format_none(h);
    if (mpg123_format(h, rate, channels, MPG123_ENC_SIGNED_16) != MPG123_OK) {
        close();
        return false;
    }
    mpg123_param(h, MPG123_RESYNC_LIMIT, kResyncLimit, 0);
    if (mpg123_scan(h) != MPG123_OK) {
        close();
        return false;
    }
    m_frames = mpg123_framelength(h);
    m_samples = std::max<qint64>(0, mpg123_length(h));
    if (m_frames <= 0) {
        close();
        return false;
    }
    mpg123_seek_frame(h, 0, SEEK_SET);
    m_format = {rate, channels, MPG123_ENC_SIGNED_16};
    m_open = true;
    return true;
}

qint64 Mp3Decoder::durationMs() const
{
    if (!m_open || m_format.rate <= 0)
        return 0;
    return (m_samples * 1000 + m_format.rate / 2) / m_format.rate;
}

qint64 Mp3Decoder::tellFrame() const
{
    if (!m_open)
        return 0;
    return std::clamp<qint64>(mpg123_tellframe(m_handle.get()), 0, m_frames);
}

void Mp3Decoder::seekFrame(qint64 frame)
{
    if (m_open)
        mpg123_seek_frame(m_handle.get(), off_t(std::clamp<qint64>(frame, 0, m_frames)), SEEK_SET);
}

void Mp3Decoder::setVolume(double volume)
{
    // Called before every frame: only a change reaches libmpg123, which then rebuilds its
    // synthesis tables; the frames after it come out scaled, without a reopen or a gap.
    if (!m_open || volume == m_volume)
        return;
    if (mpg123_volume(m_handle.get(), volume) == MPG123_OK)
        m_volume = volume;
}

Mp3Decoder::Chunk Mp3Decoder::decodeFrame()
{
    Chunk chunk;
    if (!m_open)
        return chunk;
    // A format message comes before the frame it announces; the format itself is locked.
    for (int attempt = 0; attempt < 4; ++attempt) {
        off_t frame = 0;
        unsigned char *audio = nullptr;
        size_t bytes = 0;
        const int result = mpg123_decode_frame(m_handle.get(), &frame, &audio, &bytes);
        if (result == MPG123_NEW_FORMAT)
            continue;
        if (result == MPG123_OK) {
            chunk.kind = Chunk::Kind::Audio;
            chunk.frame = frame;
            chunk.data = audio;
            chunk.bytes = audio ? bytes : 0;
        } else {
            chunk.kind = result == MPG123_DONE ? Chunk::Kind::End : Chunk::Kind::Error;
        }
        return chunk;
    }
    chunk.kind = Chunk::Kind::Error;
    return chunk;
}

} // namespace velmora
