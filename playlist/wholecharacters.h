#pragma once

#include <QString>

namespace velmora {

// The first `most` UTF-16 units of `text`, one fewer where the cut would split a
// surrogate pair; shorter text unchanged.
QString leftWholeCharacters(const QString &text, qsizetype most);

} // namespace velmora
