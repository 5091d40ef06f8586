#include "spectrogram/spectrogram_view.h"

#include "document/workspace.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectral_repair.h"
#include "spectrogram/spectrogram.h"
#include "spectrogram/spectrogram_analysis.h"
#include "views/view_geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace sonavik {

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGrid{51, 119, 136};
constexpr Rgb kTick{136, 238, 255};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kSelection{255, 0, 0};
constexpr int kTickRows = 6;
constexpr int kTickColumns = 5;
constexpr int kLabelTop = 10;
constexpr int kFrequencyLabelOffset = 40;
constexpr int kStatusTextLeft = 10;
constexpr int kScrollUnits = 32768;
// From about four million cells on, adding every cell of a fitted plot takes longer than a frame of video.
constexpr std::int64_t kSumsFromCells = std::int64_t{1} << 22;

int toInt(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, -(1 << 30), 1 << 30)); }

// "%.<precision>lf" whatever the process's locale.
std::string fixed(double value, int precision)
{
    char text[400];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

std::string num(std::int64_t v) { return std::to_string(v); }

int roundScroll(double v)
{
    const double r = std::floor(v + 0.5);
    if (std::isnan(r))
        return 0;
    return static_cast<int>(std::clamp(r, -2147483648.0, 2147483647.0));
}

// Copies src into dst with its top-left corner at (x, yTop); parts outside dst are left out.
void blit(PixelImage& dst, const PixelImage& src, int x, int yTop)
{
    if (src.empty() || dst.empty())
        return;
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + src.width(), dst.width());
    if (x0 >= x1)
        return;
    for (int y = 0; y < src.height(); ++y) {
        const int dy = yTop + y;
        if (dy < 0 || dy >= dst.height())
            continue;
        std::memcpy(dst.at(x0, dy), src.at(x0 - x, y), 3 * static_cast<std::size_t>(x1 - x0));
    }
}

// Rows counted from the bottom, as the buffers store them.
void setGreenFromBottom(PixelImage& image, int x, int rowFromBottom)
{
    const int yTop = image.height() - 1 - rowFromBottom;
    if (image.contains(x, yTop))
        image.at(x, yTop)[1] = 255;
}

// The layout sizes are never edited; a settings file that holds nonsense for them gets the usual ones.
int layoutValue(std::int32_t stored, int usual) { return stored >= 0 && stored <= 1024 ? stored : usual; }

void replaceAllocation(PixelImage& image, int width, int height, bool wanted, bool& failed)
{
    image = PixelImage();
    if (failed || !wanted)
        return;
    auto created = PixelImage::create(width, height);
    if (!created)
        failed = true;
    else
        image = std::move(*created);
}

} // namespace

const std::vector<SpectrogramButton>& spectrogramButtons()
{
    using namespace spectrogram_cmd;
    static const std::vector<SpectrogramButton> buttons = {
        {GainUp, "K1", 311, 0, 0},       {LogColours, "U1", 315, 0, 1},      {ZoomIn, "D1", 313, 0, 2},
        {TimeZoomOut, "R1", 302, 0, 3},  {TimeZoomIn, "L1", 303, 0, 4},      {Dot, "F1", 317, 0, 5},
        {Blank, "Q1", 316, 0, 6},        {SaveBitmap, "M1", 308, 0, 7},      {GainDown, "K2", 312, 1, 0},
        {LinearColours, "U2", 318, 1, 1}, {ZoomOut, "D2", 314, 1, 2},        {FrequencyZoomOut, "R2", 304, 1, 3},
        {FrequencyZoomIn, "L2", 305, 1, 4}, {Fit, "F2", 306, 1, 5},          {Resynthesize, "Q2", 310, 1, 6},
        {SaveSpectra, "M2", 309, 1, 7},
    };
    return buttons;
}

const std::vector<SpectrogramMenuItem>& spectrogramMenu()
{
    using namespace spectrogram_cmd;
    static const std::vector<SpectrogramMenuItem> items = {
        {Erase, "消去"},       {Double, "大きさを２倍"}, {Halve, "大きさを半分"},
        {Keep, "トリミング"},  {Cancel, "キャンセル"},   {0, ""},
        {PlaySelection, "選択範囲を再生"}, {0, ""},
        {Repair, "修復"},      {Harmonics, "倍音も"},    {SnapToPeak, "ピークに合わせる"},
    };
    return items;
}

SpectrogramView::SpectrogramView(Spectrogram& spectrogram, Workspace& ws, Ui& ui, StripColours colours)
    : s_(spectrogram),
      ws_(ws),
      ui_(ui),
      colours_(colours),
      buttons_(layoutValue(ws.settings.spectrogramButtonsWidth, 48)),
      axisWidth_(layoutValue(ws.settings.spectrogramAxisWidth, 64)),
      axisHeight_(layoutValue(ws.settings.spectrogramAxisHeight, 64)),
      status_(layoutValue(ws.settings.spectrogramStatusHeight, 64))
{
}

SpectrogramView::~SpectrogramView() = default;

int SpectrogramView::buttonHeight() const { return (clientHeight_ - status_) / 8; }

ColourGrid SpectrogramView::grid() const
{
    ColourGrid g;
    if (s_.colourBitmap.empty())
        return g;
    g.pixels = s_.colourBitmap.data();
    g.frames = s_.spectrumCount;
    g.bins = s_.binCount;
    g.stride = s_.bitmapStride();
    return g;
}

PlotAxis SpectrogramView::timeAxis() const { return {s_.originX, s_.zoomX, s_.spectrumCount, plotWidth()}; }

PlotAxis SpectrogramView::frequencyAxis() const { return {s_.originY, s_.zoomY, s_.binCount, plotHeight()}; }

bool SpectrogramView::ready() const { return plotWidth() > 0 && plotHeight() > 0; }

bool SpectrogramView::commandAllowed()
{
    if (!ready())
        return false;
    if (plot_.empty()) {
        ui_.beep(BeepKind::Error);
        return false;
    }
    return true;
}

void SpectrogramView::fitAxes()
{
    if (s_.spectrumCount <= 0 || s_.binCount <= 0)
        return;
    s_.originX = 0.0;
    s_.originY = 0.0;
    s_.zoomX = static_cast<double>(plotWidth()) / s_.spectrumCount;
    s_.zoomY = static_cast<double>(plotHeight()) / s_.binCount;
}

void SpectrogramView::resize(int clientWidth, int clientHeight)
{
    clientWidth_ = clientWidth;
    clientHeight_ = clientHeight;
    shownStale_ = true;
    plotShownStale_ = true;
    const int w = plotWidth();
    const int h = plotHeight();
    bool failed = false;
    replaceAllocation(plot_, w, h, w >= 1 && h >= 1, failed);
    replaceAllocation(frequencyStrip_, axisWidth_, h, h >= 1, failed);
    replaceAllocation(timeStrip_, w, axisHeight_, w >= 1, failed);
    replaceAllocation(statusStrip_, buttons_ + axisWidth_ + w, status_, buttons_ + axisWidth_ + w >= 1, failed);
    if (failed) {
        ui_.beep(BeepKind::Error);
        return;
    }
    // A window too small for a plot keeps its zoom until the plot has an area again.
    if (w >= 1 && h >= 1) {
        if (s_.plotWidth < 1 || s_.plotHeight < 1) {
            if (s_.plotWidth == -1)
                fitAxes();
        } else {
            s_.zoomX = s_.zoomX * w / s_.plotWidth;
            s_.zoomY = s_.zoomY * h / s_.plotHeight;
        }
        s_.plotWidth = w;
        s_.plotHeight = h;
    }
    render(true);
}

void SpectrogramView::recolour()
{
    colourSpectrogram(ui_, s_, ws_.settings);
    sums_.reset();
    sumsTried_ = false;
}

void SpectrogramView::render(bool full)
{
    shownStale_ = true;
    plotShownStale_ = plotShownStale_ || full;
    if (full && !plot_.empty()) {
        const ColourGrid g = grid();
        const PlotAxis x = timeAxis();
        const bool large = g.frames * g.bins >= kSumsFromCells;
        const bool wanted = useSums_ == BlockSums::Always || (useSums_ == BlockSums::Auto && large);
        if (wanted && !sumsTried_ && !x.magnified() && g.pixels) {
            // With the sums of this view's column edges kept whole: it is drawn again quickly after a
            // change of colours or a vertical zoom, and so is the fitted view the window opens with.
            sums_ = FrameBlockSums::build(g, columnEdges(x));
            sumsTried_ = true;
        }
        renderPlot(plot_, g, x, frequencyAxis(), wanted ? sums_.get() : nullptr);
    }
    if (!frequencyStrip_.empty())
        std::memset(frequencyStrip_.data(), 0, frequencyStrip_.byteSize());
    if (!timeStrip_.empty())
        std::memset(timeStrip_.data(), 0, timeStrip_.byteSize());
    drawGrid();
    drawTimeLabels();
    drawFrequencyLabels();
    drawCrossSections();
    drawStatus();
    if (full)
        updateBars();
}

void SpectrogramView::drawGrid()
{
    const int w = plotWidth();
    const int h = plotHeight();
    for (int k = 0; k < 10; ++k) {
        if (!frequencyStrip_.empty()) {
            const int x = axisWidth_ * k / 10;
            for (int r = 0; r <= h - 2; ++r)
                frequencyStrip_.setPixel(x, h - 1 - r, kGrid);
        }
        if (!timeStrip_.empty()) {
            const int r = axisHeight_ * k / 10;
            for (int x = 0; x <= w - 2; ++x)
                timeStrip_.setPixel(x, axisHeight_ - 1 - r, kGrid);
        }
    }
}

void SpectrogramView::drawTimeLabels()
{
    if (timeStrip_.empty() || s_.spectrumCount <= 0)
        return;
    const PlotAxis x = timeAxis();
    const auto tickAt = [&](std::int64_t c0, std::int64_t c1) {
        timeStrip_.fillRect(toInt(c0), 0, toInt(c1), kTickRows - 1, kTick);
    };
    if (x.magnified()) {
        const std::int64_t step = frameRulerInterval(x.zoom);
        const CellRange frames = x.visibleCells();
        for (std::int64_t j = frames.lo; j <= frames.hi; ++j) {
            if (j % step != 0)
                continue;
            const CellRange cols = x.limitPixels(x.pixelsOf(j));
            timeStrip_.textCentred(toInt((cols.lo + cols.hi) / 2), kLabelTop, num(j) + " p", kWhite);
            tickAt(cols.lo, cols.hi);
        }
        return;
    }
    const std::int64_t step = sampleRulerStep(x.zoom);
    const CellRange cols = x.dataPixels();
    for (std::int64_t c = cols.lo; c <= cols.hi; ++c) {
        const CellRange frames = x.limitCells(x.cellsUnder(c));
        if (frames.empty())
            continue;
        if ((frames.hi + 1) / step != frames.lo / step) {
            timeStrip_.textCentred(toInt(c), kLabelTop, num((frames.hi + 1) / step * step) + " p", kWhite);
            tickAt(c, c);
        }
    }
}

void SpectrogramView::drawFrequencyLabels()
{
    if (frequencyStrip_.empty() || s_.binCount <= 0 || s_.sampleRate == 0 || s_.fftSize <= 0)
        return;
    const PlotAxis y = frequencyAxis();
    const int h = plotHeight();
    const double rate = s_.sampleRate;
    const double n = s_.fftSize;
    // Labels are centred on their column and their row, but one wider than the strip would lose its first
    // digits at the left edge ("22050.0 Hz" read as "2050.0 Hz"), and one on a row near the top, zoomed
    // and scrolled, the top of its digits: it starts at that edge instead.
    const auto label = [&](std::int64_t r, const std::string& text) {
        const int left = std::max(0, centredTextLeft(axisWidth_ - kFrequencyLabelOffset, text.size()));
        frequencyStrip_.textLeft(left, toInt(std::max<std::int64_t>(0, h - 4 - r)), text, kWhite);
    };
    const auto tickAt = [&](std::int64_t r0, std::int64_t r1) {
        frequencyStrip_.fillRect(axisWidth_ - kTickColumns, toInt(h - 1 - r1), axisWidth_ - 1, toInt(h - 1 - r0), kTick);
    };
    if (y.magnified()) {
        const std::int64_t step = std::max(1, frameRulerInterval(y.zoom) / 2);
        const CellRange bins = y.visibleCells();
        for (std::int64_t b = bins.lo; b <= bins.hi; ++b) {
            if (b % step != 0)
                continue;
            const CellRange rows = y.limitPixels(y.pixelsOf(b));
            label((rows.lo + rows.hi) / 2, fixed(b * rate / n, 1) + " Hz");
            tickAt(rows.lo, rows.hi);
        }
        return;
    }
    const double perHertz = y.zoom * n / rate;
    const std::int64_t fullStep = perHertz > 1.0 ? frameRulerInterval(perHertz) : sampleRulerStep(perHertz);
    const double step = static_cast<double>(std::max<std::int64_t>(1, fullStep / 2));
    const CellRange rows = y.dataPixels();
    for (std::int64_t r = rows.lo; r <= rows.hi; ++r) {
        const CellRange bins = y.limitCells(y.cellsUnder(r));
        if (bins.empty())
            continue;
        const double lo = std::trunc(bins.lo * rate / n / step);
        const double hi = std::trunc((bins.hi + 1) * rate / n / step);
        if (lo != hi) {
            label(r, num(static_cast<std::int64_t>(hi * step)) + " Hz");
            tickAt(r, r);
        }
    }
}

void SpectrogramView::drawCrossSections()
{
    if (!pointer_ || plot_.empty())
        return;
    const int w = plotWidth();
    const int h = plotHeight();
    const int c = pointer_->first - buttons_ - axisWidth_;
    const int r = h - 1 - pointer_->second;
    if (c < 0 || c >= w || r < 0 || r >= h)
        return;
    if (!timeStrip_.empty()) {
        for (int x = 0; x < w; ++x) {
            const int v = plot_.at(x, h - 1 - r)[1];
            const int rows = v * axisHeight_ / 256;
            for (int k = 0; k < rows; ++k)
                setGreenFromBottom(timeStrip_, x, k);
        }
    }
    if (!frequencyStrip_.empty()) {
        for (int y = 0; y < h; ++y) {
            const int v = plot_.at(c, h - 1 - y)[1];
            const int cols = v * axisWidth_ / 256;
            for (int k = 0; k < cols; ++k)
                setGreenFromBottom(frequencyStrip_, k, y);
        }
    }
}

void SpectrogramView::drawStatus()
{
    PixelImage& img = statusStrip_;
    if (img.empty())
        return;
    img.fill(colours_.face);
    const int w = img.width();
    const int h = img.height();
    for (int x = 0; x <= w - 2; ++x) {
        img.setPixel(x, 3, colours_.shadow);
        img.setPixel(x, h - 1, colours_.highlight);
    }
    for (int y = 4; y <= h - 1; ++y) {
        img.setPixel(0, y, colours_.shadow);
        img.setPixel(w - 1, y, colours_.highlight);
    }
    for (const StatusLine& line : statusLines())
        img.textLeft(kStatusTextLeft, line.top, line.text, colours_.text);
}

std::vector<SpectrogramView::StatusLine> SpectrogramView::statusLines() const
{
    std::vector<StatusLine> lines;
    const double n = s_.fftSize;
    const double rate = s_.sampleRate;
    const auto seconds = [&](std::int64_t frames) { return fixed(s_.secondsOfFrames(frames), 4) + " s"; };
    const auto hertz = [&](std::int64_t bins) { return fixed(n > 0 ? bins * rate / n : 0.0, 1) + " Hz"; };
    const auto cells = [](CellRange f, CellRange b) {
        return "( " + num(f.lo) + " p , " + num(b.lo) + " p )-( " + num(f.hi) + " p , " + num(b.hi) + " p )";
    };
    const auto span = [&](CellRange f, CellRange b) {
        return "( " + seconds(f.lo) + " , " + hertz(b.lo) + " )-( " + seconds(f.hi + 1) + " , " + hertz(b.hi + 1) + " )";
    };
    const PlotAxis x = timeAxis();
    const PlotAxis y = frequencyAxis();
    if (pointer_ && ready()) {
        CellRange frames = x.cellsUnder(pointer_->first - buttons_ - axisWidth_);
        CellRange bins = y.cellsUnder(plotHeight() - 1 - pointer_->second);
        if (x.touches(frames) && y.touches(bins)) {
            frames = x.limitCells(frames);
            bins = y.limitCells(bins);
            lines.push_back({10, "Pos: " + cells(frames, bins)});
            lines.push_back({20, "Pos: " + span(frames, bins)});
        }
    }
    if (s_.selFrameLo != -1) {
        CellRange frames{s_.selFrameLo, s_.selFrameHi};
        CellRange bins{s_.selBinLo, s_.selBinHi};
        if (x.touches(frames) && y.touches(bins)) {
            frames = x.limitCells(frames);
            bins = y.limitCells(bins);
            const std::int64_t nf = frames.hi - frames.lo + 1;
            const std::int64_t nb = bins.hi - bins.lo + 1;
            lines.push_back({35, "Sel: " + cells(frames, bins) + " = ( " + num(nf) + " p , " + num(nb) + " p )"});
            lines.push_back({45, "Sel: " + span(frames, bins) + " = ( " + seconds(nf) + " , " + hertz(nb) + " )"});
        }
    }
    return lines;
}

void SpectrogramView::updateBars()
{
    const double frames = s_.spectrumCount > 0 ? s_.spectrumCount : 1;
    const double bins = s_.binCount > 0 ? s_.binCount : 1;
    const auto store = [](ScrollBarState& bar, int page, int pos) {
        // As the platform's bar keeps them: the page within the range, the thumb inside the track.
        bar.page = std::clamp(page, 0, bar.max + 1);
        bar.pos = std::clamp(pos, 0, std::max(0, bar.max - std::max(bar.page - 1, 0)));
    };
    store(hBar_, roundScroll(kScrollUnits / frames * plotWidth() / s_.zoomX), roundScroll(kScrollUnits / frames * s_.originX));
    store(vBar_, roundScroll(kScrollUnits / bins * plotHeight() / s_.zoomY),
          roundScroll((bins - s_.originY - plotHeight() / s_.zoomY) * kScrollUnits / bins));
}

void SpectrogramView::scroll(bool horizontal, ScrollRequest request, int thumbPosition)
{
    if (request == ScrollRequest::Other || !commandAllowed())
        return;
    ScrollBarState& bar = horizontal ? hBar_ : vBar_;
    const double cells = horizontal ? s_.spectrumCount : s_.binCount;
    const double zoom = horizontal ? s_.zoomX : s_.zoomY;
    const int step = std::max(1, roundScroll(kScrollUnits / cells * 10.0 / zoom));
    int pos = bar.pos;
    switch (request) {
    case ScrollRequest::LineBack:
        pos = std::max(pos - step, 0);
        break;
    case ScrollRequest::LineForward:
        pos = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(pos) + step, bar.max - bar.page + 1));
        break;
    default:
        pos = thumbPosition & 0xFFFF;
        break;
    }
    if (horizontal) {
        s_.originX = std::max(0.0, static_cast<double>(pos) * s_.spectrumCount / kScrollUnits);
    } else {
        s_.originY = s_.binCount - static_cast<double>(pos) * s_.binCount / kScrollUnits - plotHeight() / s_.zoomY;
        if (request != ScrollRequest::LineBack)
            s_.originY = std::max(0.0, s_.originY);
    }
    bar.pos = std::clamp(pos, 0, std::max(0, bar.max - std::max(bar.page - 1, 0)));
    render(true);
}

void SpectrogramView::zoomIn(bool time)
{
    double& o = time ? s_.originX : s_.originY;
    double& z = time ? s_.zoomX : s_.zoomY;
    const double p = time ? plotWidth() : plotHeight();
    o = o + (p / z) * 0.25;
    z = z * 2.0;
}

void SpectrogramView::zoomOut(bool time)
{
    double& o = time ? s_.originX : s_.originY;
    double& z = time ? s_.zoomX : s_.zoomY;
    const double p = time ? plotWidth() : plotHeight();
    const double n = time ? s_.spectrumCount : s_.binCount;
    o = o - (p / z) * 0.5;
    z = z / 2.0;
    if (o < 0.0)
        o = 0.0;
    if (o + p / z > n)
        o = n - p / z;
    if (o < 0.0) {
        o = 0.0;
        z = p / n;
    }
}

SpectrogramAction SpectrogramView::command(int id)
{
    using namespace spectrogram_cmd;
    if (id < GainUp || id > SaveSpectra || !commandAllowed())
        return SpectrogramAction::None;
    switch (id) {
    case GainUp:
    case GainDown:
        s_.gain = id == GainUp ? s_.gain * 2.0 : s_.gain / 2.0;
        recolour();
        render(true);
        return SpectrogramAction::None;
    case LogColours:
    case LinearColours: {
        const int wanted = id == LogColours ? 1 : 0;
        if (s_.logDisplay == wanted)
            return SpectrogramAction::None;
        s_.logDisplay = wanted;
        recolour();
        render(true);
        return SpectrogramAction::None;
    }
    case ZoomIn:
        zoomIn(true);
        zoomIn(false);
        break;
    case TimeZoomIn:
        zoomIn(true);
        break;
    case FrequencyZoomIn:
        zoomIn(false);
        break;
    case ZoomOut:
        zoomOut(true);
        zoomOut(false);
        break;
    case TimeZoomOut:
        zoomOut(true);
        break;
    case FrequencyZoomOut:
        zoomOut(false);
        break;
    case Fit:
        fitAxes();
        break;
    case SaveBitmap:
        return SpectrogramAction::SaveBitmap;
    case SaveSpectra:
        return SpectrogramAction::SaveSpectra;
    case Resynthesize:
        return SpectrogramAction::Resynthesize;
    default:
        return SpectrogramAction::None;
    }
    render(true);
    return SpectrogramAction::None;
}

void SpectrogramView::setGain(double gain)
{
    if (!(gain > 0.0) || gain == s_.gain)
        return;
    s_.gain = gain;
    recolour();
    render(true);
}

std::optional<SpectrogramView::PixelRect> SpectrogramView::selectionPixels() const
{
    if (s_.selFrameLo == -1)
        return std::nullopt;
    return cellPixels(s_.selFrameLo, s_.selFrameHi, s_.selBinLo, s_.selBinHi);
}

// The pixels of a rectangle of cells, limited to the plot; nullopt when none of it is in view.
std::optional<SpectrogramView::PixelRect> SpectrogramView::cellPixels(std::int64_t frameLo, std::int64_t frameHi,
                                                                      std::int64_t binLo, std::int64_t binHi) const
{
    const PlotAxis x = timeAxis();
    const PlotAxis y = frequencyAxis();
    CellRange cols{x.firstPixel(frameLo), x.lastPixel(frameHi)};
    CellRange rows{y.firstPixel(binLo), y.lastPixel(binHi)};
    const auto outside = [](CellRange r, int pixels) {
        return (r.lo < 0 && r.hi < 0) || (r.lo > pixels - 1 && r.hi > pixels - 1);
    };
    if (outside(cols, x.pixels) || outside(rows, y.pixels))
        return std::nullopt;
    cols = x.limitPixels(cols);
    rows = y.limitPixels(rows);
    return PixelRect{cols.lo, cols.hi, rows.lo, rows.hi};
}

// The selection, or with harmonics on every band the next edit takes, over the selected frames. Bands
// that share rows of pixels (zoomed out) are drawn as one, so that the exclusive-or does not undo them.
std::vector<SpectrogramView::PixelRect> SpectrogramView::overlayPixels() const
{
    std::vector<PixelRect> rects;
    if (s_.selFrameLo == -1)
        return rects;
    if (!harmonics_) {
        if (const auto r = selectionPixels())
            rects.push_back(*r);
        return rects;
    }
    for (const BinRange& band : bandBins(s_, s_.selBinLo, s_.selBinHi, harmonicCount(ws_.settings))) {
        const auto r = cellPixels(s_.selFrameLo, s_.selFrameHi, band.lo, band.hi);
        if (!r)
            continue;
        if (!rects.empty() && r->y0 <= rects.back().y1)
            rects.back().y1 = std::max(rects.back().y1, r->y1);
        else
            rects.push_back(*r);
    }
    return rects;
}

bool SpectrogramView::selectionShown() const
{
    // A press that has not moved yet has not drawn its one-cell selection.
    return s_.selFrameLo != -1 && !(dragging_ && ws_.dragMode == 100);
}

const PixelImage& SpectrogramView::picture()
{
    if (!shownStale_)
        return shown_;
    shownStale_ = false;
    bool fresh = plotShownStale_;
    if (shown_.width() != clientWidth_ || shown_.height() != clientHeight_) {
        auto created = PixelImage::create(std::max(0, clientWidth_), std::max(0, clientHeight_));
        shown_ = created ? std::move(*created) : PixelImage();
        fresh = true;
    }
    if (shown_.empty())
        return shown_;
    const int h = plotHeight();
    const int left = buttons_ + axisWidth_;
    std::vector<PixelRect> overlay;
    if (!plot_.empty() && selectionShown())
        overlay = overlayPixels();
    // Pointer moves change only the strips: the plot and its overlay are copied again only when they changed.
    if (fresh)
        std::memset(shown_.data(), 0, shown_.byteSize());
    if (fresh || overlay != shownOverlay_) {
        blit(shown_, plot_, left, 0);
        for (const PixelRect& r : overlay)
            shown_.xorRect(left + toInt(r.x0), toInt(h - 1 - r.y1), left + toInt(r.x1), toInt(h - 1 - r.y0), kSelection);
    }
    shownOverlay_ = overlay;
    plotShownStale_ = false;
    blit(shown_, frequencyStrip_, buttons_, 0);
    blit(shown_, timeStrip_, left, h);
    blit(shown_, statusStrip_, 0, h + axisHeight_);
    return shown_;
}

bool SpectrogramView::onDataPixels(int px, int py) const
{
    const CellRange cols = timeAxis().dataPixels();
    const CellRange rows = frequencyAxis().dataPixels();
    return px >= cols.lo && px <= cols.hi && py >= rows.lo && py <= rows.hi;
}

void SpectrogramView::clearSelection()
{
    s_.selFrameLo = -1;
    shownStale_ = true;
}

void SpectrogramView::mouseMove(int x, int y)
{
    pointer_ = std::make_pair(x, y);
    if (dragging_ && ws_.dragMode != 0) {
        const CellRange frames = timeAxis().limitCells(timeAxis().cellsUnder(x - buttons_ - axisWidth_));
        const CellRange bins = frequencyAxis().limitCells(frequencyAxis().cellsUnder(plotHeight() - 1 - y));
        s_.currentCell[0] = static_cast<std::int32_t>(frames.lo);
        s_.currentCell[1] = static_cast<std::int32_t>(frames.hi);
        s_.currentCell[2] = static_cast<std::int32_t>(bins.lo);
        s_.currentCell[3] = static_cast<std::int32_t>(bins.hi);
        s_.selFrameLo = std::min(s_.currentCell[0], s_.anchorCell[0]);
        s_.selFrameHi = std::max(s_.currentCell[1], s_.anchorCell[1]);
        s_.selBinLo = std::min(s_.currentCell[2], s_.anchorCell[2]);
        s_.selBinHi = std::max(s_.currentCell[3], s_.anchorCell[3]);
        ws_.dragMode = 101;
    }
    render(false);
}

void SpectrogramView::leftPress(int x, int y)
{
    pointer_ = std::make_pair(x, y);
    ws_.dragMode = 0;
    dragging_ = false;
    if (!ready() || plot_.empty())
        return;
    const int px = x - buttons_ - axisWidth_;
    const int py = plotHeight() - 1 - y;
    if (!onDataPixels(px, py))
        return;
    const CellRange frames = timeAxis().limitCells(timeAxis().cellsUnder(px));
    const CellRange bins = frequencyAxis().limitCells(frequencyAxis().cellsUnder(py));
    if (s_.selFrameLo != -1) {
        const auto r = selectionPixels();
        const bool inside = r && px >= r->x0 && px <= r->x1 && py >= r->y0 && py <= r->y1;
        clearSelection();
        render(false);
        if (inside)
            return;
    }
    const std::int32_t cell[4] = {static_cast<std::int32_t>(frames.lo), static_cast<std::int32_t>(frames.hi),
                                  static_cast<std::int32_t>(bins.lo), static_cast<std::int32_t>(bins.hi)};
    std::copy(cell, cell + 4, s_.anchorCell.begin());
    std::copy(cell, cell + 4, s_.currentCell.begin());
    s_.selFrameLo = cell[0];
    s_.selFrameHi = cell[1];
    s_.selBinLo = cell[2];
    s_.selBinHi = cell[3];
    ws_.dragMode = 100;
    dragging_ = true;
}

void SpectrogramView::leftRelease(int, int)
{
    if (!dragging_)
        return;
    if (ws_.dragMode == 100)
        clearSelection();
    if (ws_.dragMode == 100 || ws_.dragMode == 101)
        ws_.dragMode = 0;
    dragging_ = false;
    shownStale_ = true;
}

bool SpectrogramView::rightRelease(int x, int y)
{
    if (s_.selFrameLo == -1 || !ready() || plot_.empty())
        return false;
    const auto r = selectionPixels();
    const int px = x - buttons_ - axisWidth_;
    const int py = plotHeight() - 1 - y;
    return r && px >= r->x0 && px <= r->x1 && py >= r->y0 && py <= r->y1;
}

void SpectrogramView::pointerLeft() { pointer_.reset(); }

void SpectrogramView::setHarmonics(bool on)
{
    harmonics_ = on;
    shownStale_ = true;
}

SpectrogramAction SpectrogramView::menuCommand(int id)
{
    using namespace spectrogram_cmd;
    if (s_.selFrameLo == -1)
        return SpectrogramAction::None;
    if (id == PlaySelection)
        return SpectrogramAction::PlaySelection;
    if (id == Harmonics) {
        if (!harmonics_)
            return SpectrogramAction::AskHarmonics;
        setHarmonics(false);
        return SpectrogramAction::None;
    }
    const auto edit = spectralEditOfCommand(id);
    const auto rect = selectionRect(s_);
    if (id == SnapToPeak && rect) {
        if (const auto snapped = snappedToPeak(s_, *rect)) {
            s_.selBinLo = snapped->binLo;
            s_.selBinHi = snapped->binHi;
        }
        render(false);
        return SpectrogramAction::None;
    }
    if (!edit || !rect)
        return SpectrogramAction::None;
    const int harmonics = std::exchange(harmonics_, false) ? harmonicCount(ws_.settings) : 0;
    shownStale_ = true;
    // A repair with no frame outside the rectangle has nothing to rebuild from.
    if (!applyHarmonicEdit(s_, *edit, *rect, harmonics)) {
        ui_.beep(BeepKind::Error);
        return SpectrogramAction::None;
    }
    recolour();
    render(true);
    return SpectrogramAction::None;
}

} // namespace sonavik
