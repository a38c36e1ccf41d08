#include "wholecharacters.h"

namespace velmora {

QString leftWholeCharacters(const QString &text, qsizetype most)
{
    if (text.size() <= most)
        return text;
    qsizetype cut = most;
    if (cut > 0 && text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut);
}

} // namespace velmora
