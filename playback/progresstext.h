#pragma once

#include <QString>

namespace velmora {

// Texts of the frame and time panels for slider value v of maximum m, a track of
// frameCount frames and durationMs milliseconds.
QString framePanelText(qint64 v, qint64 m, qint64 frameCount);
QString timePanelText(qint64 v, qint64 m, qint64 durationMs);

// Rounds halves to the even neighbour, as the slider's page step and the panels do.
qint64 roundHalfEven(double value);

} // namespace velmora
