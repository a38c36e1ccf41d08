#include "traywheel.h"

#include "player.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QWheelEvent>

#include <cmath>

namespace velmora {

namespace {

constexpr int kWheelNotch = 120; // QWheelEvent::angleDelta() of one notch
constexpr int kPercentPerNotch = 5;

// QSystemTrayIcon has no wheel signal: its events are watched instead.
class TrayWheelFilter final : public QObject
{
public:
    TrayWheelFilter(QSystemTrayIcon *tray, Player &player) : QObject(tray), m_player(&player) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel || !m_player)
            return QObject::eventFilter(watched, event);
        // A touchpad sends a notch in small parts: they add up to whole steps.
        m_delta += static_cast<QWheelEvent *>(event)->angleDelta().y();
        const int notches = m_delta / kWheelNotch;
        m_delta %= kWheelNotch;
        if (notches != 0) {
            // Counted in whole percents, so that steps land on 5 %, 10 %, ... and add up exactly.
            const long percent = std::lround(m_player->volume() * 100) + long(notches) * kPercentPerNotch;
            m_player->setVolume(double(percent) / 100);
        }
        return true;
    }

private:
    QPointer<Player> m_player;
    int m_delta = 0;
};

} // namespace

void stepVolumeWithWheel(QSystemTrayIcon *tray, Player &player)
{
    tray->installEventFilter(new TrayWheelFilter(tray, player));
}

} // namespace velmora
