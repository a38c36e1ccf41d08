#pragma once

#include <QtGlobal>

namespace velmora {

// Where the end of a track moves the play position (RoundPlay) in a list of `entries`
// entries: on to the next entry, whose track becomes the current one, or, after the
// last entry, to -1, which keeps the track that ended and moves on to entry 0 next time.
struct EndOfTrackStep
{
    qint32 roundPlay;
    bool takesEntry; // the entry at roundPlay becomes the current track
    friend bool operator==(const EndOfTrackStep &, const EndOfTrackStep &) = default;
};

constexpr EndOfTrackStep stepAtEndOfTrack(qint32 roundPlay, qint64 entries)
{
    // Widened: RoundPlay + 1 must not overflow on a position at the top of its range.
    if (qint64(roundPlay) + 1 < entries)
        return {roundPlay + 1, true};
    return {-1, false};
}

// The entry a skip of `step` (+1 next, -1 previous) lands on from the selected entry,
// wrapping around the list; with nothing selected, the first entry (next) or the last
// (previous). -1 for an empty list.
constexpr int skipTarget(int selectedRow, int entries, int step)
{
    if (entries <= 0)
        return -1;
    if (selectedRow < 0 || selectedRow >= entries)
        return step > 0 ? 0 : entries - 1;
    return int(((qint64(selectedRow) + step) % entries + entries) % entries);
}

} // namespace velmora
