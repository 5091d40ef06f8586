#pragma once
// Documents and workspaces for the edit tests, and the sample-wise rule written out plainly as the
// reference the optimised loops must equal.

#include "document/selection.h"
#include "document/sound_document.h"
#include "document/workspace.h"
#include "edit/edit_dispatcher.h"
#include "views/test_documents.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace sonavik::test {

inline int sampleOf(const SoundDocument& doc, std::int64_t frame, int channel)
{
    const std::size_t i = static_cast<std::size_t>(frame) * doc.format.nChannels + channel;
    if (doc.format.wBitsPerSample == 8)
        return doc.samples.data()[i];
    std::int16_t v;
    std::memcpy(&v, doc.samples.data() + 2 * i, 2);
    return v;
}

inline void setSample(SoundDocument& doc, std::int64_t frame, int channel, int raw)
{
    const std::size_t i = static_cast<std::size_t>(frame) * doc.format.nChannels + channel;
    if (doc.format.wBitsPerSample == 8) {
        doc.samples.data()[i] = static_cast<unsigned char>(raw);
    } else {
        const auto v = static_cast<std::int16_t>(raw);
        std::memcpy(doc.samples.data() + 2 * i, &v, 2);
    }
}

inline std::vector<int> channelSamples(const SoundDocument& doc, int channel)
{
    std::vector<int> out;
    for (std::int32_t p = 0; p < doc.frameCount; ++p)
        out.push_back(sampleOf(doc, p, channel));
    return out;
}

inline std::vector<unsigned char> bytesOf(const SoundDocument& doc)
{
    return {doc.samples.data(), doc.samples.data() + doc.byteCount()};
}

// A workspace holding doc as its current document, clean, with an empty undo store.
inline Workspace workspaceWith(SoundDocument doc)
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.document = std::move(doc);
    return ws;
}

inline Selection selection(SelectionKind kind, std::int32_t start, std::int32_t end, double a0 = 1.0, double a1 = 1.0,
                           SelectionShape shape = SelectionShape::Linear, double parameter = 1.0)
{
    return Selection{kind, start, end, a0, a1, shape, parameter};
}

// floor(v + 0.5) clipped, in the stored encoding.
inline int referenceStore(double v, bool eightBit)
{
    const double n = std::floor(v + 0.5);
    if (eightBit)
        return static_cast<int>(std::clamp(n, -128.0, 127.0)) + 128;
    return static_cast<int>(std::clamp(n, -32768.0, 32767.0));
}

// The edited value, each command's formula as written, including the one-frame rule of the fades.
inline double referenceValue(int commandId, double x, std::int64_t p, std::int64_t start, std::int64_t end)
{
    const double pi = 3.141592653589793;
    const double t = start == end ? 0.0 : static_cast<double>(p - start) / static_cast<double>(end - start);
    const bool oneFrame = start == end;
    switch (commandId) {
    case 40102: return 0.0;
    case 40107: return 0.5 * x;
    case 40108: return 2 * x;
    case 40103: return oneFrame ? 0.5 * x : t * x;
    case 40104: return oneFrame ? 0.5 * x : (1 - t) * x;
    case 40105: return oneFrame ? 0.5 * x : (1 - (std::cos(pi * t) + 1) / 2) * x;
    case 40106: return oneFrame ? 0.5 * x : ((std::cos(pi * t) + 1) / 2) * x;
    case 40114: return -x;
    default: return x;
    }
}

// The weight of frame p: 1 for a Linear envelope with both levels 1 (whole channels, red selection),
// otherwise alphaAt.
inline double referenceAlpha(const EditRegion& r, std::int64_t p)
{
    if (r.shape == SelectionShape::Linear && r.alphaStart == 1.0 && r.alphaEnd == 1.0)
        return 1.0;
    Selection s{SelectionKind::Blue, r.start, r.end, r.alphaStart, r.alphaEnd, r.shape, r.shapeParameter};
    return alphaAt(s, p);
}

// One frame at a time, straight from the formulas: what every in-place time-domain edit must produce.
inline void referenceEdit(SoundDocument& doc, int commandId, const EditRegion& r)
{
    const bool eight = doc.format.wBitsPerSample == 8;
    auto signedAt = [&](std::int64_t p) { return sampleOf(doc, p, r.channel) - (eight ? 128 : 0); };
    if (commandId == 40113) {
        const std::int64_t length = static_cast<std::int64_t>(r.end) - r.start + 1;
        for (std::int64_t i = 0; i < length / 2; ++i) {
            const std::int64_t p = r.start + i, q = r.end - i;
            const double a = signedAt(p), b = signedAt(q);
            const double ap = referenceAlpha(r, p), aq = referenceAlpha(r, q);
            setSample(doc, p, r.channel, referenceStore((1 - ap) * a + ap * b, eight));
            setSample(doc, q, r.channel, referenceStore((1 - aq) * b + aq * a, eight));
        }
        return;
    }
    for (std::int64_t p = r.start; p <= r.end; ++p) {
        const double x = signedAt(p);
        const double a = referenceAlpha(r, p);
        const double e = referenceValue(commandId, x, p, r.start, r.end);
        setSample(doc, p, r.channel, referenceStore((1 - a) * x + a * e, eight));
    }
}

} // namespace sonavik::test
