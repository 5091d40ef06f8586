#include "curve/curve_editor.h"

#include "curve/curve.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace sonavik {

namespace {

constexpr int kGrabDistance = 10;  // a press or hover counts when both distances are below this
constexpr double kInactiveX = 2.0;  // sorts every free slot after the active points
constexpr int kPixelLimit = 1 << 24;
constexpr int kMaxGainLines = 10000;  // the gain span comes from the settings file unchecked

// Truncation and floor into pixel coordinates, saturating far off screen (NaN lands there too).
int truncPixel(double v)
{
    if (!(v > -kPixelLimit))
        return -kPixelLimit;
    if (v > kPixelLimit)
        return kPixelLimit;
    return static_cast<int>(v);
}

int floorPixel(double v) { return truncPixel(std::floor(v)); }

double limitCoordinate(double v)
{
    if (v > 1.0)
        return 1.0;
    if (v >= 0.0)
        return v;
    return 0.0;
}

bool isActive(const CurvePoint& p) { return p.state != 0; }

bool near(int px, int py, int cx, int cy)
{
    return std::abs(px - cx) < kGrabDistance && std::abs(py - cy) < kGrabDistance;
}

void sortPoints(CurveData& data)
{
    for (CurvePoint& p : data.points)
        if (!isActive(p))
            p.x = kInactiveX;
    auto key = [](const CurvePoint& p) { return std::isnan(p.x) ? 3.0 : p.x; };
    std::stable_sort(std::begin(data.points), std::end(data.points),
                     [&key](const CurvePoint& a, const CurvePoint& b) { return key(a) < key(b); });
}

// Keeps every point's grey x between the positions of its neighbours, so the morphed points stay in
// order at every degree. Where the two limits cross (a damaged block), the lower one wins: that keeps
// the grey positions ascending, which a later point can then build on.
void orderGreyPositions(CurveData& data)
{
    int active[kCurvePoints];
    int n = 0;
    for (int i = 0; i < kCurvePoints; ++i)
        if (isActive(data.points[i]))
            active[n++] = i;
    for (int k = 0; k < n; ++k) {
        CurvePoint& p = data.points[active[k]];
        double v = p.xGray;
        if (k + 1 < n) {
            const CurvePoint& next = data.points[active[k + 1]];
            v = std::min(v, std::min(next.xGray, next.x));
        }
        if (k > 0) {
            const CurvePoint& previous = data.points[active[k - 1]];
            v = std::max(v, std::max(previous.x, previous.xGray));
        }
        p.xGray = v;
    }
}

} // namespace

CurvePlot CurvePlot::of(int width, int height)
{
    CurvePlot plot;
    plot.width = width;
    plot.height = height;
    plot.left = truncPixel(0.15 * width);
    plot.bottom = truncPixel(0.15 * height);
    plot.plotWidth = width - plot.left;
    plot.plotHeight = height - plot.bottom;
    return plot;
}

int CurvePlot::column(double x) const { return truncPixel(x * (plotWidth - 1) + left); }
int CurvePlot::row(double y) const { return truncPixel(y * (plotHeight - 1)); }
double CurvePlot::xAt(int px) const { return static_cast<double>(px - left) / (plotWidth - 1); }
double CurvePlot::yAt(int py) const { return static_cast<double>(py) / (plotHeight - 1); }

void normaliseCurve(CurveData& data)
{
    for (CurvePoint& p : data.points) {
        if (!isActive(p))
            continue;
        p.state = 1;
        p.xGray = limitCoordinate(p.xGray);
        p.yGray = limitCoordinate(p.yGray);
        p.x = limitCoordinate(p.x);
        p.y = limitCoordinate(p.y);
    }
    sortPoints(data);
    orderGreyPositions(data);
}

CurveEditor::CurveEditor(CurveData& data, Ui& ui) : data_(data), ui_(ui) { normaliseCurve(data_); }

EditorResponse CurveEditor::leftPress(int px, int py, int width, int height)
{
    const CurvePlot plot = CurvePlot::of(width, height);
    if (dragging_) {
        // The release of the last drag never arrived.
        ui_.beep(BeepKind::Error);
        dragging_ = false;
    }
    for (CurvePoint& p : data_.points)
        if (isActive(p))
            p.state = 1;

    EditorResponse response;
    bool grabbed = false;
    for (CurvePoint& p : data_.points) {
        if (!isActive(p))
            continue;
        if (near(px, py, plot.column(p.x), plot.row(p.y))) {
            p.state = 2;
            grabbed = true;
            break;
        }
        if (near(px, py, plot.column(p.xGray), plot.row(p.yGray))) {
            p.state = 3;
            grabbed = true;
            break;
        }
    }

    if (!grabbed) {
        for (CurvePoint& p : data_.points)
            if (!isActive(p))
                p.x = kInactiveX;
        CurvePoint* slot = nullptr;
        for (CurvePoint& p : data_.points) {
            if (!isActive(p)) {
                slot = &p;
                break;
            }
        }
        if (!slot) {
            ui_.beep(BeepKind::Error);
            return response;
        }
        const double x = plot.xAt(px);
        const double y = plot.yAt(py);
        if (!(x >= 0.0 && x <= 1.0 && y >= 0.0 && y <= 1.0))
            return response;  // a press in the margins adds nothing
        slot->x = x;
        slot->xGray = x;
        slot->y = y;
        switch (static_cast<CurveKind>(data_.displayKind)) {
        case CurveKind::Equaliser:
            slot->yGray = 0.5;  // unity gain
            break;
        case CurveKind::Nonlinear:
            slot->yGray = 1.0 - x;  // on the identity line
            break;
        default:
            slot->yGray = y;
            break;
        }
        slot->state = 2;
        sortPoints(data_);
        orderGreyPositions(data_);
        response.repaint = true;
    }

    response.cursor = CursorKind::C204;
    response.capture = MouseCapture::Take;
    dragging_ = true;
    return response;
}

EditorResponse CurveEditor::mouseMove(int px, int py, int width, int height)
{
    const CurvePlot plot = CurvePlot::of(width, height);
    EditorResponse response;
    if (!dragging_) {
        if (plot.inMargin(px, py)) {
            response.cursor = CursorKind::Arrow;
            return response;
        }
        response.cursor = CursorKind::C203;
        for (const CurvePoint& p : data_.points) {
            if (isActive(p) && (near(px, py, plot.column(p.x), plot.row(p.y)) ||
                                near(px, py, plot.column(p.xGray), plot.row(p.yGray)))) {
                response.cursor = CursorKind::C204;
                break;
            }
        }
        return response;
    }

    int k = 0;
    while (k < kCurvePoints && !(isActive(data_.points[k]) && (data_.points[k].state == 2 || data_.points[k].state == 3)))
        ++k;
    if (k == kCurvePoints) {
        dragging_ = false;
        ui_.beep(BeepKind::Error);
        response.cursor = CursorKind::C203;
        return response;
    }

    // The point may not pass either neighbour, with both of their positions.
    double x = limitCoordinate(plot.xAt(px));
    const double y = limitCoordinate(plot.yAt(py));
    for (int i = k - 1; i >= 0; --i) {
        const CurvePoint& previous = data_.points[i];
        if (isActive(previous)) {
            x = std::max(x, std::max(previous.x, previous.xGray));
            break;
        }
    }
    for (int i = k + 1; i < kCurvePoints; ++i) {
        const CurvePoint& next = data_.points[i];
        if (isActive(next)) {
            x = std::min(x, std::min(next.xGray, next.x));
            break;
        }
    }
    CurvePoint& p = data_.points[k];
    if (p.state == 2) {
        p.x = x;
        p.y = y;
    } else {
        p.xGray = x;
        p.yGray = y;
    }
    if (data_.displayKind == static_cast<std::int32_t>(CurveKind::Reverb)) {
        p.xGray = p.x;
        p.yGray = p.y;
    }
    response.repaint = true;
    return response;
}

EditorResponse CurveEditor::leftRelease()
{
    EditorResponse response;
    if (!dragging_) {
        ui_.beep(BeepKind::Error);
        return response;
    }
    for (CurvePoint& p : data_.points)
        if (p.state == 2 || p.state == 3)
            p.state = 1;
    dragging_ = false;
    response.capture = MouseCapture::Release;
    response.cursor = CursorKind::C203;
    return response;
}

std::string formatFixed(double value, int decimals)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "?";
    return std::string(buffer, result.ptr);
}

namespace {

class PictureBuilder {
public:
    PictureBuilder(CurvePicture& picture, const CurvePlot& plot) : items_(picture.items), plot_(plot) {}

    void line(int x0, int y0, int x1, int y1, Rgb colour) { items_.push_back(DrawLine{{x0, y0}, {x1, y1}, colour}); }
    void text(int x, int y, std::string s) { items_.push_back(DrawText{{x, y}, std::move(s)}); }
    void verticalGridLine(int x, Rgb colour) { line(x, 0, x, plot_.plotHeight, colour); }
    void horizontalGridLine(int y, Rgb colour) { line(plot_.left, y, plot_.width, y, colour); }

    // The tenths of the plot shared by the reverb and nonlinear grids.
    int tenthColumn(int i) const { return plot_.left + truncPixel((plot_.plotWidth - 1) / 10.0 * i); }
    int tenthHeight(int i) const { return truncPixel((plot_.plotHeight - 1) / 10.0 * i); }

    void tenthsGrid()
    {
        for (int i = 0; i <= 10; ++i)
            verticalGridLine(tenthColumn(i), curve_colour::kGrid);
        for (int i = 0; i <= 10; ++i)
            horizontalGridLine((plot_.plotHeight - 1) - tenthHeight(i), curve_colour::kGrid);
    }
    void horizontalLabel(int i, const std::string& s) { text(tenthColumn(i) - 10, plot_.plotHeight + 9, s); }
    void verticalLabel(int i, const std::string& s) { text(15, plot_.plotHeight - 6 - tenthHeight(i), s); }

    void axes()
    {
        line(plot_.left, 0, plot_.left, plot_.plotHeight - 1, curve_colour::kAxis);
        line(plot_.left, plot_.plotHeight - 1, plot_.width, plot_.plotHeight - 1, curve_colour::kAxis);
    }

    std::vector<DrawItem>& items_;
    const CurvePlot& plot_;
};

void drawReverbScales(PictureBuilder& b, const CurveData& data, double rate)
{
    const CurvePlot& plot = b.plot_;
    b.tenthsGrid();
    const double frames = std::ldexp(2048.0, data.kindValue);
    for (int i = 0; i <= 8; i += 2) {
        b.horizontalLabel(i, formatFixed(frames * i / 10.0 / rate, 1));
        b.verticalLabel(i, formatFixed(i / 10.0, 1));
    }
    b.text(10, 10, "残響音");
    b.text(plot.width - 30, plot.plotHeight + 10, "秒");
}

void drawNonlinearScales(PictureBuilder& b, const CurveData& data)
{
    const CurvePlot& plot = b.plot_;
    b.tenthsGrid();
    b.text(10, 10, "出力");
    b.text(plot.width - 30, plot.plotHeight + 10, "入力");
    // Mode 0 maps magnitudes (0 to 1); any other mode the whole signed range (-1 to 1).
    const bool signedRange = data.kindValue != 0;
    if (signedRange) {
        b.verticalGridLine(b.tenthColumn(5), curve_colour::kCentreCross);
        b.horizontalGridLine((plot.plotHeight - 1) - b.tenthHeight(5), curve_colour::kCentreCross);
    }
    for (int i = 0; i <= 8; i += 2) {
        const std::string label = formatFixed(signedRange ? (i - 5) / 5.0 : i / 10.0, 1);
        b.horizontalLabel(i, label);
        b.verticalLabel(i, label);
    }
}

void drawEqualiserScales(PictureBuilder& b, const CurveData& data, std::uint32_t samplesPerSec)
{
    const CurvePlot& plot = b.plot_;
    const int pw = plot.plotWidth;
    const int ph = plot.plotHeight;
    const double rate = samplesPerSec;
    const int size = data.kindValue;
    const double binWidth = rate / size;
    const double top = (size / 2) * binWidth;
    b.text(plot.left, ph + 16, "左端 = " + formatFixed(binWidth, 3) + "Hz");
    b.text(plot.left + pw / 2, ph + 16, "右端 = " + formatFixed(top / 1000.0, 3) + "kHz");

    auto onPlot = [pw](int column) { return column >= 0 && column <= pw - 1; };
    if (data.horizontalScale == 0) {
        double step;
        switch (samplesPerSec) {
        case 48000:
        case 44100:
            step = 5000;
            break;
        case 22050:
            step = 2500;
            break;
        case 11025:
        case 8000:
            step = 1000;
            break;
        default:
            step = rate / 8.0;
            break;
        }
        const double nyquist = rate / 2.0;
        for (int k = 1; k * step <= nyquist; ++k) {
            const double f = k * step;
            const int column = floorPixel((f - 1.0) * (pw - 1) / (nyquist - 1.0) + 0.5);
            if (!onPlot(column))
                continue;
            const int x = plot.left + column;
            b.verticalGridLine(x, curve_colour::kGrid);
            b.text(x - 10, ph, f < 1000.0 ? formatFixed(f, 1) : formatFixed(f / 1000.0, 1) + "k");
        }
    } else {
        const double lo = std::log10(binWidth);
        const double hi = std::log10(top);
        const double scale = (pw - 1) / (hi - lo);
        auto columnOf = [&](double f) { return floorPixel((std::log10(f) - lo) * scale + 0.5); };
        for (double decade = 1.0; decade <= 10000.0; decade *= 10.0) {
            for (int m = 2; m <= 9; ++m) {
                const int column = columnOf(m * decade);
                if (onPlot(column))
                    b.verticalGridLine(plot.left + column, curve_colour::kGrid);
            }
        }
        static const char* const kDecadeLabels[] = {"10", "100", "1k", "10k", "100k"};
        double f = 10.0;
        for (const char* label : kDecadeLabels) {
            const int column = columnOf(f);
            if (onPlot(column)) {
                b.verticalGridLine(plot.left + column, curve_colour::kGrid);
                b.text(plot.left + column - 10, ph, label);
            }
            f *= 10.0;
        }
    }

    if (data.verticalScale == 0) {
        const double span = data.linearGainSpan;
        double step = 1.0;
        if (span <= 2.0)
            step = 0.25;
        else if (span <= 5.0)
            step = 0.5;
        for (int k = 0; k < kMaxGainLines; ++k) {
            const double v = k * step;
            if (!(v <= span + 1.0))
                break;
            const int d = floorPixel((ph - 1) * v / (span + 1.0));
            b.horizontalGridLine(ph - 1 - d, curve_colour::kGrid);
            b.text(10, ph - 10 - d, formatFixed(v, 2));
        }
    } else {
        auto rowOf = [ph](double gain) { return (ph - 1) - floorPixel((std::log10(gain) + 1.0) * (ph - 1) / 2.0 + 0.5); };
        auto onRows = [ph](int row) { return row >= 0 && row <= ph - 1; };
        for (int i = 1; i <= 9; ++i) {
            for (double gain : {i / 10.0, static_cast<double>(i)}) {
                const int row = rowOf(gain);
                if (onRows(row))
                    b.horizontalGridLine(row, curve_colour::kGrid);
            }
        }
        static const struct {
            double gain;
            const char* label;
        } kGainLabels[] = {{0.2, "0.2"}, {0.5, "0.5"}, {1.0, "1.0"}, {2.0, "2.0"}, {5.0, "5.0"}};
        for (const auto& label : kGainLabels)
            b.text(20, rowOf(label.gain) - 5, label.label);
    }
}

} // namespace

CurvePicture drawCurveEditor(const CurveData& data, int width, int height, std::uint32_t samplesPerSec)
{
    CurvePicture picture;
    picture.width = width;
    picture.height = height;
    if (samplesPerSec == 0)
        samplesPerSec = kCurveFallbackSampleRate;
    const CurvePlot plot = CurvePlot::of(width, height);
    PictureBuilder b(picture, plot);

    switch (static_cast<CurveKind>(data.displayKind)) {
    case CurveKind::Reverb:
        drawReverbScales(b, data, samplesPerSec);
        break;
    case CurveKind::Nonlinear:
        drawNonlinearScales(b, data);
        break;
    case CurveKind::Equaliser:
        drawEqualiserScales(b, data, samplesPerSec);
        break;
    }
    b.axes();

    for (const CurvePoint& p : data.points)
        if (isActive(p))
            b.line(plot.column(p.x), plot.row(p.y), plot.column(p.xGray), plot.row(p.yGray), curve_colour::kJoin);
    b.axes();

    if (plot.plotWidth > 0) {
        std::vector<double> values(static_cast<std::size_t>(plot.plotWidth));
        for (double degree : {0.0, 0.5, 1.0}) {
            MorphedCurve(data, degree).sample(values.data(), plot.plotWidth);
            DrawPolyline curve;
            curve.colour = degree == 1.0 ? curve_colour::kEditedCurve : curve_colour::kGreyCurve;
            curve.points.reserve(values.size());
            for (int i = 0; i < plot.plotWidth; ++i)
                curve.points.push_back({plot.left + i, truncPixel(values[i] * (plot.plotHeight - 1))});
            picture.items.push_back(std::move(curve));
        }
    }

    for (const CurvePoint& p : data.points) {
        if (!isActive(p))
            continue;
        const int gx = plot.column(p.xGray);
        const int gy = plot.row(p.yGray);
        picture.items.push_back(DrawCircle{gx - 3, gy - 3, gx + 4, gy + 4, curve_colour::kGreyCircle});
    }
    for (const CurvePoint& p : data.points) {
        if (!isActive(p))
            continue;
        const int ex = plot.column(p.x);
        const int ey = plot.row(p.y);
        picture.items.push_back(DrawCircle{ex - 4, ey - 4, ex + 5, ey + 5, curve_colour::kWhiteCircle});
    }
    return picture;
}

} // namespace sonavik
