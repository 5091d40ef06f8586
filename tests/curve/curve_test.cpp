#include "curve/curve.h"

#include "settings/settings.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace sonavik {
namespace {

using test::ScriptedUi;

struct Pt {
    double x, y;
};

// Active points with their grey position equal to the edited one.
CurveData curveOf(std::initializer_list<Pt> points)
{
    CurveData data{};
    int i = 0;
    for (const Pt& p : points)
        data.points[i++] = CurvePoint{1, 0, p.x, p.y, p.x, p.y};
    return data;
}

std::vector<double> sampled(const CurveData& data, double a, int n)
{
    ScriptedUi ui;
    std::vector<double> v(static_cast<std::size_t>(n), -1.0);
    EXPECT_TRUE(sampleCurve(ui, data, a, v.data(), n));
    EXPECT_TRUE(ui.beeps.empty());
    return v;
}

double valueAt(const CurveData& data, double a, double h)
{
    ScriptedUi ui;
    const double v = curveValueAt(ui, data, a, h);
    EXPECT_TRUE(ui.beeps.empty());
    return v;
}

// The curve written out independently: parabolas fixed by two values and the inner slope, Hermite basis
// functions in between.
double referenceValue(const std::vector<double>& X, const std::vector<double>& Y, double h)
{
    const int m = static_cast<int>(X.size());
    auto slope = [&](int k) { return (Y[k + 1] - Y[k - 1]) / (X[k + 1] - X[k - 1]); };
    double v;
    if (h < X[1]) {
        const double d = X[0] - X[1];
        const double c = (Y[0] - Y[1] - slope(1) * d) / (d * d);
        v = Y[1] + slope(1) * (h - X[1]) + c * (h - X[1]) * (h - X[1]);
    } else if (h >= X[m - 2]) {
        const int k = m - 2;
        const double d = X[k + 1] - X[k];
        const double c = (Y[k + 1] - Y[k] - slope(k) * d) / (d * d);
        v = Y[k] + slope(k) * (h - X[k]) + c * (h - X[k]) * (h - X[k]);
    } else {
        int k = 1;
        while (!(X[k] <= h && h < X[k + 1]))
            ++k;
        const double d = X[k + 1] - X[k];
        const double t = (h - X[k]) / d;
        v = (2 * t * t * t - 3 * t * t + 1) * Y[k] + (t * t * t - 2 * t * t + t) * d * slope(k) +
            (-2 * t * t * t + 3 * t * t) * Y[k + 1] + (t * t * t - t * t) * d * slope(k + 1);
    }
    return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
}

TEST(CurveTest, NoPointsGiveTheMiddleAndOnePointItsHeight)
{
    const struct {
        CurveData data;
        double expected;
    } cases[] = {{CurveData{}, 0.5}, {curveOf({{0.7, 0.25}}), 0.25}};
    for (const auto& c : cases) {
        for (double a : {0.0, 0.5, 1.0}) {
            for (double v : sampled(c.data, a, 17))
                EXPECT_EQ(v, c.expected);
            for (double h : {0.0, 0.3, 1.0, -4.0})
                EXPECT_EQ(valueAt(c.data, a, h), c.expected);
        }
    }
}

TEST(CurveTest, DefaultNonlinearCurveIsTheIdentity)
{
    Settings settings;
    applyDefaultSettings(settings);
    for (double a : {0.0, 0.37, 1.0}) {
        for (int n : {7, 64, 101, 1000}) {
            const std::vector<double> v = sampled(settings.nonlinear, a, n);
            for (int j = 0; j < n; ++j)
                ASSERT_NEAR(v[j], 1.0 - static_cast<double>(j) / (n - 1), 1e-12) << "n " << n << " j " << j;
        }
        for (int i = 0; i <= 1000; ++i)
            ASSERT_NEAR(valueAt(settings.nonlinear, a, i / 1000.0), 1.0 - i / 1000.0, 1e-12);
    }
}

TEST(CurveTest, TwoPointsGiveTheLineExtendedAndLimited)
{
    struct Case {
        Pt p0, p1;
        double h, expected;
    } cases[] = {
        {{0.2, 0.4}, {0.6, 0.6}, 0.0, 0.3},   // extended to the left edge
        {{0.2, 0.4}, {0.6, 0.6}, 1.0, 0.8},   // and to the right edge
        {{0.2, 0.4}, {0.6, 0.6}, 0.4, 0.5},
        {{0.4, 0.2}, {0.5, 0.8}, 0.0, 0.0},   // steep: limited at the top
        {{0.4, 0.2}, {0.5, 0.8}, 1.0, 1.0},   // and at the bottom
        {{0.5, 0.3}, {0.5, 0.3}, 0.9, 0.3},   // one place twice: its height, not 0/0
        {{0.5, 0.3}, {0.5, 0.6}, 0.5, 0.3},   // vertical: passes through the first point
        {{0.5, 0.3}, {0.5, 0.6}, 0.6, 1.0},
    };
    for (const Case& c : cases) {
        const CurveData data = curveOf({c.p0, c.p1});
        EXPECT_NEAR(valueAt(data, 1.0, c.h), c.expected, 1e-12) << c.p0.x << "," << c.p1.x << " at " << c.h;
    }
    const std::vector<double> v = sampled(curveOf({{0.2, 0.4}, {0.6, 0.6}}), 1.0, 11);
    for (int j = 0; j <= 10; ++j)
        EXPECT_NEAR(v[j], 0.3 + 0.05 * j, 1e-12);
}

TEST(CurveTest, NarrowSegmentsGetTheirEndValues)
{
    // Eleven samples at 0, 0.1, ..., 1.
    const double y[] = {0.9, 0.2, 0.6, 0.4};
    {
        // The middle segment 0.5 to 0.55 receives only the sample at 0.5: the mean of its ends.
        const CurveData data = curveOf({{0.0, y[0]}, {0.5, y[1]}, {0.55, y[2]}, {1.0, y[3]}});
        const std::vector<double> v = sampled(data, 1.0, 11);
        EXPECT_DOUBLE_EQ(v[5], (y[1] + y[2]) / 2);
        for (int j : {0, 1, 4, 6, 10})
            EXPECT_EQ(v[j], valueAt(data, 1.0, j / 10.0)) << j;
    }
    {
        // 0.35 to 0.55 receives 0.4 and 0.5: the heights of its two ends.
        const CurveData data = curveOf({{0.0, y[0]}, {0.35, y[1]}, {0.55, y[2]}, {1.0, y[3]}});
        const std::vector<double> v = sampled(data, 1.0, 11);
        EXPECT_EQ(v[4], y[1]);
        EXPECT_EQ(v[5], y[2]);
        EXPECT_NE(v[4], valueAt(data, 1.0, 0.4));
    }
    {
        // Three points with eleven samples: the first segment takes only 0 and 0.1.
        const CurveData data = curveOf({{0.05, 0.3}, {0.15, 0.5}, {1.0, 0.1}});
        const std::vector<double> v = sampled(data, 1.0, 11);
        EXPECT_EQ(v[0], 0.3);
        EXPECT_EQ(v[1], 0.5);
    }
}

TEST(CurveTest, PiecesMatchAnIndependentFormula)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const int m = 3 + trial % 18;
        // Distinct, sorted positions at least 0.01 apart, not necessarily reaching the edges.
        std::vector<double> X(m), Y(m);
        double x = unit(random) * 0.2;
        for (int k = 0; k < m; ++k) {
            X[k] = x;
            x += 0.01 + unit(random) * (0.8 / m);
            Y[k] = unit(random);
        }
        CurveData data{};
        for (int k = 0; k < m; ++k)
            data.points[k] = CurvePoint{1, 0, X[k], Y[k], X[k], Y[k]};
        const int n = 2000;
        const std::vector<double> v = sampled(data, 1.0, n);
        const MorphedCurve curve(data, 1.0);
        for (int j = 0; j < n; ++j) {
            const double h = static_cast<double>(j) / (n - 1);
            ASSERT_NEAR(curve.valueAt(h), referenceValue(X, Y, h), 1e-9) << "trial " << trial << " h " << h;
            // At this density every segment holds at least three samples, so both agree exactly.
            ASSERT_EQ(v[j], curve.valueAt(h)) << "trial " << trial << " j " << j;
        }
        for (int k = 0; k < m; ++k)
            ASSERT_NEAR(curve.valueAt(X[k]), std::clamp(Y[k], 0.0, 1.0), 1e-12) << "through point " << k;
    }
}

TEST(CurveTest, DegreeMorphsFromGreyToEdited)
{
    CurveData data{};
    data.points[0] = CurvePoint{1, 0, 0.0, 0.5, 0.2, 0.1};
    data.points[1] = CurvePoint{1, 0, 1.0, 0.5, 0.8, 0.1};
    EXPECT_EQ(valueAt(data, 0.0, 0.3), 0.5);
    EXPECT_NEAR(valueAt(data, 1.0, 0.3), 0.1, 1e-15);
    EXPECT_NEAR(valueAt(data, 0.5, 0.3), 0.3, 1e-15);
    const MorphedCurve half(data, 0.5);
    ASSERT_EQ(half.pointCount(), 2);
    EXPECT_DOUBLE_EQ(half.pointX(0), 0.1);
    EXPECT_DOUBLE_EQ(half.pointX(1), 0.9);

    // Inactive slots are skipped wherever they are.
    data.points[5] = CurvePoint{1, 0, 0.9, 0.5, 0.9, 0.1};
    EXPECT_EQ(MorphedCurve(data, 1.0).pointCount(), 3);
}

TEST(CurveTest, DegreeOutsideTheUnitRangeBeepsAndLeavesTheOutput)
{
    Settings settings;
    applyDefaultSettings(settings);
    for (double a : {-0.001, 1.0001, std::numeric_limits<double>::quiet_NaN()}) {
        ScriptedUi ui;
        std::vector<double> v(8, 42.0);
        EXPECT_FALSE(sampleCurve(ui, settings.nonlinear, a, v.data(), 8)) << a;
        EXPECT_EQ(v, std::vector<double>(8, 42.0));
        EXPECT_EQ(curveValueAt(ui, settings.nonlinear, a, 0.5), 0.0);
        EXPECT_EQ(ui.beeps, (std::vector<BeepKind>{BeepKind::Error, BeepKind::Error}));
        CurveEvaluator evaluator(settings.nonlinear);
        EXPECT_EQ(evaluator.valueAt(a, 0.5), 0.0);
    }
}

TEST(CurveTest, ResultsStayInsideTheUnitRange)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // An overshooting cubic, a damaged point, a position outside the plot.
    const CurveData overshoot = curveOf({{0.0, 0.0}, {0.1, 0.0}, {0.2, 1.0}, {0.3, 1.0}, {1.0, 0.0}});
    for (double v : sampled(overshoot, 1.0, 500))
        ASSERT_TRUE(v >= 0.0 && v <= 1.0);
    const CurveData damaged = curveOf({{0.0, 0.2}, {0.5, nan}, {1.0, 0.2}});
    for (double v : sampled(damaged, 1.0, 50))
        ASSERT_EQ(v, 0.0);
    const CurveData line = curveOf({{0.0, 0.0}, {1.0, 1.0}});
    EXPECT_EQ(valueAt(line, 1.0, -3.0), 0.0);
    EXPECT_EQ(valueAt(line, 1.0, 7.0), 1.0);
    EXPECT_EQ(valueAt(line, 1.0, nan), 0.0);
}

TEST(CurveTest, PointsOnOneVerticalAtTheEndsExtendFlat)
{
    // Two points dragged onto one x leave the end piece without width; it keeps the outer height
    // instead of dividing by zero (which would pin everything beyond to the top edge).
    const CurveData left = curveOf({{0.3, 0.8}, {0.3, 0.6}, {0.7, 0.4}});
    EXPECT_EQ(valueAt(left, 1.0, 0.1), 0.8);
    const CurveData right = curveOf({{0.2, 0.5}, {0.6, 0.6}, {0.6, 0.9}});
    EXPECT_EQ(valueAt(right, 1.0, 0.9), 0.9);
    const std::vector<double> v = sampled(right, 1.0, 101);
    EXPECT_EQ(v[100], 0.9);
    // Three on one vertical inside the curve leave the outer pieces untouched.
    const CurveData inner = curveOf({{0.0, 1.0}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {1.0, 0.0}});
    for (int j = 0; j <= 100; ++j)
        EXPECT_NEAR(valueAt(inner, 1.0, j / 100.0), 1.0 - j / 100.0, 1e-12);
}

TEST(CurveTest, SampleCountsAtTheEdges)
{
    const CurveData line = curveOf({{0.0, 0.2}, {1.0, 0.6}});
    std::vector<double> v(3, 9.0);
    ScriptedUi ui;
    EXPECT_TRUE(sampleCurve(ui, line, 1.0, v.data(), 0));
    EXPECT_EQ(v[0], 9.0);
    EXPECT_TRUE(sampleCurve(ui, line, 1.0, v.data(), 1));
    EXPECT_EQ(v[0], 0.2) << "a single sample lies at the left edge";
    EXPECT_EQ(v[1], 9.0);
}

TEST(CurveTest, EvaluatorFollowsTheDegree)
{
    CurveData data = curveOf({{0.0, 0.9}, {0.3, 0.1}, {0.6, 0.7}, {1.0, 0.2}});
    data.points[1].yGray = 0.5;
    data.points[2].xGray = 0.5;
    CurveEvaluator evaluator(data);
    ScriptedUi ui;
    for (double a : {0.0, 0.0, 0.25, 1.0, 0.25, 0.8}) {
        for (double h : {0.0, 0.2, 0.45, 0.55, 0.9, 1.0})
            EXPECT_EQ(evaluator.valueAt(a, h), curveValueAt(ui, data, a, h)) << a << " " << h;
    }
}

} // namespace
} // namespace sonavik
