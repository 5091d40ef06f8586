#include "audio/play_position.h"

namespace sonavik {

std::int64_t playedFrame(std::int64_t first, std::int64_t last, std::uint64_t bytesPlayed, int blockAlign, bool loop)
{
    if (blockAlign <= 0 || first < 0 || last < first)
        return -1;
    const auto length = static_cast<std::uint64_t>(last - first + 1);
    std::uint64_t frames = bytesPlayed / static_cast<std::uint64_t>(blockAlign);
    if (loop)
        frames %= length;
    else if (frames > length - 1)
        frames = length - 1;
    return first + static_cast<std::int64_t>(frames);
}

} // namespace sonavik
