#pragma once
// Documents of tones and an analysis run the way the FFT command runs it, for the spectrogram tests.

#include "document/workspace.h"
#include "edit/edit_dispatcher.h"
#include "edit/edit_test_support.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram.h"
#include "spectrogram/spectrogram_analysis.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"

#include <cmath>
#include <memory>
#include <numbers>

namespace sonavik::test {

// A workspace with one sum of sines per channel: amplitude a1 at frequency f1 and a2 at f2 (hertz).
inline Workspace toneWorkspace(int bits, int channels, std::int32_t frames, double a1, double f1, double a2 = 0.0,
                               double f2 = 0.0, std::uint32_t rate = 8000)
{
    return workspaceWith(makeDocument(bits, channels, frames, [&](std::int64_t p, int c) {
        const double t = static_cast<double>(p) / rate;
        // The right channel is a little softer, so a mix-up of the channels shows.
        const double v = (c == 0 ? 1.0 : 0.5)
                         * (a1 * std::sin(2 * std::numbers::pi * f1 * t) + a2 * std::sin(2 * std::numbers::pi * f2 * t + 0.3));
        return static_cast<int>(std::lround(v)) + (bits == 8 ? 128 : 0);
    }, rate));
}

inline EditRegion regionOf(int channel, std::int32_t start, std::int32_t end)
{
    EditRegion r;
    r.channel = channel;
    r.start = start;
    r.end = end;
    return r;
}

// Analysis of a region with FFT size n and window type w.
inline std::unique_ptr<Spectrogram> analyse(Workspace& ws, Ui& ui, const EditRegion& region, int n, int window = 0)
{
    ws.settings.fftLength = n;
    ws.settings.fftWindow = window;
    return analyseSpectrogram(ui, ws.document, region, ws.settings);
}

// The magnitude of bin b of frame j.
inline double magnitude(const Spectrogram& s, int j, int b)
{
    const float* f = s.spectra.data() + static_cast<std::size_t>(j) * s.fftSize;
    const double re = f[b];
    const double im = b > 0 && b < s.fftSize / 2 ? f[s.fftSize - b] : 0.0;
    return std::sqrt(re * re + im * im);
}

} // namespace sonavik::test
