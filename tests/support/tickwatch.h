#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

#include <sys/resource.h>

namespace velmora::test {

// Ticks a timer on the calling (window) thread and keeps the longest gap between two
// ticks: a handler or a paint that blocks the event loop shows up as one long gap.
class TickWatch
{
public:
    explicit TickWatch(int intervalMs = 50)
    {
        m_sinceTick.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longestGap = std::max(m_longestGap, m_sinceTick.restart());
            ++m_ticks;
        });
        m_timer.start(intervalMs);
    }
    // Counts the time since the last tick too: a block still going on is a gap as well.
    qint64 longestGapMs() const { return std::max(m_longestGap, m_sinceTick.elapsed()); }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longestGap = 0;
    int m_ticks = 0;
};

// Processor time (user and system, all threads) this process has used so far.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace velmora::test
