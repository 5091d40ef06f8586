#pragma once
// Evaluation of the drawn curves (equaliser gain, nonlinear transfer, reverb envelope). Every point is
// morphed from its grey position (degree 0) to its edited position (degree 1); the curve through the
// morphed points is a parabola on each end segment and a cubic Hermite piece in between. y runs from
// 0 at the top edge to 1 at the bottom edge; every result is limited to [0, 1], NaN giving 0.

#include "settings/settings.h"

namespace sonavik {

class Ui;

// One curve at one degree, prepared once so that evaluating it is a binary search and a polynomial.
// The edits that evaluate a curve per frame keep one of these per degree (see CurveEvaluator).
class MorphedCurve {
public:
    // The curve of no points (0.5 everywhere).
    MorphedCurve() = default;
    // A degree outside [0, 1] (or NaN) gives an invalid curve whose every value is 0.
    MorphedCurve(const CurveData& data, double degree) { morph(data, degree); }
    // Prepares this object for another degree (or changed data) in place.
    void morph(const CurveData& data, double degree);

    bool valid() const { return valid_; }
    double degree() const { return degree_; }
    int pointCount() const { return count_; }
    double pointX(int k) const { return x_[k]; }
    double pointY(int k) const { return y_[k]; }

    // The curve's y at h (limited to [0, 1] first).
    double valueAt(double h) const;
    // n values at the positions j / (n - 1), with the rules for segments that receive only one or two
    // of them. Writes nothing when the curve is invalid.
    void sample(double* out, int n) const;

private:
    struct Piece {
        double x0;           // the polynomial runs in t = h - x0
        double c0, c1, c2, c3;
        bool flat;           // zero width: the value of the nearer end point
    };
    int segmentAt(double h) const;
    double evaluate(int segment, double h) const;
    void prepare();

    bool valid_ = true;
    double degree_ = 0.0;
    int count_ = 0;
    double x_[kCurvePoints] = {};
    double y_[kCurvePoints] = {};
    Piece pieces_[kCurvePoints] = {};  // piece k runs from point k to point k + 1
};

// Caches the morph for the last degree asked, for loops in which the degree changes rarely (α is
// constant over most of a selection). The data must not change while the evaluator is in use.
class CurveEvaluator {
public:
    explicit CurveEvaluator(const CurveData& data) : data_(data) { curve_.morph(data, 1.0); }
    // Same result as curveValueAt, without the beep: a degree outside [0, 1] gives 0.
    double valueAt(double degree, double h);

private:
    const CurveData& data_;
    MorphedCurve curve_;
};

// Fills out[0..n-1] with the curve at degree a. A degree outside [0, 1] sounds the error beep and
// returns false, leaving out unchanged.
bool sampleCurve(Ui& ui, const CurveData& data, double a, double* out, int n);

// The curve's y at h (limited to [0, 1]), at degree a; a degree outside [0, 1] beeps and gives 0.
double curveValueAt(Ui& ui, const CurveData& data, double a, double h);

// Value limiting shared by the curve and its users: above 1 gives 1, below 0 or NaN gives 0.
double limitUnit(double v);

} // namespace sonavik
