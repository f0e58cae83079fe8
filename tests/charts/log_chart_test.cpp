// The painted frame of both charts, checked exactly on a recording surface.
#include <gtest/gtest.h>

#include <QDate>
#include <QLocale>

#include <vector>

#include "charts/log_chart.h"
#include "charts/recording_surface.h"
#include "chart_test_support.h"

namespace plotwell {
namespace {

using Kind = DrawOp::Kind;
using test::LocalTime;

QString LabelDocument(const std::vector<int>& values, const std::vector<int>& alts = {}) {
  QString text = "<VYR_CHART_DATA>";
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int alt = i < alts.size() ? alts[i] : 0;
    text += QString("<ITM LBL='L%1' ALT='%2'>%3</ITM>").arg(i).arg(alt).arg(values[i]);
  }
  return text + "</VYR_CHART_DATA>";
}

QString TimeDocument(const std::vector<long long>& times) {
  QString text = "<VYR_CHART_DATA>";
  for (long long t : times) text += QString("<ITM TM='%1'>1</ITM>").arg(t);
  return text + "</VYR_CHART_DATA>";
}

// Shapes and bars of the plot area, in drawing order.
std::vector<DrawOp> ItemOps(const RecordingSurface& surface, const Rect& plot) {
  std::vector<DrawOp> items;
  for (const DrawOp& op : surface.Ops()) {
    const bool shape = op.kind == Kind::Ellipse || op.kind == Kind::Rectangle;
    const bool line = op.kind == Kind::Line && op.from.x >= plot.left && op.from.y >= plot.top &&
                      op.from.y < plot.bottom && op.from.x < plot.right;
    if (shape || line) items.push_back(op);
  }
  return items;
}

std::vector<DrawOp> OpsInside(const RecordingSurface& surface, Kind kind, const Rect& rect) {
  std::vector<DrawOp> result;
  for (const DrawOp& op : surface.OpsOf(kind)) {
    if (rect.Contains(op.from.x, op.from.y)) result.push_back(op);
  }
  return result;
}

class ChartFrameTest : public ::testing::Test {
 protected:
  const ChartProperties defaults;
};

TEST_F(ChartFrameTest, RectanglesOfTheFrame) {
  NonNumericLogChart chart;
  chart.Properties().caption = "Browsers";
  ASSERT_EQ(chart.SetData(LabelDocument({5, 100, 7})), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 800, 500}), S_OK);
  const ChartFrame& f = chart.Frame();
  // "100" in the ruler font is 18 wide: rulers 36; labels "L0" are 14 wide: ruler 32.
  EXPECT_EQ(f.fontHeight, 13);
  EXPECT_EQ(f.leftRuler, (Rect{0, 0, 36, 500}));
  EXPECT_EQ(f.rightRuler, (Rect{764, 0, 800, 500}));
  EXPECT_EQ(f.caption, (Rect{36, 0, 764, 21}));
  EXPECT_EQ(f.bottomRuler, (Rect{36, 468, 764, 500}));
  EXPECT_EQ(f.plot, (Rect{36, 21, 764, 468}));
  EXPECT_FALSE(f.tooSmall);

  const auto captions = s.OpsOf(Kind::CentredText);
  ASSERT_EQ(captions.size(), 1u);
  EXPECT_EQ(captions[0].text, "Browsers");
  EXPECT_EQ(captions[0].rect, f.caption.Inset(2, 2));
  EXPECT_EQ(captions[0].color, TranslateColor(defaults.rulerPenColor));
  EXPECT_EQ(captions[0].font.weight, 700);

  // Bands in ruler colours with bump edges, the plot in its own colour with a raised one.
  const auto fills = s.OpsOf(Kind::FillRect);
  ASSERT_EQ(fills.size(), 5u);
  EXPECT_EQ(fills[0].rect, f.caption);
  EXPECT_EQ(fills[1].rect, f.bottomRuler);
  EXPECT_EQ(fills[2].rect, f.leftRuler);
  EXPECT_EQ(fills[3].rect, f.rightRuler);
  EXPECT_EQ(fills[4].rect, f.plot);
  EXPECT_EQ(fills[0].color, 0xCDDACFu);
  EXPECT_EQ(fills[4].color, 0xCEC2C1u);
  const auto edges = s.OpsOf(Kind::Edge);
  ASSERT_EQ(edges.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(edges[i].edge, EdgeStyle::Bump);
  EXPECT_EQ(edges[4].rect, f.plot);
  EXPECT_EQ(edges[4].edge, EdgeStyle::Raised);
}

TEST_F(ChartFrameTest, TooSmallShowsOnlyARaisedRulerColouredFrame) {
  TimeSeriesLogChart chart;
  RecordingSurface s;
  const Rect bounds{5, 5, 60, 80};
  ASSERT_EQ(chart.OnDraw(s, bounds), S_OK);
  EXPECT_TRUE(chart.Frame().tooSmall);
  ASSERT_EQ(s.Ops().size(), 2u);
  EXPECT_EQ(s.Ops()[0].kind, Kind::FillRect);
  EXPECT_EQ(s.Ops()[0].rect, bounds);
  EXPECT_EQ(s.Ops()[0].color, 0xCDDACFu);
  EXPECT_EQ(s.Ops()[1].kind, Kind::Edge);
  EXPECT_EQ(s.Ops()[1].edge, EdgeStyle::Raised);
}

TEST_F(ChartFrameTest, WithoutDataOnlyCaptionAndEmptyBands) {
  test::ScopedTimeZone zone(test::kCentralEurope);
  TimeSeriesLogChart chart;
  chart.Properties().caption = "Sessions";
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 300}), S_OK);
  EXPECT_EQ(s.OpsOf(Kind::Line).size(), 0u);  // no ticks anywhere
  EXPECT_EQ(s.OpsOf(Kind::Text).size(), 0u);
  EXPECT_EQ(s.OpsOf(Kind::Rectangle).size(), 0u);
  EXPECT_EQ(s.OpsOf(Kind::CentredText).size(), 1u);
  // "0" is the widest value: rulers of 6 + 18.
  EXPECT_EQ(chart.Frame().leftRuler.right, 24);
  EXPECT_EQ(chart.Frame().bottomRuler.Height(), 26);
}

TEST_F(ChartFrameTest, BarsInTheWorkedExample) {
  NonNumericLogChart chart;
  // Rulers 36 wide each: a 700-pixel plot.
  ASSERT_EQ(chart.SetData(LabelDocument({0, 100, 50, -20, 10, 20, 30, 40, 60, 70},
                                        {0, 0, 1})),
            S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 772, 500}), S_OK);
  const ChartFrame& f = chart.Frame();
  ASSERT_EQ(f.plot.Width(), 700);
  const PlotGeometry& g = chart.Geometry();
  EXPECT_EQ(g.step, 68);
  EXPECT_EQ(g.itemWidth, 60);
  EXPECT_EQ(g.xOrigin, 46);
  EXPECT_EQ(g.yOrigin, f.plot.bottom - 10);
  EXPECT_EQ(f.visibleEntries, 10);

  const auto items = ItemOps(s, f.plot);
  ASSERT_EQ(items.size(), 10u);
  const int yb = g.yOrigin - g.Pixel(0);
  EXPECT_EQ(yb, g.yOrigin);
  // A bar of the base value is a flat line one item wide.
  EXPECT_EQ(items[0].kind, Kind::Line);
  EXPECT_EQ(items[0].from, (Point{46 + 34 - 30, yb}));
  EXPECT_EQ(items[0].to, (Point{46 + 34 + 31, yb}));
  EXPECT_EQ(items[0].width, 2);
  // A full bar reaches the top of the usable height.
  EXPECT_EQ(items[1].kind, Kind::Rectangle);
  EXPECT_EQ(items[1].rect, (Rect{46 + 68 + 4, f.plot.top + 10, 46 + 68 + 65, yb + 1}));
  EXPECT_EQ(items[1].color, 0x404000u);
  EXPECT_EQ(items[1].fill, 0xBFFF80u);
  EXPECT_EQ(items[1].width, 2);
  // An alternative bar uses the alternative colours.
  EXPECT_EQ(items[2].color, 0x404080u);
  EXPECT_EQ(items[2].fill, 0x00FFFFu);
  // Below the base the bar runs downwards.
  EXPECT_EQ(items[3].rect.top, yb);
  EXPECT_EQ(items[3].rect.bottom, g.yOrigin - g.Pixel(-20) + 1);

  // Hit testing over the same geometry.
  const int x1 = g.CentreX(1);
  EXPECT_EQ(chart.HitTest(x1, yb - 5), 1);
  EXPECT_EQ(chart.HitTest(x1 - 30, f.plot.top + 10), 1);
  EXPECT_EQ(chart.HitTest(x1, f.plot.top + 8), -1);  // above the bar
  EXPECT_EQ(chart.HitTest(46 + 68 + 1, yb - 5), -1);  // in the slot, left of the bar
  EXPECT_EQ(chart.HitTest(g.CentreX(3), yb + 5), 3);  // a bar below the base
  EXPECT_EQ(chart.HitTest(g.CentreX(0), yb), 0);      // the flat bar
  EXPECT_EQ(chart.HitTest(g.xOrigin - 5, yb), -1);
  Rect rect;
  ASSERT_TRUE(chart.ItemRect(1, &rect));
  EXPECT_EQ(rect, (Rect{x1 - 30, f.plot.top + 9, x1 + 30, yb + 1}));
}

TEST_F(ChartFrameTest, HollowDotsOnNarrowSlots) {
  NonNumericLogChart chart;
  chart.Properties().chartType = ChartType::Dots;
  chart.Properties().chartItemHollow = true;
  std::vector<int> values(100, 5);
  values[0] = 1;
  values[1] = 9;
  ASSERT_EQ(chart.SetData(LabelDocument(values)), S_OK);
  RecordingSurface s;
  // Rulers of "9": 6 + 18 = 24; a plot of 420 pixels gives 4 per entry.
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 468, 400}), S_OK);
  const PlotGeometry& g = chart.Geometry();
  ASSERT_EQ(g.step, 4);
  ASSERT_EQ(g.itemWidth, 2);
  const auto dots = s.OpsOf(Kind::Ellipse);
  ASSERT_EQ(dots.size(), 100u);
  const int y1 = g.yOrigin - g.Pixel(9);
  EXPECT_EQ(dots[1].rect, (Rect{g.CentreX(1) - 1, y1 - 4, g.CentreX(1) + 2, y1 + 5}));
  EXPECT_EQ(dots[1].rect.Width(), 3);
  EXPECT_EQ(dots[1].rect.Height(), 9);
  EXPECT_EQ(dots[1].fill, 0xCEC2C1u);  // the plot background shows inside
  EXPECT_EQ(dots[1].color, 0x404000u);
  // Dots stand on the smallest value.
  EXPECT_EQ(dots[0].rect.top, g.yOrigin - 4);
}

TEST_F(ChartFrameTest, LinkedItemsJoinInThePlainPen) {
  NonNumericLogChart chart;
  chart.Properties().chartType = ChartType::ConnectedSquares;
  ASSERT_EQ(chart.SetData(LabelDocument({1, 2, 3}, {1, 1, 1})), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 300}), S_OK);
  const auto items = ItemOps(s, chart.Frame().plot);
  // square 0, link, square 0 again, square 1, link, square 1 again, square 2
  ASSERT_EQ(items.size(), 7u);
  const Kind kinds[] = {Kind::Rectangle, Kind::Line, Kind::Rectangle, Kind::Rectangle,
                        Kind::Line, Kind::Rectangle, Kind::Rectangle};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(items[i].kind, kinds[i]) << i;
  const PlotGeometry& g = chart.Geometry();
  EXPECT_EQ(items[1].from, (Point{g.CentreX(0), g.yOrigin - g.Pixel(1)}));
  EXPECT_EQ(items[1].to, (Point{g.CentreX(1), g.yOrigin - g.Pixel(2)}));
  EXPECT_EQ(items[1].color, 0x404000u);  // not the alternative pen
  EXPECT_EQ(items[1].width, 2);
  EXPECT_EQ(items[2].rect, items[0].rect);
  EXPECT_EQ(items[2].color, 0x404080u);  // redrawn with its own alternative flag
  EXPECT_EQ(items[0].width, 1);
}

TEST_F(ChartFrameTest, ThePlotDrawsOnlyTheEntriesThatFit) {
  NonNumericLogChart chart;
  std::vector<int> values(5000, 3);
  ASSERT_EQ(chart.SetData(LabelDocument(values)), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 300, 300}), S_OK);
  const ChartFrame& f = chart.Frame();
  ASSERT_EQ(chart.Geometry().step, 1);
  const int fit = f.plot.Width() - 20;
  EXPECT_EQ(static_cast<int>(s.OpsOf(Kind::Rectangle).size()), fit);
  EXPECT_EQ(f.visibleEntries, fit);
  // Entries past the margin are not drawn and cannot be hit.
  EXPECT_EQ(chart.HitTest(chart.Geometry().CentreX(fit), chart.Geometry().yOrigin - 2), -1);
  EXPECT_EQ(chart.HitTest(chart.Geometry().CentreX(fit - 1), chart.Geometry().yOrigin - 2),
            fit - 1);
}

TEST_F(ChartFrameTest, ValueRulerTicksAndLabels) {
  NonNumericLogChart chart;
  ASSERT_EQ(chart.SetData(LabelDocument({0, 37})), S_OK);
  RecordingSurface s;
  // Height 200: 180 usable, 6 ticks; the ruler steps by 10 from 0 to 30.
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 200}), S_OK);
  const ChartFrame& f = chart.Frame();
  const PlotGeometry& g = chart.Geometry();
  const auto labels = OpsInside(s, Kind::Text, f.leftRuler);
  ASSERT_EQ(labels.size(), 4u);
  const int xr = f.leftRuler.right - 4;
  for (int i = 0; i < 4; ++i) {
    const QString text = QString::number(i * 10);
    const int y = g.yOrigin - g.Pixel(i * 10);
    EXPECT_EQ(labels[i].text, text);
    EXPECT_EQ(labels[i].from, (Point{xr - 6 * static_cast<int>(text.size()) - 5, y - 6}));
    EXPECT_EQ(labels[i].color, 0x004600u);
  }
  const auto ticks = OpsInside(s, Kind::Line, f.leftRuler);
  ASSERT_EQ(ticks.size(), 4u);
  EXPECT_EQ(ticks[3].from, (Point{xr, g.yOrigin - g.Pixel(30)}));
  EXPECT_EQ(ticks[3].to, (Point{xr - 4, g.yOrigin - g.Pixel(30)}));
  const auto right = OpsInside(s, Kind::Text, f.rightRuler);
  ASSERT_EQ(right.size(), 4u);
  EXPECT_EQ(right[0].from.x, f.rightRuler.left + 4 + 6);
}

TEST_F(ChartFrameTest, CategoryRulerWritesTruncatedLabelsUpwards) {
  NonNumericLogChart chart;
  ASSERT_EQ(chart.SetData("<VYR_CHART_DATA><ITM LBL='abcdefghijklmnopqrst'>4</ITM>"
                          "<ITM LBL='short'>2</ITM></VYR_CHART_DATA>"),
            S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 400}), S_OK);
  const ChartFrame& f = chart.Frame();
  // 19 shown characters of 7 pixels in the 14-pixel category font, + 18.
  EXPECT_EQ(f.bottomRuler.Height(), 19 * 7 + 18);
  const auto labels = s.OpsOf(Kind::UpwardText);
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].text, "abcdefghijklmnop...");
  EXPECT_EQ(labels[0].font, FontSpec::Category());
  const int tickTop = f.bottomRuler.top + 3;
  EXPECT_EQ(labels[0].from, (Point{chart.Geometry().CentreX(0) - 7, tickTop + 19 * 7 + 7}));
  EXPECT_EQ(labels[1].from, (Point{chart.Geometry().CentreX(1) - 7, tickTop + 5 * 7 + 7}));

  ASSERT_EQ(chart.PutLabelLength(4), S_OK);
  s.Clear();
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 400}), S_OK);
  EXPECT_EQ(s.OpsOf(Kind::UpwardText)[1].text, "shor...");
  EXPECT_EQ(chart.Data().LabelTextAt(0), "abcdefghijklmnopqrst");  // events get it whole
  EXPECT_EQ(chart.PutLabelLength(1), E_INVALIDARG);
  EXPECT_EQ(chart.PutLabelLength(65), E_INVALIDARG);
  EXPECT_EQ(chart.Properties().labelLength, 4);
}

TEST_F(ChartFrameTest, CategoryLabelsThinOutOnNarrowSlots) {
  NonNumericLogChart chart;
  ASSERT_EQ(chart.SetData(LabelDocument(std::vector<int>(100, 1))), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 468, 400}), S_OK);
  ASSERT_EQ(chart.Geometry().step, 4);
  // every = 14 / (4 + 2) + 1 = 3 items per tick; labels at least 15 pixels apart.
  const auto ticks = OpsInside(s, Kind::Line, chart.Frame().bottomRuler);
  EXPECT_EQ(ticks.size(), 34u);
  const auto labels = s.OpsOf(Kind::UpwardText);
  ASSERT_GE(labels.size(), 2u);
  for (std::size_t i = 1; i < labels.size(); ++i) {
    EXPECT_GE(labels[i].from.x - labels[i - 1].from.x, 15);
  }
  EXPECT_EQ(labels[1].text, "L6");
}

class TimeRulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousLocale_ = QLocale();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }
  void TearDown() override { QLocale::setDefault(previousLocale_); }

  std::vector<DrawOp> RulerTexts(const RecordingSurface& s) const {
    return OpsInside(s, Kind::Text, chart.Frame().bottomRuler);
  }

  test::ScopedTimeZone zone{test::kCentralEurope};
  TimeSeriesLogChart chart;
  QLocale previousLocale_;
};

TEST_F(TimeRulerTest, HourlyMarksEachNewDayWithItsShortDate) {
  std::vector<long long> times;
  for (int h = 20; h < 24; ++h) times.push_back(LocalTime(2024, 5, 6, h, 15));
  for (int h = 0; h < 4; ++h) times.push_back(LocalTime(2024, 5, 7, h, 15));
  ASSERT_EQ(chart.SetData(TimeDocument(times)), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 700, 300}), S_OK);
  const PlotGeometry& g = chart.Geometry();
  ASSERT_GE(g.step, 26);  // every bucket gets a mark
  const auto texts = RulerTexts(s);
  std::vector<DrawOp> majors;
  for (const DrawOp& op : texts) {
    if (op.color == 0xFF0000u) majors.push_back(op);
  }
  ASSERT_EQ(majors.size(), 2u);
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  EXPECT_EQ(majors[0].text, english.toString(QDate(2024, 5, 6), QLocale::ShortFormat));
  EXPECT_EQ(majors[1].text, english.toString(QDate(2024, 5, 7), QLocale::ShortFormat));
  EXPECT_EQ(majors[0].from.x, g.xOrigin);  // the left edge of the first slot
  EXPECT_EQ(majors[1].from.x, g.CentreX(4) - g.step / 2);
  EXPECT_EQ(majors[0].from.y, chart.Frame().bottomRuler.top + 3 + 7);
  // Major ticks at the slot edges in the alternative colour, 6 pixels long.
  int majorTicks = 0;
  for (const DrawOp& op : OpsInside(s, Kind::Line, chart.Frame().bottomRuler)) {
    if (op.color == 0xFF0000u) {
      ++majorTicks;
      EXPECT_EQ(op.to.y - op.from.y, 6);
    } else {
      EXPECT_EQ(op.to.y - op.from.y, 4);
    }
  }
  EXPECT_EQ(majorTicks, 2);
  // Hours are the minor labels, centred on their slots; the first of each day gives way.
  bool sawHour21 = false;
  for (const DrawOp& op : texts) {
    if (op.text == "21") {
      sawHour21 = true;
      EXPECT_EQ(op.color, 0x004600u);
      EXPECT_EQ(op.from.x, g.CentreX(1) - 6);
    }
  }
  EXPECT_TRUE(sawHour21);
}

TEST_F(TimeRulerTest, DailyLabelsMonthsAndTheYearAtItsFirstMark) {
  chart.Data().SetFilterType(FilterType::Daily);
  std::vector<long long> times;
  for (int d = 28; d <= 31; ++d) times.push_back(LocalTime(2023, 12, d, 12));
  for (int d = 1; d <= 4; ++d) times.push_back(LocalTime(2024, 1, d, 12));
  times.push_back(LocalTime(2024, 2, 1, 12));
  ASSERT_EQ(chart.SetData(TimeDocument(times)), S_OK);
  ASSERT_EQ(chart.Data().Entries(), 9);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 900, 300}), S_OK);
  std::vector<QString> majors;
  for (const DrawOp& op : RulerTexts(s)) {
    if (op.color == 0xFF0000u) majors.push_back(op.text);
  }
  EXPECT_EQ(majors, (std::vector<QString>{"Dec 23", "Jan 24", "Feb"}));
}

TEST_F(TimeRulerTest, MonthlyAndYearlyLabels) {
  ASSERT_EQ(chart.PutFilterType(2), S_OK);
  ASSERT_EQ(chart.PutRegularGrid(1), S_OK);
  ASSERT_EQ(chart.SetData(TimeDocument({LocalTime(2023, 11, 5), LocalTime(2024, 2, 5)})), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 700, 300}), S_OK);
  std::vector<QString> texts;
  for (const DrawOp& op : RulerTexts(s)) texts.push_back(op.text);
  // Wide slots: the year at the slot's left edge and the month centred, gaps included.
  EXPECT_EQ(texts, (std::vector<QString>{"2023", "Nov", "Dec", "2024", "Jan", "Feb"}));

  ASSERT_EQ(chart.PutFilterType(3), S_OK);
  s.Clear();
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 700, 300}), S_OK);
  texts.clear();
  for (const DrawOp& op : RulerTexts(s)) texts.push_back(op.text);
  EXPECT_EQ(texts, (std::vector<QString>{"2023", "2024"}));

  EXPECT_EQ(chart.PutFilterType(4), E_INVALIDARG);
  EXPECT_EQ(chart.PutFilterType(-1), E_INVALIDARG);
  EXPECT_EQ(chart.Properties().filterType, 3);
  EXPECT_EQ(chart.Data().FilterType(), FilterType::Yearly);
}

TEST_F(TimeRulerTest, CrowdedBucketsAreLabelledAtIntervals) {
  std::vector<long long> times;
  for (int h = 0; h < 24 * 3; ++h) times.push_back(LocalTime(2024, 5, 6) + h * 3600LL);
  ASSERT_EQ(chart.SetData(TimeDocument(times)), S_OK);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 300}), S_OK);
  const int step = chart.Geometry().step;
  ASSERT_EQ(step, 4);
  const int every = (26 + step - 1) / step;  // 7 buckets per mark
  int minorTicks = 0;
  for (const DrawOp& op : OpsInside(s, Kind::Line, chart.Frame().bottomRuler)) {
    if (op.color != 0xFF0000u) ++minorTicks;
  }
  // Each day restarts the count: marks at hours 0, 7, 14, 21 of each of three days.
  EXPECT_EQ(minorTicks, 3 * ((24 + every - 1) / every));
  // Drawn labels never overlap.
  const auto texts = RulerTexts(s);
  for (std::size_t i = 1; i < texts.size(); ++i) {
    const int previousEnd = texts[i - 1].from.x + 6 * static_cast<int>(texts[i - 1].text.size());
    EXPECT_GE(texts[i].from.x, previousEnd + 3);
  }
}

TEST_F(ChartFrameTest, FailuresWhilePaintingAreReported) {
  NonNumericLogChart chart;
  ASSERT_EQ(chart.SetData(LabelDocument({1, 2})), S_OK);
  chart.Properties().chartType = static_cast<ChartType>(9);  // an unknown type is the caller's fault, not a lack of memory
  RecordingSurface s;
  EXPECT_EQ(chart.OnDraw(s, {0, 0, 400, 300}), E_INVALIDARG);
  // A bad document leaves an empty chart that still paints.
  EXPECT_EQ(chart.SetData("<VYR_CHART_DATA><ITM>1</VYR_CHART_DATA>"), E_CHARTDATA);
  chart.Properties().chartType = ChartType::Dots;
  EXPECT_EQ(chart.OnDraw(s, {0, 0, 400, 300}), S_OK);
  EXPECT_EQ(chart.Frame().visibleEntries, 0);
}

TEST_F(ChartFrameTest, MeasureTypeChoosesCounts) {
  NonNumericLogChart chart;
  ASSERT_EQ(chart.SetData("<VYR_CHART_DATA><ITM CNT='40'>1</ITM><ITM CNT='20'>1000</ITM>"
                          "</VYR_CHART_DATA>"),
            S_OK);
  chart.Properties().measureType = static_cast<std::int16_t>(MeasureType::Count);
  EXPECT_EQ(chart.MaxMeasure(), 40);
  EXPECT_EQ(chart.MeasureAt(1), 20);
  RecordingSurface s;
  ASSERT_EQ(chart.OnDraw(s, {0, 0, 400, 300}), S_OK);
  EXPECT_EQ(chart.Frame().leftRuler.Width(), 12 + 18);  // "40", not "1000"
}

}  // namespace
}  // namespace plotwell
