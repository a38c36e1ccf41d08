#include "progresstext.h"

#include <cfenv>
#include <cmath>

namespace velmora {

namespace {

// A non-negative number is shown after one space, a negative one after its sign.
QString signPosition(qint64 value)
{
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

struct MinutesSeconds
{
    qint64 minutes;
    qint64 seconds;
};

// Whole minutes and the rest in seconds rounded half away from zero. A rest that
// rounds up to 60 carries into the minutes: a clock never shows 60 seconds.
MinutesSeconds splitMilliseconds(qint64 ms)
{
    qint64 minutes = ms / 60000;
    auto seconds = static_cast<qint64>(std::round(static_cast<double>(ms % 60000) / 1000.0));
    if (seconds >= 60) {
        minutes += seconds / 60;
        seconds %= 60;
    }
    return {minutes, seconds};
}

QString twoDigits(qint64 value)
{
    return value < 0 ? QString::number(value) : QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

double fraction(qint64 v, qint64 m)
{
    return m == 0 ? 0.0 : static_cast<double>(v) / static_cast<double>(m);
}

} // namespace

qint64 roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    const int oldMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(oldMode);
    return static_cast<qint64>(rounded);
}

QString framePanelText(qint64 v, qint64 m, qint64 frameCount)
{
    const qint64 frame = roundHalfEven(fraction(v, m) * static_cast<double>(frameCount));
    return QStringLiteral("帧数:") + signPosition(frame) + QLatin1Char('/') + QString::number(frameCount);
}

QString timePanelText(qint64 v, qint64 m, qint64 durationMs)
{
    const qint64 elapsedMs = roundHalfEven(static_cast<double>(durationMs) * fraction(v, m));
    const MinutesSeconds elapsed = splitMilliseconds(elapsedMs);
    const MinutesSeconds total = splitMilliseconds(durationMs);
    return QStringLiteral("时间:") + signPosition(elapsed.minutes) + QStringLiteral("分")
        + twoDigits(elapsed.seconds) + QStringLiteral("秒/") + QString::number(total.minutes)
        + QStringLiteral("分") + twoDigits(total.seconds) + QStringLiteral("秒");
}

} // namespace velmora
