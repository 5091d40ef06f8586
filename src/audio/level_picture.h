#pragma once
// The live level picture of the recording standby: one packet of incoming sound drawn as the waveform
// of each channel or as a Lissajous figure, with its extremes marked, and its level from 0 to 128.

#include "raster/pixel_image.h"

#include <cstddef>
#include <cstdint>

namespace sonavik {

struct LevelPictureOptions {
    int channels = 1;           // 1 or 2
    int bitsPerSample = 16;     // 8 (unsigned) or 16 (signed little-endian)
    bool monoTrace = true;      // peakMonoWave
    bool stereoTrace = true;    // peakStereoWave
    bool lissajousTrace = true; // peakLissajous
    bool lissajousDecor = false;
    bool lissajousType = false; // peakStereoType != 0
};

// Clears picture to black, draws the packet of byteCount bytes into it and returns its level L.
int drawLevelPicture(PixelImage& picture, const unsigned char* bytes, std::size_t byteCount,
                     const LevelPictureOptions& options);
// The red 7 x 7 square near the top left that says incoming sound is being stored.
void markRecording(PixelImage& picture);

} // namespace sonavik
