#include "mp3play.h"

#include "audiosink.h"
#include "id3tags.h"
#include "mp3decoder.h"
#include "posixfile.h"

#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

namespace {

enum OpenStatus : qint16 {
    OpenOk = 0,
    OpenMissing = 1,
    OpenUnreadable = 2,
    OpenNotRegular = 3,
    OpenEmpty = 4,
    OpenNotMp3 = 5,
};

constexpr auto kPositionInterval = std::chrono::milliseconds(100);
// An output left idle this long is closed: nothing wakes up while paused or stopped,
// yet the next track of a continuous play finds the stream still running.
constexpr auto kIdleRelease = std::chrono::milliseconds(1500);
// Playing without a playable track "ends" after this long, so continuous play moves
// past a bad file without racing through the list.
constexpr int kNothingToPlayEndMs = 1000;

// Maps what has been written to the output back to MPEG frame numbers, so the
// position reported is the frame being heard rather than the one being decoded.
class Timeline
{
public:
    void restart(qint64 startFrame)
    {
        m_startFrame = startFrame;
        m_written = 0;
        m_frames.clear();
    }
    void add(qint64 frame, qint64 pcmFrames)
    {
        m_written += pcmFrames;
        m_frames.push_back({frame, m_written});
    }
    qint64 audibleFrame(qint64 pending)
    {
        const qint64 heard = m_written - pending;
        while (m_frames.size() > 1 && m_frames.front().endsAt <= heard)
            m_frames.pop_front();
        if (m_frames.empty())
            return m_startFrame;
        if (m_frames.front().endsAt > heard)
            return m_frames.front().frame;
        return m_frames.front().frame + 1;
    }

private:
    struct Entry
    {
        qint64 frame;
        qint64 endsAt; // PCM frames written once this MPEG frame was
    };
    qint64 m_startFrame = 0;
    qint64 m_written = 0;
    std::deque<Entry> m_frames;
};

qint16 problemStatus(FileProblem problem)
{
    switch (problem) {
    case FileProblem::Missing:
        return OpenMissing;
    case FileProblem::Unreadable:
        return OpenUnreadable;
    case FileProblem::NotRegular:
        return OpenNotRegular;
    case FileProblem::Empty:
        return OpenEmpty;
    case FileProblem::None:
        break;
    }
    return OpenNotMp3;
}

} // namespace

struct Mp3Play::Impl
{
    enum class Transport { Stopped, Playing, Paused };

    Impl(Mp3Play *owner, Output output) : q(owner), output(output) {}

    // Called with `mutex` held by every UI-thread operation that changes what is
    // (to be) heard: events the worker posted before no longer apply.
    void invalidateEvents() { generation.fetch_add(1); }

    void ensureWorker()
    {
        if (!worker.joinable())
            worker = std::thread([this] { run(); });
    }

    void postPosition(quint64 eventGeneration, qint64 frame);
    void postEnd(quint64 eventGeneration);
    void run();
    bool writeToOutput(std::vector<std::uint8_t> &pcm, const PcmFormat &format);
    bool finishTrack(std::unique_lock<std::mutex> &lock, quint64 runGeneration, Timeline &timeline);

    Mp3Play *const q;
    const Output output;

    // UI thread only.
    QTimer nothingToPlay;
    bool trackOpen = false;
    QString path;
    TrackTags tags;
    qint64 frameCount = 0;
    qint64 durationMs = 0;
    QString lastError;

    // Written on the UI thread (under `mutex`), read anywhere.
    std::atomic<quint64> generation{0};

    // Shared with the worker, under `mutex`. The UI thread holds it only for short
    // decoder calls; the worker never holds it while writing to the output.
    std::mutex mutex;
    std::condition_variable wake;
    Mp3Decoder decoder;
    Transport transport = Transport::Stopped;
    bool flushOutput = false;
    qint64 audibleFrame = 0;
    bool quit = false;

    // Worker thread only.
    std::unique_ptr<AudioSink> sink;
    std::thread worker;
};

void Mp3Play::Impl::postPosition(quint64 eventGeneration, qint64 frame)
{
    QMetaObject::invokeMethod(
        q,
        [this, eventGeneration, frame] {
            if (generation.load() == eventGeneration)
                emit q->PositionChanged(qint32(frame));
        },
        Qt::QueuedConnection);
}

void Mp3Play::Impl::postEnd(quint64 eventGeneration)
{
    QMetaObject::invokeMethod(
        q,
        [this, eventGeneration] {
            if (generation.load() == eventGeneration)
                emit q->PlaybackEnded();
        },
        Qt::QueuedConnection);
}

bool Mp3Play::Impl::writeToOutput(std::vector<std::uint8_t> &pcm, const PcmFormat &format)
{
    if (!sink) {
        if (output == Output::Device)
            sink = DeviceSink::open();
        if (!sink)
            sink = std::make_unique<SilentSink>();
    }
    if (sink->start(format) && sink->write(pcm.data(), pcm.size()))
        return true;
    // The device refused or went away (sound server stopped): keep time silently.
    sink = std::make_unique<SilentSink>();
    return sink->start(format) && sink->write(pcm.data(), pcm.size());
}

// Waits for the tail of the track to be heard, then reports the end. False if a UI
// operation came first.
bool Mp3Play::Impl::finishTrack(std::unique_lock<std::mutex> &lock, quint64 runGeneration, Timeline &timeline)
{
    const auto stale = [&] { return quit || generation.load() != runGeneration; };
    if (sink && wake.wait_until(lock, sink->drainedAt(), stale))
        return false;
    if (stale())
        return false;
    const qint64 last = std::clamp<qint64>(timeline.audibleFrame(0), 0, decoder.frameCount());
    postPosition(runGeneration, last);
    postEnd(runGeneration);
    transport = Transport::Stopped;
    decoder.seekFrame(0);
    audibleFrame = 0;
    return true;
}

void Mp3Play::Impl::run()
{
    std::unique_lock lock(mutex);
    quint64 runGeneration = generation.load() - 1;
    Timeline timeline;
    SteadyClock::time_point nextPosition;
    int errorRun = 0;
    std::vector<std::uint8_t> pcm;

    while (!quit) {
        if (flushOutput) {
            flushOutput = false;
            if (sink) {
                lock.unlock();
                sink->drop();
                lock.lock();
            }
            continue;
        }
        const auto hasWork = [&] { return quit || flushOutput || transport == Transport::Playing; };
        if (transport != Transport::Playing) {
            if (!sink) {
                wake.wait(lock, hasWork);
            } else if (!wake.wait_for(lock, kIdleRelease, hasWork)) {
                lock.unlock();
                sink.reset();
                lock.lock();
            }
            continue;
        }

        const quint64 currentGeneration = generation.load();
        if (currentGeneration != runGeneration) {
            runGeneration = currentGeneration;
            timeline.restart(audibleFrame);
            nextPosition = SteadyClock::now();
            errorRun = 0;
        }
        const auto stale = [&] { return quit || generation.load() != runGeneration; };

        // A paced output is waited for here, where any UI operation can interrupt.
        if (sink && sink->readyAt() > SteadyClock::now()) {
            wake.wait_until(lock, sink->readyAt(), stale);
            continue;
        }

        const Mp3Decoder::Chunk chunk = decoder.decodeFrame();
        if (chunk.kind == Mp3Decoder::Chunk::Kind::Error && ++errorRun < kMaxDecodeErrorRun)
            continue;
        if (chunk.kind != Mp3Decoder::Chunk::Kind::Audio) {
            finishTrack(lock, runGeneration, timeline);
            continue;
        }
        errorRun = 0;
        const PcmFormat format = decoder.format();
        const qint64 pcmFrames = qint64(chunk.bytes) / format.bytesPerFrame();
        if (pcmFrames == 0) {
            timeline.add(chunk.frame, 0); // all encoder delay, trimmed away
            continue;
        }
        pcm.assign(chunk.data, chunk.data + chunk.bytes);

        lock.unlock();
        const bool written = writeToOutput(pcm, format);
        lock.lock();
        if (stale())
            continue; // the top of the loop flushes what was just written
        if (!written) {
            finishTrack(lock, runGeneration, timeline);
            continue;
        }
        timeline.add(chunk.frame, pcmFrames);
        const auto now = SteadyClock::now();
        audibleFrame = std::clamp<qint64>(timeline.audibleFrame(sink->pendingFrames(now)), 0, decoder.frameCount());
        if (now >= nextPosition) {
            postPosition(runGeneration, audibleFrame);
            // Keeps an even ten per second; after a stall, starts counting afresh.
            nextPosition = std::max(nextPosition + kPositionInterval, now + kPositionInterval / 2);
        }
    }

    lock.unlock();
    sink.reset(); // drops what is buffered: no sound after the engine is gone
}

Mp3Play::Mp3Play(Output output, QObject *parent) : Mp3Engine(parent), d(std::make_unique<Impl>(this, output))
{
    if (output == Output::Device && qEnvironmentVariableIsEmpty("PULSE_LATENCY_MSEC")) {
        // libout123's PulseAudio module asks for no particular buffering, and libpulse
        // then buffers anywhere up to a quarter second on top of the sink's latency; the
        // environment is the one place libpulse takes a wish from. Set before the worker,
        // where libpulse runs and reads it, exists.
        qputenv("PULSE_LATENCY_MSEC", QByteArray::number(kPulseLatencyMs));
    }
    d->nothingToPlay.setSingleShot(true);
    d->nothingToPlay.setInterval(kNothingToPlayEndMs);
    connect(&d->nothingToPlay, &QTimer::timeout, this, &Mp3Engine::PlaybackEnded);
}

Mp3Play::~Mp3Play()
{
    if (d->worker.joinable()) {
        {
            std::lock_guard lock(d->mutex);
            d->quit = true;
        }
        d->wake.notify_all();
        d->worker.join();
    }
}

void Mp3Play::Stop()
{
    d->nothingToPlay.stop();
    {
        std::lock_guard lock(d->mutex);
        if (d->transport == Impl::Transport::Playing)
            d->flushOutput = true;
        d->transport = Impl::Transport::Stopped;
        d->decoder.seekFrame(0);
        d->audibleFrame = 0;
        d->invalidateEvents();
    }
    d->wake.notify_all();
}

qint16 Mp3Play::OpenFile(const QString &path, const QString &options)
{
    Q_UNUSED(options);
    d->nothingToPlay.stop();
    {
        std::lock_guard lock(d->mutex);
        // Resuming: the window reopens the paused track before playing it again.
        if (d->trackOpen && d->transport == Impl::Transport::Paused && path == d->path) {
            d->lastError.clear();
            return OpenOk;
        }
        if (d->transport == Impl::Transport::Playing)
            d->flushOutput = true;
        d->transport = Impl::Transport::Stopped;
        d->decoder.close();
        d->audibleFrame = 0;
        d->invalidateEvents();
    }
    d->wake.notify_all();
    d->trackOpen = false;
    d->path.clear();
    d->tags = {};
    d->frameCount = 0;
    d->durationMs = 0;

    OpenedFile file = openRegularFile(path);
    if (file.problem != FileProblem::None) {
        d->lastError = fileProblemText(file.problem);
        return problemStatus(file.problem);
    }
    const TrackTags tags = readTags(file.fd.get(), file.size);
    {
        std::lock_guard lock(d->mutex);
        if (!d->decoder.open(std::move(file.fd))) {
            d->lastError = fileProblemText(FileProblem::None);
            return OpenNotMp3;
        }
        d->frameCount = d->decoder.frameCount();
        d->durationMs = d->decoder.durationMs();
    }
    d->trackOpen = true;
    d->path = path;
    d->tags = tags;
    d->lastError.clear();
    return OpenOk;
}

void Mp3Play::Play()
{
    if (!d->trackOpen) {
        if (!d->nothingToPlay.isActive())
            d->nothingToPlay.start();
        return;
    }
    {
        std::lock_guard lock(d->mutex);
        if (d->transport == Impl::Transport::Playing)
            return;
        d->transport = Impl::Transport::Playing;
        d->audibleFrame = d->decoder.tellFrame();
        d->invalidateEvents();
    }
    d->ensureWorker();
    d->wake.notify_all();
}

void Mp3Play::Pause()
{
    d->nothingToPlay.stop();
    {
        std::lock_guard lock(d->mutex);
        if (d->transport != Impl::Transport::Playing)
            return;
        // Resume where the listener is, not where the decoder had got to.
        d->decoder.seekFrame(d->audibleFrame);
        d->transport = Impl::Transport::Paused;
        d->flushOutput = true;
        d->invalidateEvents();
    }
    d->wake.notify_all();
}

void Mp3Play::SeekFrame(qint32 frame)
{
    if (!d->trackOpen)
        return;
    {
        std::lock_guard lock(d->mutex);
        const qint64 target = std::clamp<qint64>(frame, 0, d->frameCount);
        d->decoder.seekFrame(target);
        d->audibleFrame = target;
        if (d->transport == Impl::Transport::Playing)
            d->flushOutput = true;
        d->invalidateEvents();
    }
    d->wake.notify_all();
}

qint32 Mp3Play::GetFrameCount()
{
    return qint32(std::min<qint64>(d->frameCount, std::numeric_limits<qint32>::max()));
}

qint32 Mp3Play::GetDuration()
{
    return qint32(std::min<qint64>(d->durationMs, std::numeric_limits<qint32>::max()));
}

QString Mp3Play::GetTitle()
{
    return d->tags.title;
}

QString Mp3Play::GetArtist()
{
    return d->tags.artist;
}

QString Mp3Play::GetAlbum()
{
    return d->tags.album;
}

QString Mp3Play::GetLastError()
{
    return d->lastError;
}

} // namespace velmora
