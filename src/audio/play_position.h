#pragma once
// Where playback is, for the line that follows it across the views. The ring sends the range's frames in
// order (over and over when looping), so the bytes the device has played name the frame being heard.

#include <cstdint>

namespace sonavik {

// The frame being heard after bytesPlayed bytes of a playback of frames first..last (inclusive), or -1
// for an empty range or a block size of 0. Without loop the position stops at last.
std::int64_t playedFrame(std::int64_t first, std::int64_t last, std::uint64_t bytesPlayed, int blockAlign, bool loop);

} // namespace sonavik
