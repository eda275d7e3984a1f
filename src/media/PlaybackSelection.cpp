#include "media/PlaybackSelection.h"

#include <cmath>

PlaybackSelection PlaybackSelection::normalized(double start, std::optional<double> end, bool loop)
{
    PlaybackSelection selection;
    selection.start = std::isfinite(start) && start > 0 ? start : 0;
    if (end && std::isfinite(*end) && *end > selection.start)
        selection.end = end;
    selection.loop = loop;
    return selection;
}
