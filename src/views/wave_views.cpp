#include "views/wave_views.h"

#include "document/sample_summary.h"
#include "document/selection.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "views/play_line.h"
#include "views/selection_overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sonavik {

namespace {

constexpr int kEdgeReach = 5;   // "within 4 pixels"
constexpr int kLevelReach = 4;  // "within 3 rows"

bool near(std::int64_t a, std::int64_t b, int reach) { return std::llabs(a - b) < reach; }

std::string format(const char* fmt, auto... args)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

} // namespace

WaveViews::WaveViews(Workspace& ws, Ui& ui, WaveViewHost& host) : ws_(ws), ui_(ui), host_(host) {}

ViewState& WaveViews::viewState(int channel)
{
    return channel == 1 ? ws_.document.rightView : ws_.document.leftView;
}

ViewGeometry WaveViews::geometry(int channel) const
{
    const View& v = views_[index(channel)];
    const ViewState& state = channel == 1 ? ws_.document.rightView : ws_.document.leftView;
    return ViewGeometry::of(ws_.settings, v.width, v.height, state);
}

bool WaveViews::hasImage(int channel) const { return views_[index(channel)].hasImage; }

void WaveViews::refreshTitle() { sonavik::refreshTitle(ws_, ui_); }

void WaveViews::resize(int channel, int width, int height)
{
    View& v = views_[index(channel)];
    v.hasImage = false;
    v.cached = PixelImage();
    v.shown = PixelImage();
    v.width = width;
    v.height = height;
    auto image = PixelImage::create(std::max(0, width), std::max(0, height));
    if (!image) {
        ui_.beep(BeepKind::Error);
        return;
    }
    v.cached = std::move(*image);
    v.hasImage = true;
    // Keep the same frames and amplitudes in view. The zoom belongs to the last size that had a plot,
    // so passing through sizes too small to show any samples loses nothing.
    const ViewGeometry g = geometry(channel);
    const double plotWidth = static_cast<double>(width) - g.margin;
    const double plotHeight = static_cast<double>(height) - g.band - g.ruler;
    ViewState& state = viewState(channel);
    if (plotWidth > 0) {
        if (v.scaleWidth > 0)
            state.sx = state.sx * plotWidth / v.scaleWidth;
        v.scaleWidth = plotWidth;
    }
    if (plotHeight > 0) {
        if (v.scaleHeight > 0)
            state.sy = state.sy * plotHeight / v.scaleHeight;
        v.scaleHeight = plotHeight;
    }
    render(channel);
}

void WaveViews::destroy(int channel)
{
    views_[index(channel)] = View{};
}

void WaveViews::render(int channel)
{
    View& v = views_[index(channel)];
    refreshTitle();
    if (!v.hasImage) {
        ui_.beep(BeepKind::Error);
        return;
    }
    if (ws_.document.hasData())
        ensureSummary(ws_.document);
    const std::uint32_t colour = channel == 1 ? ws_.settings.rightWaveColour : ws_.settings.leftWaveColour;
    if (auto bars = renderWaveform(v.cached, geometry(channel), ws_.document, channel, colourFromSetting(colour))) {
        v.bars = *bars;
        host_.setScrollBars(channel, v.bars);
    }
    refresh(channel);
}

void WaveViews::renderAll()
{
    for (int channel = 0; channel < 2; ++channel)
        if (views_[channel].hasImage)
            render(channel);
}

void WaveViews::refresh(int channel)
{
    views_[index(channel)].shownStale = true;
    host_.pictureChanged(channel);
}

const PixelImage* WaveViews::picture(int channel)
{
    View& v = views_[index(channel)];
    if (!v.hasImage)
        return nullptr;
    if (v.shownStale) {
        // Without sound there is nothing to select: tables a closed sound left behind are not shown.
        static const SelectionTable kNone{};
        const bool data = ws_.document.hasData();
        v.shown = composeView(v.cached, geometry(channel), data ? selectionTable(ws_.document, channel) : kNone,
                              data ? ws_.red : RedSelection{}, channel);
        if (playFrame_ >= 0 && !v.shown.empty())
            drawPlayLine(v.shown, geometry(channel), playFrame_);
        v.shownStale = false;
    }
    return &v.shown;
}

void WaveViews::setPlayPosition(std::int64_t frame)
{
    if (frame < 0)
        frame = -1;
    if (frame == playFrame_)
        return;
    playFrame_ = frame;
    for (int channel = 0; channel < 2; ++channel) {
        if (views_[channel].hasImage)
            refresh(channel);
    }
}

WaveViews::Span WaveViews::documentColumns(const ViewGeometry& g) const
{
    const std::int64_t first = std::max<std::int64_t>(0, g.firstColumnOfFrame(0));
    const std::int64_t last = std::min<std::int64_t>(g.viewWidth() - 1, g.lastColumnOfRangeEnd(ws_.document.frameCount - 1.0));
    return {first, last};
}

WaveViews::Span WaveViews::rangeColumns(const ViewGeometry& g, std::int64_t start, std::int64_t end) const
{
    return {g.firstColumnOfFrame(static_cast<double>(start)), g.lastColumnOfRangeEnd(static_cast<double>(end))};
}

std::int64_t WaveViews::levelRow(const ViewGeometry& g, double alpha) const
{
    const std::int64_t filled = floorToInt((g.band - 1) * alpha + 0.5) - 1;
    return g.waveHeight() + g.band - 1 - std::max<std::int64_t>(0, std::min<std::int64_t>(g.band - 2, filled));
}

void WaveViews::startRedSelection(int channel, const ViewGeometry& g, std::int64_t x)
{
    const std::int64_t lastFrame = ws_.document.frameCount - 1;
    std::int64_t first;
    std::int64_t last;
    if (g.zoomedIn()) {
        first = last = g.frameUnderColumn(static_cast<double>(x));
    } else {
        first = g.firstFrameOfColumn(static_cast<double>(x));
        last = g.lastFrameOfColumn(static_cast<double>(x));
    }
    first = std::clamp<std::int64_t>(first, 0, std::max<std::int64_t>(0, lastFrame));
    last = std::clamp<std::int64_t>(last, first, std::max<std::int64_t>(0, lastFrame));
    beginRedSelection(ws_.red, channel, static_cast<std::int32_t>(first), static_cast<std::int32_t>(last));
    ws_.cursorFirst = static_cast<std::int32_t>(first);
    ws_.cursorLast = static_cast<std::int32_t>(last);
    ws_.dragMode = 1;
}

WaveViews::BandHit WaveViews::hitBand(const ViewGeometry& g, const SelectionTable& table, std::int64_t x, int y,
                                      bool stopAtBody) const
{
    // Level handles first, then edges, each in slot order: the lowest slot wins where zones overlap.
    const Span doc = documentColumns(g);
    auto inDoc = [&](std::int64_t u) { return u >= doc.first && u <= doc.last; };
    for (int slot = 0; slot < kSelectionSlots; ++slot) {
        const Selection& s = table[slot];
        if (s.kind == SelectionKind::None)
            continue;
        const Span r = rangeColumns(g, s.start, s.end);
        if (inDoc(r.first) && near(x, r.first, kEdgeReach) && near(y, levelRow(g, s.alphaStart), kLevelReach))
            return {BandHit::LevelStart, slot};
        if (inDoc(r.last) && near(x, r.last, kEdgeReach) && near(y, levelRow(g, s.alphaEnd), kLevelReach))
            return {BandHit::LevelEnd, slot};
    }
    for (int slot = 0; slot < kSelectionSlots; ++slot) {
        const Selection& s = table[slot];
        if (s.kind == SelectionKind::None)
            continue;
        const Span r = rangeColumns(g, s.start, s.end);
        if (inDoc(r.first) && near(x, r.first, kEdgeReach))
            return {BandHit::EdgeStart, slot};
        if (inDoc(r.last) && near(x, r.last, kEdgeReach))
            return {BandHit::EdgeEnd, slot};
        if (stopAtBody && std::max<std::int64_t>(r.first, 0) <= x && x <= std::min<std::int64_t>(g.viewWidth() - 1, r.last))
            return {BandHit::Body, slot};
    }
    return {};
}

bool WaveViews::onDocument(const ViewGeometry& g, std::int64_t x, int y) const
{
    const Span doc = documentColumns(g);
    return x >= doc.first && x <= doc.last && y >= 0 && y < g.waveHeight() + g.band + g.ruler;
}

bool WaveViews::pressAllowed(int channel) const
{
    return ws_.dragMode == 0 && ws_.document.hasData() && hasImage(channel);
}

void WaveViews::leftPress(int channel, int px, int y)
{
    if (ws_.longEditRunning) {
        ui_.beep(BeepKind::Error);  // nothing may change the sound until the running edit ends
        return;
    }
    if (!pressAllowed(channel))
        return;
    const ViewGeometry g = geometry(channel);
    const std::int64_t x = px - g.margin;
    const int wh = g.waveHeight();
    if (onDocument(g, x, y)) {
        if (y < wh) {
            RedSelection& red = ws_.red;
            if (!red.exists()) {
                startRedSelection(channel, g, x);
            } else if (red.redChannel == channel) {
                const Span r = rangeColumns(g, red.redStart, red.redEnd);
                if (near(x, r.first, kEdgeReach)) {
                    ws_.dragMode = 4;
                } else if (near(x, r.last, kEdgeReach)) {
                    ws_.dragMode = 5;
                } else if (x < r.first || x > r.last) {
                    clearRedSelection(red);
                    refresh(channel);
                    startRedSelection(channel, g, x);
                } else {
                    ws_.dragMode = 2;
                }
            } else {
                const int other = red.redChannel;
                clearRedSelection(red);
                refresh(other);
                startRedSelection(channel, g, x);
            }
        } else if (y > wh && y < wh + g.band) {
            const BandHit hit = hitBand(g, selectionTable(ws_.document, channel), x, y, true);
            static constexpr int modes[] = {0, 10, 11, 8, 9, 6};
            if (hit.kind != BandHit::None) {
                ws_.currentSelection = hit.slot;
                ws_.dragMode = modes[hit.kind];
                levelPressRow_ = y;
                levelMoved_ = false;
            }
            if (hit.kind == BandHit::Body) {
                toggleSelectionKind(selectionTable(ws_.document, channel), hit.slot);
                refresh(channel);
            }
        }
    }
    if (ws_.dragMode != 0)
        host_.setMouseCapture(channel, true);
    refreshTitle();
}

void WaveViews::rightPress(int channel, int px, int y)
{
    if (ws_.longEditRunning) {
        ui_.beep(BeepKind::Error);  // nothing may change the sound until the running edit ends
        return;
    }
    if (!pressAllowed(channel))
        return;
    const ViewGeometry g = geometry(channel);
    const std::int64_t x = px - g.margin;
    const int wh = g.waveHeight();
    auto covers = [&](const Span& r) {
        return std::max<std::int64_t>(r.first, 0) <= x && x <= std::min<std::int64_t>(r.last, g.viewWidth() - 1);
    };
    if (onDocument(g, x, y)) {
        if (y < wh) {
            if (ws_.red.exists() && ws_.red.redChannel == channel && covers(rangeColumns(g, ws_.red.redStart, ws_.red.redEnd)))
                ws_.dragMode = 16;
        } else if (y >= wh + 1 && y <= wh + g.band - 1) {
            const SelectionTable& table = selectionTable(ws_.document, channel);
            for (int slot = 0; slot < kSelectionSlots; ++slot) {
                const Selection& s = table[slot];
                if (s.kind != SelectionKind::None && covers(rangeColumns(g, s.start, s.end))) {
                    ws_.currentSelection = slot;
                    ws_.dragMode = 18;
                    break;
                }
            }
        }
    }
    if (ws_.dragMode != 0)
        host_.setMouseCapture(channel, true);
    refreshTitle();
}

void WaveViews::mouseMove(int channel, int px, int y)
{
    const ViewGeometry g = geometry(channel);
    const std::int64_t x = px - g.margin;
    SoundDocument& doc = ws_.document;
    switch (ws_.dragMode) {
    case 0:
        hoverCursor(channel, x, y);
        break;
    case 1:
        ws_.dragMode = 20;
        redDragStep(channel, x);
        break;
    case 2:
        ws_.dragMode = 3;
        host_.setViewCursor(channel, CursorKind::C202);
        break;
    case 3:
        host_.setViewCursor(channel, CursorKind::C202);
        break;
    case 4:
        ws_.red.anchorFirst = ws_.red.anchorLast = ws_.red.redEnd;
        ws_.dragMode = 20;
        redDragStep(channel, x);
        break;
    case 5:
        ws_.red.anchorFirst = ws_.red.anchorLast = ws_.red.redStart;
        ws_.dragMode = 20;
        redDragStep(channel, x);
        break;
    case 8:
    case 9: {
        SelectionTable& table = selectionTable(doc, channel);
        if (!isValidSlot(table, ws_.currentSelection)) {
            ui_.beep(BeepKind::Error);
            break;
        }
        if (ws_.dragMode == 8)
            moveSelectionStart(table, ws_.currentSelection,
                               g.zoomedIn() ? g.frameUnderColumn(static_cast<double>(x)) : g.firstFrameOfColumn(static_cast<double>(x)),
                               doc.frameCount);
        else
            moveSelectionEnd(table, ws_.currentSelection, g.lastFrameOfColumn(static_cast<double>(x)), doc.frameCount);
        refresh(channel);
        break;
    }
    case 10:
    case 11: {
        SelectionTable& table = selectionTable(doc, channel);
        if (!isValidSlot(table, ws_.currentSelection)) {
            ui_.beep(BeepKind::Error);
            break;
        }
        // A handle only follows the pointer once it leaves the row it was pressed on: the level rows are
        // rounded, so the pressed row alone would not give back the level it shows.
        if (!levelMoved_ && y == levelPressRow_)
            break;
        levelMoved_ = true;
        // The band's rows lie between its two frame lines: the top one is level 1, the bottom one level 0.
        setEdgeAlpha(table, ws_.currentSelection, ws_.dragMode == 10 ? SelectionEdge::Start : SelectionEdge::End,
                     y - g.waveHeight() - 1, g.band - 1);
        refresh(channel);
        break;
    }
    case 16:
        ws_.dragMode = 17;
        break;
    case 18:
        ws_.dragMode = 19;
        break;
    case 20:
        redDragStep(channel, x);
        break;
    default:
        break;
    }
    updateStatus(channel, px, y);
}

void WaveViews::redDragStep(int channel, std::int64_t x)
{
    const std::int32_t frameCount = ws_.document.frameCount;
    if (frameCount <= 0)
        return;
    const ViewGeometry g = geometry(channel);
    const std::int64_t lastFrame = frameCount - 1;
    std::int64_t first;
    std::int64_t last;
    if (g.zoomedIn()) {
        if (x > g.lastColumnOfFrame(static_cast<double>(lastFrame)))
            first = last = lastFrame;
        else if (x < g.firstColumnOfFrame(0))
            first = last = 0;
        else
            first = last = g.frameUnderColumn(static_cast<double>(x));
    } else {
        const std::int64_t lastColumn = g.firstColumnOfFrame(static_cast<double>(lastFrame));
        const std::int64_t firstColumn = g.firstColumnOfFrame(0);
        if (x >= lastColumn) {
            first = g.firstFrameOfColumn(static_cast<double>(lastColumn));
            last = std::min(g.lastFrameOfColumn(static_cast<double>(lastColumn)), lastFrame);
        } else if (x <= firstColumn) {
            first = std::max<std::int64_t>(g.firstFrameOfColumn(static_cast<double>(firstColumn)), 0);
            last = g.lastFrameOfColumn(static_cast<double>(firstColumn));
        } else {
            first = g.firstFrameOfColumn(static_cast<double>(x));
            last = g.lastFrameOfColumn(static_cast<double>(x));
        }
    }
    first = std::clamp<std::int64_t>(first, 0, lastFrame);
    last = std::clamp<std::int64_t>(last, first, lastFrame);
    ws_.cursorFirst = static_cast<std::int32_t>(first);
    ws_.cursorLast = static_cast<std::int32_t>(last);

    ViewState& state = viewState(channel);
    bool scrolled = false;
    if (geometry(channel).firstColumnOfFrame(static_cast<double>(first)) < 0) {
        state.x0 = static_cast<double>(first);
        scrolled = true;
    }
    if (geometry(channel).lastColumnOfRangeEnd(static_cast<double>(last)) > g.viewWidth() - 1) {
        state.x0 = static_cast<double>(last) + 1.0 - g.viewWidth() / state.sx;
        scrolled = true;
    }
    extendRedSelection(ws_.red, ws_.cursorFirst, ws_.cursorLast);
    if (scrolled)
        render(channel);
    else
        refresh(channel);
    host_.setViewCursor(channel, CursorKind::C207);
}

void WaveViews::leftRelease(int channel, int px, int y)
{
    if (ws_.dragMode == 0)
        return;
    host_.setMouseCapture(channel, false);
    const int mode = ws_.dragMode;
    if (mode == 1 || mode == 2) {
        clearRedSelection(ws_.red);
        refresh(channel);
    } else if (mode == 3) {
        drop(channel, px - geometry(channel).margin, y);
        refresh(channel);
    } else if (mode > 20) {
        ui_.beep(BeepKind::Error);
    }
    ws_.dragMode = 0;
    refreshTitle();
    updateStatus(channel, px, y);
}

void WaveViews::drop(int channel, std::int64_t x, int y)
{
    const ViewGeometry g = geometry(channel);
    const int wh = g.waveHeight();
    if (!onDocument(g, x, y))
        return;
    const Span r = rangeColumns(g, ws_.red.redStart, ws_.red.redEnd);
    if (y < wh && x >= r.first && x <= r.last)
        clearRedSelection(ws_.red);
    else if (y >= wh && y < wh + g.band)
        convertRedSelection(ui_, ws_.document, ws_.red, SelectionKind::Blue);
}

void WaveViews::rightRelease(int channel, int, int)
{
    host_.setMouseCapture(channel, false);
    if (ws_.dragMode == 16 || ws_.dragMode == 17) {
        ws_.dragMode = 0;
        host_.openRedSelectionMenu(channel);
    } else if (ws_.dragMode == 18 || ws_.dragMode == 19) {
        ws_.dragMode = 0;
        host_.openSelectionMenu(channel, ws_.currentSelection);
    }
    refreshTitle();
}

void WaveViews::hoverCursor(int channel, std::int64_t x, int y)
{
    const ViewGeometry g = geometry(channel);
    const int wh = g.waveHeight();
    CursorKind cursor = CursorKind::Arrow;
    if (!ws_.document.hasData() || !onDocument(g, x, y)) {
        host_.setViewCursor(channel, cursor);
        return;
    }
    const RedSelection& red = ws_.red;
    if (y < wh) {
        if (!red.exists() || red.redChannel != channel) {
            cursor = CursorKind::C201;
        } else {
            const Span r = rangeColumns(g, red.redStart, red.redEnd);
            if (near(x, r.first, kEdgeReach) || near(x, r.last, kEdgeReach))
                cursor = CursorKind::C205;
            else if (x < r.first || x > r.last)
                cursor = CursorKind::C201;
        }
    } else if (y > wh && y < wh + g.band) {
        const BandHit hit = hitBand(g, selectionTable(ws_.document, channel), x, y, false);
        if (hit.kind == BandHit::LevelStart || hit.kind == BandHit::LevelEnd)
            cursor = CursorKind::C206;
        else if (hit.kind == BandHit::EdgeStart || hit.kind == BandHit::EdgeEnd)
            cursor = CursorKind::C205;
    }
    host_.setViewCursor(channel, cursor);
}

std::string WaveViews::redSelectionText() const
{
    const RedSelection& red = ws_.red;
    if (!red.exists() || !ws_.document.hasData())
        return {};
    const std::int64_t length = static_cast<std::int64_t>(red.redEnd) - red.redStart + 1;
    const double rate = ws_.document.format.nSamplesPerSec;
    return format("選択中： %d - %d ( %lld , %.4lf 秒 )", red.redStart, red.redEnd, static_cast<long long>(length),
                  static_cast<double>(length) / rate);
}

std::string WaveViews::positionText(int channel, int px, int y) const
{
    const SoundDocument& doc = ws_.document;
    if (!doc.hasData())
        return "現在地：";
    const ViewGeometry g = geometry(channel);
    const std::int64_t x = px - g.margin;
    const double rate = doc.format.nSamplesPerSec;
    const double seconds = doc.frameCount / rate;
    const Span cols = documentColumns(g);
    if (x < cols.first || x > cols.last || y < 0 || y >= g.waveHeight() + g.band)
        return format("現在地：               領域外 / %d ( %.4lf 秒 )", doc.frameCount, seconds);
    std::int64_t first;
    std::int64_t last;
    if (g.zoomedIn()) {
        first = last = g.frameUnderColumn(static_cast<double>(x));
    } else {
        first = g.firstFrameOfColumn(static_cast<double>(x));
        last = g.lastFrameOfColumn(static_cast<double>(x));
    }
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, doc.frameCount - 1);
    return format("現在地： %lld - %lld ( %.4lf 秒 ) / %d ( %.4lf 秒 )", static_cast<long long>(first),
                  static_cast<long long>(last), ((first + last) * 0.5) / rate, doc.frameCount, seconds);
}

void WaveViews::updateStatus(int channel, int x, int y)
{
    ui_.setStatusText(0, positionText(channel, x, y));
    if (ws_.document.hasData())
        ui_.setStatusText(1, redSelectionText());
}

void WaveViews::scrollHorizontal(int channel, ScrollRequest request, int thumbPosition)
{
    SoundDocument& doc = ws_.document;
    View& v = views_[index(channel)];
    if (!doc.hasData() || request == ScrollRequest::Other)
        return;
    ViewState& state = viewState(channel);
    const double unit = 32768.0 / std::max(1, doc.frameCount);
    if (request == ScrollRequest::Thumb) {
        state.x0 = std::max(0.0, thumbPosition / unit);
    } else {
        const std::int64_t step = std::max<std::int64_t>(1, floorToInt(unit * 10.0 / state.sx + 0.5));
        std::int64_t position = v.bars.hPos;
        if (request == ScrollRequest::LineBack)
            position = std::max<std::int64_t>(0, position - step);
        else
            position = std::min<std::int64_t>(position + step, static_cast<std::int64_t>(v.bars.hMax) - v.bars.hPage + 1);
        v.bars.hPos = static_cast<int>(position);
        state.x0 = position / unit;
    }
    render(channel);
}

void WaveViews::scrollVertical(int channel, ScrollRequest request, int thumbPosition)
{
    SoundDocument& doc = ws_.document;
    View& v = views_[index(channel)];
    if (!doc.hasData() || request == ScrollRequest::Other)
        return;
    ViewState& state = viewState(channel);
    const bool eightBit = doc.format.wBitsPerSample == 8;
    const double wh = geometry(channel).waveHeight();
    auto scrollYFrom = [&](double p) {
        return eightBit ? 256.0 - p / 64.0 - wh / state.sy : 32768.0 - p - wh / state.sy;
    };
    const double bottom = eightBit ? 0.0 : -32768.0;
    if (request == ScrollRequest::Thumb) {
        state.y0 = std::max(bottom, scrollYFrom(thumbPosition));
    } else {
        const std::int64_t step
            = std::max<std::int64_t>(1, floorToInt((eightBit ? 640.0 : 10.0) / state.sy + 0.5));
        std::int64_t position = v.bars.vPos;
        if (request == ScrollRequest::LineBack) {
            position = std::max<std::int64_t>(0, position - step);
            v.bars.vPos = static_cast<int>(position);
            state.y0 = scrollYFrom(static_cast<double>(position));
        } else {
            position = std::min<std::int64_t>(position + step, static_cast<std::int64_t>(v.bars.vMax) - v.bars.vPage + 1);
            v.bars.vPos = static_cast<int>(position);
            state.y0 = std::max(bottom, scrollYFrom(static_cast<double>(position)));
        }
    }
    render(channel);
}

void WaveViews::wheel(int channel, WheelAction action, int notches, int px, int y)
{
    if (ws_.dragMode != 0 || !ws_.document.hasData() || !hasImage(channel))
        return;
    const ViewGeometry g = geometry(channel);
    applyWheel(viewState(channel), ws_.document, action, notches, static_cast<double>(px) - g.margin, g.viewWidth(),
               g.waveHeight());
    render(channel);
    updateStatus(channel, px, y);
}

} // namespace sonavik
