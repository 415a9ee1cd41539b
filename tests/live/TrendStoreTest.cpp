// The sample store: the 24-hour ring, channels added and removed, and the
// min/max decimation that drawing relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "live/TrendStore.h"

namespace kelm {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TrendStore, RingDropsWhatIsOlderThanTheSpan) {
    TrendStore s(1000);
    s.AddChannel();
    for (int t = 0; t <= 3000; t += 100) {
        const double v = t;
        s.Append(t, {&v, 1});
    }
    EXPECT_EQ(s.Time(0), 2000);
    EXPECT_EQ(s.Size(), 11u);
    // Times never go backwards.
    const double v = 1;
    s.Append(2500, {&v, 1});
    EXPECT_EQ(s.Time(s.Size() - 1), 3000);
}

TEST(TrendStore, ChannelAddedLaterHasNoEarlierValues) {
    TrendStore s;
    s.AddChannel();
    const double a = 1;
    s.Append(0, {&a, 1});
    s.AddChannel();
    const double ab[2] = {2, 3};
    s.Append(10, ab);
    EXPECT_TRUE(std::isnan(s.Value(1, 0)));
    EXPECT_EQ(s.Value(1, 1), 3);
    s.RemoveChannel(0);
    EXPECT_EQ(s.ChannelCount(), 1);
    EXPECT_EQ(s.Value(0, 1), 3);
    ASSERT_TRUE(s.ValueAt(0, 5).has_value() == false);
    EXPECT_EQ(s.ValueAt(0, 99)->v, 3);
}

TEST(TrendStore, DecimationKeepsEveryPeakWithFewPoints) {
    TrendStore s;
    s.AddChannel();
    // An hour at 8 readings a second: a slow sine with one spike and one dip.
    const int n = 3600 * 8;
    for (int i = 0; i < n; ++i) {
        double v = std::sin(i / 2000.0);
        if (i == 12345) v = 50;
        if (i == 20001) v = -40;
        s.Append(static_cast<std::int64_t>(i) * 125, {&v, 1});
    }
    const int columns = 800;
    const auto pts = s.Decimate(0, 0, s.Time(s.Size() - 1), columns, false);
    EXPECT_LE(pts.size(), static_cast<std::size_t>(2 * columns + 2));
    double lo = 1e9, hi = -1e9;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        lo = std::min(lo, pts[i].v);
        hi = std::max(hi, pts[i].v);
        if (i > 0) {
            EXPECT_GE(pts[i].t, pts[i - 1].t);
        }
    }
    EXPECT_EQ(hi, 50);
    EXPECT_EQ(lo, -40);
    double rlo = 0, rhi = 0;
    ASSERT_TRUE(s.Range(0, 0, s.Time(s.Size() - 1), &rlo, &rhi));
    EXPECT_EQ(rhi, 50);
}

TEST(TrendStore, DecimationOfAWindowReachesItsEdgesAndSkipsGaps) {
    TrendStore s;
    s.AddChannel();
    const double vals[] = {1, kNaN, 3, 4, 5, 6};
    for (int i = 0; i < 6; ++i) s.Append(i * 10, {&vals[i], 1});
    const auto pts = s.Decimate(0, 25, 35, 100, false);
    ASSERT_EQ(pts.size(), 3u);
    EXPECT_EQ(pts.front().t, 20);  // the point before the window
    EXPECT_EQ(pts.back().t, 40);   // and the one after
    const auto all = s.Decimate(0, 0, 50, 100, false);
    EXPECT_EQ(all.size(), 5u);  // the missing value is skipped
}

TEST(TrendStore, StepsHoldUntilTheNextValue) {
    TrendStore s;
    s.AddChannel();
    const double vals[] = {0, 0, 1, 1, 0};
    for (int i = 0; i < 5; ++i) s.Append(i * 100, {&vals[i], 1});
    const auto pts = s.Decimate(0, 0, 400, 1000, true);
    // 0@0 0@100 | 0@200 1@200 | 1@300 | 1@400 0@400
    ASSERT_EQ(pts.size(), 7u);
    EXPECT_EQ(pts[2].t, 200);
    EXPECT_EQ(pts[2].v, 0);
    EXPECT_EQ(pts[3].v, 1);
    EXPECT_EQ(pts[5].t, 400);
    EXPECT_EQ(pts[5].v, 1);
    EXPECT_EQ(pts[6].v, 0);
}

}  // namespace
}  // namespace kelm
