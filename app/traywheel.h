#pragma once

class QSystemTrayIcon;

namespace velmora {

class Player;

// The mouse wheel over the tray icon steps the player's volume, 5 % a notch, up louder.
// Qt passes the wheel on to the tray icon object where it draws the icon itself (an
// XEmbed tray, as on X11 desktops without a StatusNotifier host); a StatusNotifier host's
// scroll requests Qt 6 drops, so there the wheel does nothing.
void stepVolumeWithWheel(QSystemTrayIcon *tray, Player &player);

} // namespace velmora
