#pragma once

#include <QIcon>

namespace velmora {

// The program icon with a picture drawn for every size the desktop uses, so that the
// window, the tray and the task bar never show a small picture scaled up.
QIcon programIcon();

} // namespace velmora
