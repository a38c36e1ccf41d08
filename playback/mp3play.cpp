#include "mp3play.h"

#include "audiosink.h"
#include "id3tags.h"
#include "mp3decoder.h"
#include "posixfile.h"

#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
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

// Five reports a second: the time panel changes once a second and the slider's handle
// moves a pixel every few frames. A start, a seek and the end report at once.
constexpr auto kPositionInterval = std::chrono::milliseconds(200);
// An output left idle this long is closed: nothing wakes up while paused or stopped,
// yet the next track of a continuous play finds the stream still running.
constexpr auto kIdleRelease = std::chrono::milliseconds(1500);
// Playing without a playable track "ends" after this long, so continuous play moves
// past a bad file without racing through the list.
constexpr int kNothingToPlayEndMs = 1000;
// While a missing device is stood in for by the silent output, it is tried again this
// often (and at every start), so that sound comes back soon after the sound server does.
constexpr auto kDeviceRetry = std::chrono::milliseconds(500);
// A read from a disk that does not answer (a dead network share, a frozen drive) cannot
// be interrupted. When the program quits, threads still stuck in one after these waits
// are left behind, so that it ends in under a second and a half: first an open in
// progress, then the engine's own threads. A healthy disk and output answer well within.
constexpr unsigned long kOpenQuitWaitMs = 400;
constexpr auto kThreadsQuitWait = std::chrono::milliseconds(1000);

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
    case FileProblem::NoPermission:
    case FileProblem::Unreadable:
        return OpenUnreadable;
    case FileProblem::Directory:
    case FileProblem::NotRegular:
        return OpenNotRegular;
    case FileProblem::None:
        break;
    }
    return OpenNotMp3;
}

const QString kNotMp3 = QStringLiteral("不是MP3文件");

} // namespace

// A track as read from disk, before the engine takes it on. (Outside the anonymous
// namespace: the engine's state holds one.)
struct OpenedTrack
{
    qint16 status = OpenNotMp3;
    QString error;
    TrackTags tags;
    std::unique_ptr<Mp3Decoder> decoder;
};

namespace {

OpenedTrack readTrack(const QString &path)
{
    OpenedTrack track;
    OpenedFile file = openRegularFile(path);
    if (file.problem != FileProblem::None) {
        track.status = problemStatus(file.problem);
        track.error = fileProblemText(file.problem, FileRole::Track);
        return track;
    }
    if (file.size == 0) {
        track.status = OpenEmpty;
        track.error = kNotMp3;
        return track;
    }
    track.tags = readTags(file.fd.get(), file.size);
    track.decoder = std::make_unique<Mp3Decoder>();
    if (!track.decoder->open(std::move(file.fd))) {
        track.error = kNotMp3;
        track.decoder.reset();
        return track;
    }
    track.status = OpenOk;
    return track;
}

// Runs readTrack on a thread of its own. The scan for the frame count reads the whole
// file (seconds for a long track on a slow disk); meanwhile the window keeps painting
// and its timers run. Clicks and keys wait until the track is open, so that handlers
// see them in the order they would without the wait.
OpenedTrack readTrackAnswering(const QString &path)
{
    // Shared with the reader, which may outlive this call (see below).
    const auto track = std::make_shared<OpenedTrack>();
    std::unique_ptr<QThread> reader(QThread::create([track, path] { *track = readTrack(path); }));
    QEventLoop loop;
    QObject::connect(reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
    reader->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop ends early only when the program quits. A read stuck on a disk that does
    // not answer is left to end by itself then; the thread deletes itself when it does.
    if (!reader->wait(kOpenQuitWaitMs)) {
        QObject::connect(reader.get(), &QThread::finished, reader.get(), &QObject::deleteLater);
        reader.release();
        OpenedTrack unread;
        unread.status = OpenUnreadable;
        unread.error = fileProblemText(FileProblem::Unreadable, FileRole::Track);
        return unread;
    }
    return std::move(*track);
}

} // namespace

struct Mp3Play::Impl
{
    enum class Transport { Stopped, Playing, Paused };

    Impl(Mp3Play *owner, Output output) : q(owner), output(output) {}

    // Called with `mutex` held by every UI-thread operation that changes what is
    // (to be) heard: events the worker posted before no longer apply, and a next track
    // taken on just before is not the worker's to carry on with.
    void invalidateEvents()
    {
        generation.fetch_add(1);
        adoptChain = false;
    }

    // The worker shares the state it uses, so that it can be left behind (see ~Mp3Play).
    static void ensureWorker(const std::shared_ptr<Impl> &self)
    {
        if (!self->worker.joinable())
            self->worker = std::thread([self] { self->run(); });
    }
    static void ensureReader(const std::shared_ptr<Impl> &self)
    {
        if (!self->reader.joinable())
            self->reader = std::thread([self] { self->readAhead(); });
    }

    void postPosition(quint64 eventGeneration, qint64 frame);
    void postEnd(quint64 eventGeneration);
    void reportNoSound(const QString &reason);
    void run();
    void readAhead();
    bool playOnIntoNext();
    bool nextBeingRead() const { return !nextWanted.isEmpty() && nextRead != nextRequest; }
    void dropNext();
    void chooseOutput(std::unique_lock<std::mutex> &lock, bool starting, Timeline &timeline);
    bool writeToOutput(std::vector<std::uint8_t> &pcm, const PcmFormat &format);
    bool finishTrack(std::unique_lock<std::mutex> &lock, quint64 runGeneration, Timeline &timeline);

    Mp3Play *const q;
    const Output output;

    // UI thread only. The timer is the engine's child: it goes with the engine even when
    // an abandoned worker keeps the rest alive.
    QTimer *const nothingToPlay = new QTimer(q);
    bool trackOpen = false;
    QString path;
    TrackTags tags;
    qint64 frameCount = 0;
    qint64 durationMs = 0;
    QString lastError;
    qint16 lastStatus = OpenOk;
    quint64 openRequests = 0;

    // Written on the UI thread (under `mutex`), read anywhere.
    std::atomic<quint64> generation{0};
    // Written on the UI thread, read by whoever decodes: every decoder, the track read
    // ahead included, takes it on before its next frame.
    std::atomic<double> volume{1.0};

    // Shared with the worker, under `mutex`, which no thread holds while it reads a file
    // or writes to the output: a disk or a sound server that does not answer holds up
    // only the worker, never a command. Only the worker calls into the decoders (they
    // read the file, even to seek); the UI thread only hands them over. It says where
    // to play from with `audibleFrame`, which the worker seeks to at every start.
    std::mutex mutex;
    std::condition_variable wake;
    std::shared_ptr<Mp3Decoder> decoder = std::make_shared<Mp3Decoder>();
    Transport transport = Transport::Stopped;
    bool flushOutput = false;
    qint64 audibleFrame = 0;
    bool quit = false;
    bool workerDone = false;

    // The next track, read ahead and played on behind the open one. Under `mutex`.
    //   Queued:    its audio follows the open track's tail into the output;
    //   Ended:     the open track's last sample has been heard, PlaybackEnded is posted;
    //   Delivered: PlaybackEnded is being handled;
    //   Stopped, Opened: the handler has called Stop, then OpenFile of the next track.
    // Play then makes it the open track as it plays; anything else drops it (dropNext).
    enum class Chain { None, Queued, Ended, Delivered, Stopped, Opened };
    Chain chain = Chain::None;
    std::shared_ptr<Mp3Decoder> endedDecoder; // the open track's, while `decoder` plays the next
    QString chainedPath;
    TrackTags chainedTags;
    qint64 chainedFrameCount = 0;
    qint64 chainedDurationMs = 0;
    qint64 chainedFrames = 0; // PCM frames of the next track written to the output
    bool adoptChain = false;  // the worker takes the next track's timeline as its own
    QString nextWanted;       // the path the window expects next
    quint64 nextRequest = 0;  // changes whenever that track is to be read (again)
    quint64 nextRead = 0;     // the request `next` answers
    std::unique_ptr<OpenedTrack> next;
    QString nextPath;
    std::condition_variable readerWake;
    bool readerDone = false;
    std::thread reader;

    // Worker thread only.
    std::unique_ptr<AudioSink> sink;
    bool silentForNow = false; // `sink` stands in for a device that is missing
    bool deviceLost = false;   // a write to the device failed; not yet reported
    bool lossReported = false;
    SteadyClock::time_point nextDeviceTry;
    std::optional<qint64> seekTo; // done before the next decode
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
            if (generation.load() != eventGeneration)
                return;
            {
                std::lock_guard lock(mutex);
                if (chain == Chain::Ended)
                    chain = Chain::Delivered;
            }
            const QPointer<Mp3Play> alive(q);
            emit q->PlaybackEnded();
            if (!alive)
                return;
            // The handler did not carry on with the track played on: back to what an
            // end without it leaves.
            std::lock_guard lock(mutex);
            dropNext();
        },
        Qt::QueuedConnection);
}

// Called on the UI thread with `mutex` held, before any command but those that carry on
// with the next track: what is queued of it goes, and it is read afresh if still wanted.
void Mp3Play::Impl::dropNext()
{
    switch (chain) {
    case Chain::None:
        return;
    case Chain::Queued:
        // The open track is still heard: it plays on from there, without the next one.
        decoder = std::move(endedDecoder);
        break;
    case Chain::Ended:
    case Chain::Delivered:
    case Chain::Stopped:
        // The open track has ended: stopped and rewound, as an end leaves it.
        decoder = std::move(endedDecoder);
        audibleFrame = 0;
        transport = Transport::Stopped;
        break;
    case Chain::Opened:
        // The next track is the open one now, stopped at its start.
        audibleFrame = 0;
        transport = Transport::Stopped;
        break;
    }
    if (chain != Chain::Opened && !nextWanted.isEmpty())
        ++nextRequest;
    chain = Chain::None;
    endedDecoder.reset();
    chainedPath.clear();
    chainedTags = {};
    flushOutput = true;
    invalidateEvents();
    // Notified under the lock: some callers return without notifying.
    wake.notify_all();
    readerWake.notify_all();
}

// Called with `mutex` held; reported once for each time the sound goes.
void Mp3Play::Impl::reportNoSound(const QString &reason)
{
    if (lossReported || quit)
        return;
    lossReported = true;
    const QString text = QStringLiteral("没有声音输出：") + reason;
    QMetaObject::invokeMethod(q, [this, text] { emit q->NoSoundOutput(text); }, Qt::QueuedConnection);
}

// Brings the device in, or back: at every start, and every kDeviceRetry while the
// silent output stands in for it. Unlocks `mutex` while the device is opened.
void Mp3Play::Impl::chooseOutput(std::unique_lock<std::mutex> &lock, bool starting, Timeline &timeline)
{
    if (output == Output::Silent) {
        if (!sink)
            sink = std::make_unique<SilentSink>();
        return;
    }
    if (deviceLost) {
        deviceLost = false;
        nextDeviceTry = SteadyClock::now() + kDeviceRetry;
        reportNoSound(QStringLiteral("声音设备已断开"));
    }
    if (sink && !(silentForNow && (starting || SteadyClock::now() >= nextDeviceTry)))
        return;
    lock.unlock();
    std::unique_ptr<AudioSink> device = DeviceSink::open();
    lock.lock();
    nextDeviceTry = SteadyClock::now() + kDeviceRetry;
    if (device) {
        if (silentForNow) {
            // Sound resumes where the listener is, not where the decoder had got to.
            seekTo = audibleFrame;
            timeline.restart(audibleFrame);
        }
        sink = std::move(device);
        silentForNow = false;
        lossReported = false;
    } else {
        if (!sink) {
            // Positions and ends still come, paced by the clock.
            sink = std::make_unique<SilentSink>();
            silentForNow = true;
        }
        if (starting)
            lossReported = false; // said again for every track: the window clears old reports
        reportNoSound(QStringLiteral("找不到声音设备"));
    }
}

bool Mp3Play::Impl::writeToOutput(std::vector<std::uint8_t> &pcm, const PcmFormat &format)
{
    if (sink->start(format) && sink->write(pcm.data(), pcm.size()))
        return true;
    if (output == Output::Silent || silentForNow)
        return false;
    // The device refused or went away (sound server stopped): keep time silently.
    sink = std::make_unique<SilentSink>();
    silentForNow = true;
    deviceLost = true;
    return sink->start(format) && sink->write(pcm.data(), pcm.size());
}

// The reader thread: reads the track the window expects next, so that its opening (a
// scan of the whole file) is done before the open track ends.
void Mp3Play::Impl::readAhead()
{
    std::unique_lock lock(mutex);
    while (!quit) {
        if (!nextBeingRead()) {
            readerWake.wait(lock);
            continue;
        }
        const quint64 request = nextRequest;
        const QString path = nextWanted;
        lock.unlock();
        auto track = std::make_unique<OpenedTrack>(readTrack(path));
        lock.lock();
        if (request != nextRequest)
            continue; // wanted no longer, or to be read again
        nextRead = request;
        next.reset();
        if (track->status == OpenOk) {
            next = std::move(track);
            nextPath = path;
        }
        wake.notify_all();
    }
    readerDone = true;
    wake.notify_all();
}

// Worker, `mutex` held, at the end of the open track's audio: the next track takes over
// the decoder when it is read and fits the output as it is.
bool Mp3Play::Impl::playOnIntoNext()
{
    if (chain != Chain::None || !next || nextPath != nextWanted || !(next->decoder->format() == decoder->format()))
        return false;
    endedDecoder = std::move(decoder);
    decoder = std::move(next->decoder);
    chainedPath = nextPath;
    chainedTags = next->tags;
    chainedFrameCount = decoder->frameCount();
    chainedDurationMs = decoder->durationMs();
    next.reset();
    chainedFrames = 0;
    chain = Chain::Queued;
    return true;
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
    const qint64 last = std::clamp<qint64>(timeline.audibleFrame(0), 0, decoder->frameCount());
    postPosition(runGeneration, last);
    postEnd(runGeneration);
    transport = Transport::Stopped;
    audibleFrame = 0;
    return true;
}

void Mp3Play::Impl::run()
{
    std::unique_lock lock(mutex);
    quint64 runGeneration = generation.load() - 1;
    Timeline timeline;
    Timeline nextTimeline; // the next track's, while it is played on behind the open one
    SteadyClock::time_point nextPosition;
    int errorRun = 0;
    bool nextAllWritten = false;
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
                silentForNow = false;
                lock.lock();
            }
            continue;
        }

        const quint64 currentGeneration = generation.load();
        const bool starting = currentGeneration != runGeneration;
        if (starting) {
            runGeneration = currentGeneration;
            seekTo.reset();
            if (adoptChain) {
                // The track played on is the open one now; its audio is queued already.
                adoptChain = false;
                timeline = std::move(nextTimeline);
                if (sink)
                    audibleFrame = std::clamp<qint64>(timeline.audibleFrame(sink->pendingFrames(SteadyClock::now())),
                                                      0, decoder->frameCount());
            } else {
                seekTo = audibleFrame;
                timeline.restart(audibleFrame);
            }
            nextTimeline.restart(0);
            nextAllWritten = false;
            nextPosition = SteadyClock::now();
            errorRun = 0;
        }
        const auto stale = [&] { return quit || generation.load() != runGeneration; };
        // The output stays as it is under a track played on, whose start is timed by it.
        if (chain == Chain::None || !sink)
            chooseOutput(lock, starting, timeline);
        if (stale())
            continue;

        if (chain == Chain::Queued) {
            const SteadyClock::time_point lastHeard = sink->heardAt(chainedFrames);
            if (SteadyClock::now() >= lastHeard) {
                const qint64 last = std::clamp<qint64>(timeline.audibleFrame(0), 0, endedDecoder->frameCount());
                postPosition(runGeneration, last);
                postEnd(runGeneration);
                chain = Chain::Ended;
                continue;
            }
            if (nextAllWritten) {
                wake.wait_until(lock, lastHeard, stale);
                continue;
            }
        } else if (chain != Chain::None && nextAllWritten) {
            wake.wait(lock, stale); // until the window takes the track on, or drops it
            continue;
        }

        // A paced output is waited for here, where any UI operation can interrupt.
        if (sink->readyAt() > SteadyClock::now()) {
            SteadyClock::time_point until = sink->readyAt();
            if (chain == Chain::Queued)
                until = std::min(until, sink->heardAt(chainedFrames));
            wake.wait_until(lock, until, stale);
            continue;
        }

        // Decoding reads the file: done with the lock released, on a decoder held here so
        // that it lives on if the window lets go of it meanwhile. What comes back is
        // dropped if a command came meanwhile; the top of the loop then starts afresh.
        // Only a track taken on as it is played on carries on with what was read.
        const std::shared_ptr<Mp3Decoder> source = decoder;
        const bool forNext = chain != Chain::None;
        const std::optional<qint64> seek = std::exchange(seekTo, std::nullopt);
        lock.unlock();
        source->setVolume(volume.load());
        if (seek)
            source->seekFrame(*seek);
        const Mp3Decoder::Chunk chunk = source->decodeFrame();
        lock.lock();
        if (quit || source != decoder
            || (stale() && !(adoptChain && forNext && chunk.kind == Mp3Decoder::Chunk::Kind::Audio)))
            continue;
        if (chunk.kind == Mp3Decoder::Chunk::Kind::Error && ++errorRun < kMaxDecodeErrorRun)
            continue;
        if (chunk.kind != Mp3Decoder::Chunk::Kind::Audio) {
            if (chain != Chain::None) {
                nextAllWritten = true;
                continue;
            }
            if (!playOnIntoNext() && nextBeingRead()) {
                // The next track may still be read in time while the tail plays.
                wake.wait_until(lock, sink->drainedAt(), [&] { return stale() || !nextBeingRead(); });
                if (stale())
                    continue;
                playOnIntoNext();
            }
            if (chain == Chain::Queued) {
                errorRun = 0;
                nextTimeline.restart(0);
                continue;
            }
            finishTrack(lock, runGeneration, timeline);
            continue;
        }
        errorRun = 0;
        Timeline &track = forNext ? nextTimeline : timeline;
        const PcmFormat format = source->format();
        const qint64 pcmFrames = qint64(chunk.bytes) / format.bytesPerFrame();
        if (pcmFrames == 0) {
            track.add(chunk.frame, 0); // all encoder delay, trimmed away
            continue;
        }
        pcm.assign(chunk.data, chunk.data + chunk.bytes);

        lock.unlock();
        const bool written = writeToOutput(pcm, format);
        lock.lock();
        if (stale()) {
            // Taken on by the window meanwhile: what was written belongs to it.
            if (adoptChain && forNext && written)
                track.add(chunk.frame, pcmFrames);
            continue; // otherwise the top of the loop flushes what was just written
        }
        if (!written) {
            if (forNext)
                nextAllWritten = true; // the open track's end is still reported
            else
                finishTrack(lock, runGeneration, timeline);
            continue;
        }
        track.add(chunk.frame, pcmFrames);
        const auto now = SteadyClock::now();
        qint64 pending = sink->pendingFrames(now);
        const Mp3Decoder *heard = decoder.get();
        if (forNext) {
            chainedFrames += pcmFrames;
            if (chain != Chain::Queued)
                continue; // nothing to report until the window takes the track on
            pending = std::max<qint64>(0, pending - chainedFrames);
            heard = endedDecoder.get();
        }
        audibleFrame = std::clamp<qint64>(timeline.audibleFrame(pending), 0, heard->frameCount());
        if (now >= nextPosition) {
            postPosition(runGeneration, audibleFrame);
            // Keeps an even pace; after a stall, starts counting afresh.
            nextPosition = std::max(nextPosition + kPositionInterval, now + kPositionInterval / 2);
        }
    }

    lock.unlock();
    sink.reset(); // drops what is buffered: no sound after the engine is gone
    lock.lock();
    workerDone = true;
    wake.notify_all();
}

Mp3Play::Mp3Play(Output output, QObject *parent) : Mp3Engine(parent), d(std::make_shared<Impl>(this, output))
{
    if (output == Output::Device && qEnvironmentVariableIsEmpty("PULSE_LATENCY_MSEC")) {
        // libout123's PulseAudio module asks for no particular buffering, and libpulse
        // then buffers anywhere up to a quarter second on top of the sink's latency; the
        // environment is the one place libpulse takes a wish from. Set before the worker,
        // where libpulse runs and reads it, exists.
        qputenv("PULSE_LATENCY_MSEC", QByteArray::number(kPulseLatencyMs));
    }
    d->nothingToPlay->setSingleShot(true);
    d->nothingToPlay->setInterval(kNothingToPlayEndMs);
    connect(d->nothingToPlay, &QTimer::timeout, this, &Mp3Engine::PlaybackEnded);
}

Mp3Play::~Mp3Play()
{
    // A thread stuck on a stalled disk or in the output (a frozen sound server) would keep
    // the program alive for as long as it stays stuck. After a short wait it is left to
    // end by itself: it touches nothing of the engine's but the state it shares once
    // `quit` is set.
    std::unique_lock lock(d->mutex);
    d->quit = true;
    d->readerWake.notify_all();
    d->wake.notify_all();
    const auto deadline = SteadyClock::now() + kThreadsQuitWait;
    const bool readerEnded =
        d->wake.wait_until(lock, deadline, [this] { return !d->reader.joinable() || d->readerDone; });
    const bool workerEnded =
        d->wake.wait_until(lock, deadline, [this] { return !d->worker.joinable() || d->workerDone; });
    lock.unlock();
    for (auto [thread, ended] : {std::pair{&d->reader, readerEnded}, std::pair{&d->worker, workerEnded}}) {
        if (!thread->joinable())
            continue;
        if (ended)
            thread->join();
        else
            thread->detach();
    }
}

void Mp3Play::Stop()
{
    d->nothingToPlay->stop();
    {
        std::lock_guard lock(d->mutex);
        if (d->chain == Impl::Chain::Delivered) {
            // The end's handler moving on: the track played on keeps sounding for now.
            d->chain = Impl::Chain::Stopped;
            return;
        }
        d->dropNext();
        if (d->transport == Impl::Transport::Playing)
            d->flushOutput = true;
        d->transport = Impl::Transport::Stopped;
        d->audibleFrame = 0;
        d->invalidateEvents();
    }
    d->wake.notify_all();
}

qint16 Mp3Play::OpenFile(const QString &path, const QString &options)
{
    Q_UNUSED(options);
    d->nothingToPlay->stop();
    {
        std::lock_guard lock(d->mutex);
        if (d->chain == Impl::Chain::Stopped && path == d->chainedPath) {
            // The track played on since the last one ended: it is open and sounding.
            d->chain = Impl::Chain::Opened;
            d->endedDecoder.reset();
            d->frameCount = d->chainedFrameCount;
            d->durationMs = d->chainedDurationMs;
            d->trackOpen = true;
            d->path = path;
            d->tags = d->chainedTags;
            d->lastError.clear();
            d->lastStatus = OpenOk;
            ++d->openRequests;
            // What follows it is for the window to say.
            d->nextWanted.clear();
            return OpenOk;
        }
        d->dropNext();
        // Resuming: the window reopens the paused track before playing it again.
        if (d->trackOpen && d->transport == Impl::Transport::Paused && path == d->path) {
            d->lastError.clear();
            d->lastStatus = OpenOk;
            return OpenOk;
        }
        if (d->transport == Impl::Transport::Playing)
            d->flushOutput = true;
        d->transport = Impl::Transport::Stopped;
        d->decoder = std::make_shared<Mp3Decoder>(); // the worker may still hold the old one
        d->audibleFrame = 0;
        d->invalidateEvents();
    }
    d->wake.notify_all();
    d->trackOpen = false;
    d->path.clear();
    d->tags = {};
    d->frameCount = 0;
    d->durationMs = 0;
    d->lastError.clear();
    const quint64 request = ++d->openRequests;

    const std::shared_ptr<Impl> keep = d; // the engine may be destroyed while the file is read
    const QPointer<Mp3Play> alive(this);
    OpenedTrack track = readTrackAnswering(path);
    if (!alive || request != keep->openRequests) {
        // Gone, or another OpenFile came while this one read: the later one stands.
        return alive ? d->lastStatus : track.status;
    }
    d->nothingToPlay->stop(); // a Play meanwhile had nothing to play yet
    d->lastStatus = track.status;
    if (track.status != OpenOk) {
        d->lastError = track.error;
        return track.status;
    }
    d->frameCount = track.decoder->frameCount();
    d->durationMs = track.decoder->durationMs();
    {
        std::lock_guard lock(d->mutex);
        d->decoder = std::move(track.decoder);
    }
    d->trackOpen = true;
    d->path = path;
    d->tags = track.tags;
    return OpenOk;
}

void Mp3Play::Play()
{
    if (!d->trackOpen) {
        if (!d->nothingToPlay->isActive())
            d->nothingToPlay->start();
        return;
    }
    {
        std::lock_guard lock(d->mutex);
        if (d->chain == Impl::Chain::Opened) {
            // Carries on with what is queued of it; its events start from here.
            d->chain = Impl::Chain::None;
            d->chainedPath.clear();
            d->chainedTags = {};
            d->audibleFrame = 0;
            d->invalidateEvents();
            d->adoptChain = true;
        } else {
            if (d->chain != Impl::Chain::Queued)
                d->dropNext();
            if (d->transport == Impl::Transport::Playing)
                return;
            d->transport = Impl::Transport::Playing; // from `audibleFrame`
            d->invalidateEvents();
        }
    }
    Impl::ensureWorker(d);
    d->wake.notify_all();
}

void Mp3Play::Pause()
{
    d->nothingToPlay->stop();
    {
        std::lock_guard lock(d->mutex);
        d->dropNext();
        if (d->transport != Impl::Transport::Playing)
            return;
        // Resumes from `audibleFrame`: where the listener is, not where the decoder had got to.
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
        d->dropNext();
        d->audibleFrame = std::clamp<qint64>(frame, 0, d->frameCount);
        if (d->transport == Impl::Transport::Playing)
            d->flushOutput = true;
        d->invalidateEvents();
    }
    d->wake.notify_all();
}

void Mp3Play::SetNextTrack(const QString &path)
{
    {
        std::lock_guard lock(d->mutex);
        if (path == d->nextWanted)
            return;
        d->nextWanted = path;
        ++d->nextRequest;
        d->next.reset();
        if (d->chain == Impl::Chain::Queued && path != d->chainedPath)
            d->dropNext();
    }
    if (!path.isEmpty())
        Impl::ensureReader(d);
    d->wake.notify_all();
    d->readerWake.notify_all();
}

void Mp3Play::SetVolume(double volume)
{
    // What is in the output's buffer already plays out as it was: a short, even delay
    // instead of a jump or a gap.
    if (!std::isnan(volume))
        d->volume.store(std::clamp(volume, 0.0, 1.0));
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

#include "moc_mp3engine.cpp"
#include "moc_mp3play.cpp"
