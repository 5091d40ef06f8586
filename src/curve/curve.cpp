#include "curve/curve.h"

#include "platform/ui.h"

#include <algorithm>
#include <cmath>

namespace sonavik {

double limitUnit(double v)
{
    if (v > 1.0)
        return 1.0;
    if (v >= 0.0)
        return v;
    return 0.0;  // below 0, or NaN
}

void MorphedCurve::morph(const CurveData& data, double degree)
{
    degree_ = degree;
    count_ = 0;
    valid_ = degree >= 0.0 && degree <= 1.0;
    if (!valid_)
        return;
    for (const CurvePoint& p : data.points) {
        if (p.state == 0)
            continue;
        x_[count_] = (1.0 - degree) * p.xGray + degree * p.x;
        y_[count_] = (1.0 - degree) * p.yGray + degree * p.y;
        ++count_;
    }
    prepare();
}

void MorphedCurve::prepare()
{
    const int m = count_;
    if (m < 3)
        return;
    // Slopes at the inner points; the two end segments take the slope of their inner point only.
    double slope[kCurvePoints] = {};
    for (int k = 1; k <= m - 2; ++k)
        slope[k] = (y_[k + 1] - y_[k - 1]) / (x_[k + 1] - x_[k - 1]);

    for (int k = 0; k <= m - 2; ++k) {
        Piece& piece = pieces_[k];
        const double width = x_[k + 1] - x_[k];
        piece.x0 = x_[k];
        piece.c0 = y_[k];
        // Two points on one vertical have no polynomial between them. Inner pieces of zero width never
        // receive a position; an end piece does (everything beyond the end point), and keeps its value.
        piece.flat = width == 0.0;
        if (piece.flat)
            continue;
        const double chord = (y_[k + 1] - y_[k]) / width;
        if (k == 0) {
            // Parabola with the slope of point 1 at its right end.
            piece.c1 = 2.0 * chord - slope[1];
            piece.c2 = (slope[1] - chord) / width;
            piece.c3 = 0.0;
        } else if (k == m - 2) {
            // Parabola with the slope of point m - 2 at its left end.
            piece.c1 = slope[k];
            piece.c2 = (chord - slope[k]) / width;
            piece.c3 = 0.0;
        } else {
            piece.c1 = slope[k];
            piece.c2 = (3.0 * chord - 2.0 * slope[k] - slope[k + 1]) / width;
            piece.c3 = (slope[k] + slope[k + 1] - 2.0 * chord) / (width * width);
        }
    }
}

int MorphedCurve::segmentAt(double h) const
{
    // Left of point 1 is the first piece, from point m - 2 on the last, else the piece whose left end
    // is the last point at or before h.
    const double* inner = std::upper_bound(x_ + 1, x_ + count_ - 1, h);
    return static_cast<int>(inner - x_) - 1;
}

double MorphedCurve::evaluate(int segment, double h) const
{
    const Piece& piece = pieces_[segment];
    if (piece.flat)
        return limitUnit(h <= piece.x0 ? y_[segment] : y_[segment + 1]);
    const double t = h - piece.x0;
    return limitUnit(piece.c0 + t * (piece.c1 + t * (piece.c2 + t * piece.c3)));
}

namespace {

// The straight line through two points. Where it is vertical it still passes through the first point,
// and two points in the same place give their height everywhere (0/0 would otherwise give NaN, i.e. 0).
double lineValue(double x0, double y0, double x1, double y1, double h)
{
    const double slope = (y1 - y0) / (x1 - x0);
    const double t = h - x0;
    if (t == 0.0 || std::isnan(slope))
        return limitUnit(y0);
    return limitUnit(y0 + slope * t);
}

double limitPosition(double h)
{
    if (h > 1.0)
        return 1.0;
    if (h >= 0.0)
        return h;
    return 0.0;
}

} // namespace

double MorphedCurve::valueAt(double h) const
{
    if (!valid_)
        return 0.0;
    h = limitPosition(h);
    switch (count_) {
    case 0:
        return 0.5;
    case 1:
        return limitUnit(y_[0]);
    case 2:
        return lineValue(x_[0], y_[0], x_[1], y_[1], h);
    default:
        return evaluate(segmentAt(h), h);
    }
}

void MorphedCurve::sample(double* out, int n) const
{
    if (!valid_ || n <= 0)
        return;
    // A single sample sits at the left edge (j / (n - 1) would be 0/0).
    const double denominator = n > 1 ? static_cast<double>(n - 1) : 1.0;
    auto position = [denominator](int j) { return static_cast<double>(j) / denominator; };

    if (count_ < 3) {
        for (int j = 0; j < n; ++j)
            out[j] = valueAt(position(j));
        return;
    }

    const int last = count_ - 2;
    int j = 0;
    for (int k = 0; k <= last; ++k) {
        const int first = j;
        if (k < last) {
            while (j < n && position(j) < x_[k + 1])
                ++j;
        } else {
            j = n;
        }
        // A piece narrower than the sample spacing gets its end values rather than its polynomial.
        switch (j - first) {
        case 0:
            break;
        case 1:
            out[first] = limitUnit((y_[k] + y_[k + 1]) / 2.0);
            break;
        case 2:
            out[first] = limitUnit(y_[k]);
            out[first + 1] = limitUnit(y_[k + 1]);
            break;
        default:
            for (int i = first; i < j; ++i)
                out[i] = evaluate(k, position(i));
            break;
        }
    }
}

double CurveEvaluator::valueAt(double degree, double h)
{
    if (!(degree == curve_.degree()))
        curve_.morph(data_, degree);
    return curve_.valueAt(h);
}

bool sampleCurve(Ui& ui, const CurveData& data, double a, double* out, int n)
{
    const MorphedCurve curve(data, a);
    if (!curve.valid()) {
        ui.beep(BeepKind::Error);
        return false;
    }
    curve.sample(out, n);
    return true;
}

double curveValueAt(Ui& ui, const CurveData& data, double a, double h)
{
    const MorphedCurve curve(data, a);
    if (!curve.valid()) {
        ui.beep(BeepKind::Error);
        return 0.0;
    }
    return curve.valueAt(h);
}

} // namespace sonavik
