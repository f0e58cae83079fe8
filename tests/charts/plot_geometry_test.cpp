// Plot layout, pixel rounding, tick steps and label truncation.
#include <gtest/gtest.h>

#include "charts/plot_geometry.h"

namespace plotwell {
namespace {

TEST(PlotLayout, SlotsAndItemWidths) {
  // 700 pixels wide with a 10-pixel margin and 10 entries.
  const Rect plot{100, 50, 800, 450};
  const PlotGeometry g = Layout(plot, 10, 0, 100, true, 10, 10);
  EXPECT_EQ(g.xOrigin, 110);
  EXPECT_EQ(g.yOrigin, 440);
  EXPECT_EQ(g.step, 68);
  EXPECT_EQ(g.itemWidth, 60);
  EXPECT_EQ(g.CentreX(0), 110 + 34);
  EXPECT_EQ(g.CentreX(9), 110 + 9 * 68 + 34);

  // Slot widths and the item widths they give.
  const struct {
    int width;
    int step;
    int item;
  } cases[] = {{1, 1, 1}, {2, 2, 2}, {3, 2, 2}, {4, 4, 2}, {8, 8, 6},
               {9, 9, 6}, {19, 19, 16}, {20, 20, 15}, {39, 39, 34}, {40, 40, 32}};
  for (const auto& c : cases) {
    const PlotGeometry one = Layout({0, 0, c.width + 20, 100}, 1, 0, 1, false, 10, 10);
    EXPECT_EQ(one.step, c.step) << c.width;
    EXPECT_EQ(one.itemWidth, c.item) << c.width;
  }

  // More entries than pixels: every entry gets one pixel.
  const PlotGeometry crowded = Layout({0, 0, 120, 100}, 500, 0, 1, true, 10, 10);
  EXPECT_EQ(crowded.step, 1);
  EXPECT_EQ(crowded.itemWidth, 1);
}

TEST(PlotLayout, VerticalScaleAndBase) {
  const Rect plot{0, 0, 200, 220};  // usable height 200
  const PlotGeometry bars = Layout(plot, 4, 20, 120, true, 10, 10);
  EXPECT_DOUBLE_EQ(bars.base, 0.0);
  EXPECT_DOUBLE_EQ(bars.pixelsPerUnit, 200.0 / 120.0);
  const PlotGeometry dots = Layout(plot, 4, 20, 120, false, 10, 10);
  EXPECT_DOUBLE_EQ(dots.base, 20.0);
  EXPECT_DOUBLE_EQ(dots.pixelsPerUnit, 2.0);
  EXPECT_EQ(dots.Pixel(20), 0);
  EXPECT_EQ(dots.Pixel(120), 200);

  // All entries equal: dots sit on the base line, bars reach the top.
  const PlotGeometry flatDots = Layout(plot, 3, 7, 7, false, 10, 10);
  EXPECT_DOUBLE_EQ(flatDots.base, 7.0);
  EXPECT_DOUBLE_EQ(flatDots.pixelsPerUnit, 200.0);
  EXPECT_EQ(flatDots.Pixel(7), 0);
  const PlotGeometry flatBars = Layout(plot, 3, 7, 7, true, 10, 10);
  EXPECT_EQ(flatBars.Pixel(7), 200);

  // A flat rectangle still has a usable height of 1.
  const PlotGeometry thin = Layout({0, 0, 100, 5}, 1, 0, 10, true, 10, 10);
  EXPECT_DOUBLE_EQ(thin.pixelsPerUnit, 0.1);
  // The scale never reaches zero.
  const PlotGeometry huge = Layout({0, 0, 100, 21}, 1, INT32_MIN, INT32_MAX, false, 10, 10);
  EXPECT_GE(huge.pixelsPerUnit, 1e-8);
}

TEST(PlotLayout, PixelRoundsHalvesUp) {
  PlotGeometry g;
  g.base = 0;
  g.pixelsPerUnit = 0.5;
  EXPECT_EQ(g.Pixel(1), 1);    // 0.5
  EXPECT_EQ(g.Pixel(3), 2);    // 1.5
  EXPECT_EQ(g.Pixel(-1), 0);   // -0.5
  EXPECT_EQ(g.Pixel(-3), -1);  // -1.5
  g.pixelsPerUnit = 0.3;
  EXPECT_EQ(g.Pixel(1), 0);
  EXPECT_EQ(g.Pixel(2), 1);
}

TEST(TickSteps, RoundStepsWithinTheTickCount) {
  TickStep t = ChooseTickStep(0, 37, 6, 1);
  EXPECT_DOUBLE_EQ(t.step, 10);
  EXPECT_DOUBLE_EQ(t.first, 0);
  EXPECT_EQ(t.width, 1);
  EXPECT_EQ(t.precision, 0);

  t = ChooseTickStep(0, 3, 10, 1);  // the minimum step wins
  EXPECT_DOUBLE_EQ(t.step, 1);

  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 100, 11, 1).step, 10);
  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 90, 11, 1).step, 10);   // raw 9
  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 45, 11, 1).step, 5);    // raw 4.5
  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 18, 10, 1).step, 2);    // raw 2
  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 1000, 3, 1).step, 500);
  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 1000, 1, 1).step, 1000);  // one tick: one interval
  EXPECT_DOUBLE_EQ(ChooseTickStep(0, 1000, 0, 1).step, 1000);

  t = ChooseTickStep(17, 75, 7, 1);
  EXPECT_DOUBLE_EQ(t.step, 10);
  EXPECT_DOUBLE_EQ(t.first, 10);
  t = ChooseTickStep(-23, 40, 8, 1);
  EXPECT_DOUBLE_EQ(t.step, 10);
  EXPECT_DOUBLE_EQ(t.first, -30);
}

TEST(TickSteps, FractionalStepsCarryTheirPrecision) {
  TickStep t = ChooseTickStep(0, 1, 11, 0);
  EXPECT_NEAR(t.step, 0.1, 1e-12);
  EXPECT_EQ(t.precision, 1);
  EXPECT_EQ(t.width, 3);
  EXPECT_EQ(FormatTick(0.5, t), "0.5");
  t = ChooseTickStep(0, 0.1, 6, 0);
  EXPECT_NEAR(t.step, 0.02, 1e-12);
  EXPECT_EQ(t.precision, 2);
  EXPECT_EQ(FormatTick(0.04, t), "0.04");
  EXPECT_EQ(FormatTick(30, ChooseTickStep(0, 37, 6, 1)), "30");
}

TEST(Labels, TruncatedWithEllipsis) {
  EXPECT_EQ(TruncateLabel("abcdefghijklmnopqrst", 16), "abcdefghijklmnop...");
  EXPECT_EQ(TruncateLabel("abcdefghijklmnop", 16), "abcdefghijklmnop");
  EXPECT_EQ(TruncateLabel("abc", 2), "ab...");
  EXPECT_EQ(TruncateLabel("", 2), "");
  // Characters outside the basic plane count once and are never split.
  const QString wide = QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x98\x80x");
  EXPECT_EQ(TruncateLabel(wide, 2), QString::fromUtf8("\xF0\x9F\x98\x80\xF0\x9F\x98\x80..."));
  EXPECT_EQ(TruncateLabel(wide, 3), wide);
}

}  // namespace
}  // namespace plotwell
