#include "audiosink.h"

#include <mpg123.h>
#include <out123.h>

#include <QLibrary>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace velmora {

namespace {

// What the silent output pretends to buffer: about two MPEG frames.
constexpr double kSilentBufferSeconds = 0.05;

// libout123 unloads its output module after a failed open and when a handle goes, and
// with the ALSA module goes libasound, which never frees the configuration it parsed
// (about 100 KB lost each time): the retries while the sound server is away, or every
// play after an idle close on ALSA, grew the memory without end. Kept loaded, libasound
// parses its configuration once and reuses it.
void keepAlsaLoaded()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QLibrary alsa(QStringLiteral("asound"), 2);
        alsa.setLoadHints(QLibrary::PreventUnloadHint);
        alsa.load(); // without it there is no ALSA output to keep either
    });
}

} // namespace

void PlayoutEstimate::reset(long rate, qint64 capacity, bool blockingOutput)
{
    m_rate = std::max(1L, rate);
    m_capacity = std::max<qint64>(0, capacity);
    m_blocking = blockingOutput;
    clear();
}

void PlayoutEstimate::clear()
{
    m_pendingAtMark = 0;
    m_mark = SteadyClock::now();
}

SteadyClock::duration PlayoutEstimate::framesToDuration(double frames) const
{
    return std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(frames / double(m_rate)));
}

qint64 PlayoutEstimate::pending(SteadyClock::time_point now) const
{
    const double played = std::chrono::duration<double>(now - m_mark).count() * double(m_rate);
    return qint64(std::max(0.0, m_pendingAtMark - std::max(0.0, played)) + 0.5);
}

void PlayoutEstimate::wrote(qint64 frames, SteadyClock::time_point now)
{
    double pendingNow = double(pending(now)) + double(frames);
    if (m_blocking)
        pendingNow = std::min(pendingNow, double(m_capacity));
    m_pendingAtMark = pendingNow;
    m_mark = now;
}

SteadyClock::time_point PlayoutEstimate::drainedAt(qint64 framesFromEnd) const
{
    return m_mark + framesToDuration(std::max(0.0, m_pendingAtMark - double(framesFromEnd)));
}

SteadyClock::time_point PlayoutEstimate::roomAt() const
{
    if (m_pendingAtMark <= double(m_capacity))
        return m_mark;
    return m_mark + framesToDuration(m_pendingAtMark - double(m_capacity));
}

bool SilentSink::start(const PcmFormat &format)
{
    if (!format.isValid())
        return false;
    if (!(format == m_format)) {
        m_format = format;
        m_estimate.reset(format.rate, qint64(kSilentBufferSeconds * format.rate), false);
    }
    return true;
}

bool SilentSink::write(std::uint8_t *, std::size_t bytes)
{
    if (!m_format.isValid())
        return false;
    m_estimate.wrote(qint64(bytes) / m_format.bytesPerFrame(), SteadyClock::now());
    return true;
}

void DeviceSink::HandleDeleter::operator()(::out123_struct *handle) const
{
    // Dropped first: closing would otherwise wait for the buffer to play out.
    out123_drop(handle);
    out123_del(handle);
}

DeviceSink::DeviceSink(std::unique_ptr<::out123_struct, HandleDeleter> handle)
    : AudioSink(false), m_handle(std::move(handle))
{
}

DeviceSink::~DeviceSink() = default;

std::unique_ptr<DeviceSink> DeviceSink::open()
{
    std::unique_ptr<::out123_struct, HandleDeleter> handle(out123_new());
    if (!handle)
        return nullptr;
    out123_param_int(handle.get(), OUT123_ADD_FLAGS, OUT123_QUIET);
    out123_param_float(handle.get(), OUT123_DEVICEBUFFER, kAlsaBufferSeconds);
    out123_param_string(handle.get(), OUT123_NAME, "Velmora");
    // Never the "dummy" module: it swallows audio without keeping time.
    if (out123_open(handle.get(), "pulse,alsa", nullptr) != OUT123_OK) {
        keepAlsaLoaded(); // ALSA was tried, and will be again
        return nullptr;
    }
    auto sink = std::unique_ptr<DeviceSink>(new DeviceSink(std::move(handle)));
    char *driver = nullptr;
    if (out123_driver_info(sink->m_handle.get(), &driver, nullptr) == OUT123_OK && driver
        && std::strcmp(driver, "pulse") == 0) {
        bool ok = false;
        const int latencyMs = qEnvironmentVariableIntValue("PULSE_LATENCY_MSEC", &ok);
        sink->m_bufferSeconds = kPulseQueuedShare * (ok && latencyMs > 0 ? latencyMs : kPulseLatencyMs) / 1000.0;
    } else {
        keepAlsaLoaded();
    }
    return sink;
}

bool DeviceSink::start(const PcmFormat &format)
{
    if (m_started && format == m_format)
        return true;
    m_started = false;
    if (!format.isValid() || out123_start(m_handle.get(), format.rate, format.channels, format.encoding) != OUT123_OK)
        return false;
    m_format = format;
    m_started = true;
    // A blocking write returns when the output holds about its buffer's worth; ALSA
    // keeps its buffer full.
    m_estimate.reset(format.rate, qint64(m_bufferSeconds * format.rate), true);
    return true;
}

bool DeviceSink::write(std::uint8_t *data, std::size_t bytes)
{
    if (!m_started)
        return false;
    // May convert in place (byte order, software mute).
    const std::size_t played = out123_play(m_handle.get(), data, bytes);
    m_estimate.wrote(qint64(played) / m_format.bytesPerFrame(), SteadyClock::now());
    return played == bytes - bytes % std::size_t(m_format.bytesPerFrame());
}

void DeviceSink::drop()
{
    if (m_started)
        out123_drop(m_handle.get());
    m_estimate.clear();
}

} // namespace velmora
