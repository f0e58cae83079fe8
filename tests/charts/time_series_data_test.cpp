// Bucketing of time samples into calendar buckets, with and without the regular grid.
#include <gtest/gtest.h>

#include <vector>

#include "charts/chart_data.h"
#include "chart_test_support.h"

namespace plotwell {
namespace {

using test::Column;
using test::Extremes;
using test::ExtremesOf;
using test::Numbers;
using test::LocalTime;

struct Sample {
  long long time;
  int value;
  int count = 1;
  int alt = 0;
};

QString Document(const std::vector<Sample>& samples) {
  QString text = "<VYR_CHART_DATA>";
  for (const Sample& s : samples) {
    text += QString("<ITM TM='%1' CNT='%2' ALT='%3'>%4</ITM>")
                .arg(s.time)
                .arg(s.count)
                .arg(s.alt)
                .arg(s.value);
  }
  return text + "</VYR_CHART_DATA>";
}

class TimeBuckets : public ::testing::Test {
 protected:
  void Load(const std::vector<Sample>& samples, FilterType type, bool grid) {
    data.SetFilterType(type);
    data.SetRegularGrid(grid);
    ASSERT_EQ(data.TryLoad(Document(samples)), S_OK);
  }
  std::vector<std::int32_t> Index() const { return data.BucketIndex(); }

  test::ScopedTimeZone zone{test::kCentralEurope};
  TimeSeriesData data;
};

TEST_F(TimeBuckets, HourlyGroupsWithinTheHourAndFillsGapsOnTheGrid) {
  const std::vector<Sample> samples = {{LocalTime(2024, 5, 6, 10, 5), 1, 2},
                                       {LocalTime(2024, 5, 6, 10, 40), 2, 3},
                                       {LocalTime(2024, 5, 6, 13, 10), 4, 1}};
  Load(samples, FilterType::Hourly, false);
  EXPECT_EQ(Index(), (std::vector<std::int32_t>{0, 2}));
  EXPECT_EQ(data.ValueAt(0), 3);
  EXPECT_EQ(data.CountAt(0), 5);
  EXPECT_EQ(data.BucketTime(0), LocalTime(2024, 5, 6, 10));
  EXPECT_EQ(data.BucketTime(1), LocalTime(2024, 5, 6, 13));

  data.SetRegularGrid(true);
  EXPECT_EQ(Index(), (std::vector<std::int32_t>{0, -2, -1, 2}));
  ASSERT_EQ(data.Entries(), 4);
  EXPECT_EQ(data.ValueAt(1), 0);
  EXPECT_EQ(data.CountAt(2), 0);
  EXPECT_EQ(data.ValueAt(3), 4);
  EXPECT_EQ(data.BucketTime(1), LocalTime(2024, 5, 6, 11));
  EXPECT_EQ(data.BucketTime(2), LocalTime(2024, 5, 6, 12));
  // Gaps take part in the extremes.
  EXPECT_EQ(ExtremesOf(data), (Extremes{0, 5, 0, 4}));
}

TEST_F(TimeBuckets, DailyKeepsADayOnWhichTheClocksChangeTogether) {
  // Clocks go forward on 31 March 2024 and back on 27 October 2024.
  Load({{LocalTime(2024, 3, 30, 12), 1},
        {LocalTime(2024, 3, 31, 1, 30), 2},   // before the change
        {LocalTime(2024, 3, 31, 10), 4},      // after it
        {LocalTime(2024, 4, 1, 12), 8},
        {LocalTime(2024, 10, 27, 2, 30, 1), 16},  // first pass of the repeated hour
        {LocalTime(2024, 10, 27, 2, 30, 0), 32},  // second pass
        {LocalTime(2024, 10, 27, 20), 64},
        {LocalTime(2024, 10, 28, 0, 10), 128}},
       FilterType::Daily, false);
  ASSERT_EQ(data.Entries(), 5);
  EXPECT_EQ(data.ValueAt(1), 6);
  EXPECT_EQ(data.ValueAt(3), 112);
  EXPECT_EQ(data.BucketTime(1), LocalTime(2024, 3, 31));
  EXPECT_EQ(data.BucketTime(3), LocalTime(2024, 10, 27));
  EXPECT_EQ(data.BucketTime(1) - data.BucketTime(0), 86400);
  EXPECT_EQ(data.BucketTime(2) - data.BucketTime(1), 82800);  // a 23-hour day
  EXPECT_EQ(data.BucketTime(4) - data.BucketTime(3), 90000);  // a 25-hour day

  // On the grid, short and long days still count as one day each.
  Load({{LocalTime(2024, 3, 29, 12), 1}, {LocalTime(2024, 4, 2, 12), 2},
        {LocalTime(2024, 10, 26, 12), 3}, {LocalTime(2024, 10, 29, 12), 4}},
       FilterType::Daily, true);
  const std::vector<std::int32_t> index = Index();
  const std::vector<std::int32_t> head(index.begin(), index.begin() + 5);
  EXPECT_EQ(head, (std::vector<std::int32_t>{0, -3, -2, -1, 1}));
  EXPECT_EQ(data.BucketTime(1), LocalTime(2024, 3, 30));
  EXPECT_EQ(data.BucketTime(2), LocalTime(2024, 3, 31));
  EXPECT_EQ(data.BucketTime(3), LocalTime(2024, 4, 1));
  const int n = data.Entries();
  EXPECT_EQ(index[n - 3], -2);
  EXPECT_EQ(index[n - 2], -1);
  EXPECT_EQ(data.BucketTime(n - 3), LocalTime(2024, 10, 27));
  EXPECT_EQ(data.BucketTime(n - 2), LocalTime(2024, 10, 28));
  EXPECT_EQ(n, 215);  // every day from 29 March to 29 October
}

TEST_F(TimeBuckets, HourlyKeepsTheRepeatedHourApart) {
  Load({{LocalTime(2024, 10, 27, 1, 30), 1},
        {LocalTime(2024, 10, 27, 2, 30, 1), 2},
        {LocalTime(2024, 10, 27, 2, 30, 0), 4},
        {LocalTime(2024, 10, 27, 4, 30), 8}},
       FilterType::Hourly, true);
  // 01:00, 02:00 summer, 02:00 winter, gap 03:00, 04:00.
  EXPECT_EQ(Index(), (std::vector<std::int32_t>{0, 1, 2, -1, 3}));
  EXPECT_EQ(data.BucketTime(2) - data.BucketTime(1), 3600);
  EXPECT_EQ(data.BucketTime(3), LocalTime(2024, 10, 27, 3));
}

TEST_F(TimeBuckets, MonthlyAndYearlyGapsOnTheGrid) {
  Load({{LocalTime(2023, 11, 20, 8), 1}, {LocalTime(2023, 11, 2), 2},
        {LocalTime(2024, 2, 29, 23), 4}},
       FilterType::Monthly, true);
  EXPECT_EQ(Index(), (std::vector<std::int32_t>{0, -2, -1, 2}));
  EXPECT_EQ(data.ValueAt(0), 3);
  EXPECT_EQ(data.BucketTime(0), LocalTime(2023, 11, 1));
  EXPECT_EQ(data.BucketTime(1), LocalTime(2023, 12, 1));
  EXPECT_EQ(data.BucketTime(2), LocalTime(2024, 1, 1));
  EXPECT_EQ(data.BucketTime(3), LocalTime(2024, 2, 1));

  Load({{LocalTime(2000, 6, 1), 1}, {LocalTime(2003, 1, 1, 0, 30), 2}}, FilterType::Yearly,
       true);
  EXPECT_EQ(Index(), (std::vector<std::int32_t>{0, -2, -1, 1}));
  EXPECT_EQ(data.BucketTime(0), LocalTime(2000, 1, 1));
  EXPECT_EQ(data.BucketTime(1), LocalTime(2001, 1, 1));
  EXPECT_EQ(data.BucketTime(2), LocalTime(2002, 1, 1));
  EXPECT_EQ(data.BucketTime(3), LocalTime(2003, 1, 1));

  data.SetRegularGrid(false);
  EXPECT_EQ(Index(), (std::vector<std::int32_t>{0, 1}));
  data.SetFilterType(FilterType::Monthly);
  EXPECT_EQ(data.Entries(), 2);
}

TEST_F(TimeBuckets, AlternativeOnlyWhenEverySampleIsAndZeroCountsStillOpenBuckets) {
  Load({{LocalTime(2024, 1, 1, 1), 1, 1, 1},
        {LocalTime(2024, 1, 1, 1, 30), 1, 1, 0},
        {LocalTime(2024, 1, 1, 2), 1, 1, 1},
        {LocalTime(2024, 1, 1, 2, 10), 1, 1, 1},
        {LocalTime(2024, 1, 1, 3), 5, 0, 0}},
       FilterType::Hourly, false);
  ASSERT_EQ(data.Entries(), 3);
  EXPECT_EQ(Column(data, &TimeSeriesData::AltAt, 3), (Numbers{0, 1, 0}));
  EXPECT_EQ(Column(data, &TimeSeriesData::CountAt, 3), (Numbers{2, 2, 0}));
  EXPECT_EQ(Column(data, &TimeSeriesData::ValueAt, 3), (Numbers{2, 2, 5}));
  EXPECT_EQ(ExtremesOf(data), (Extremes{0, 2, 2, 5}));
}

TEST_F(TimeBuckets, BucketSumsDoNotWrapAround) {
  Load({{LocalTime(2024, 1, 1, 1), 2147483647}, {LocalTime(2024, 1, 1, 1, 5), 2147483647}},
       FilterType::Hourly, false);
  EXPECT_EQ(data.ValueAt(0), 2147483647);
}

TEST_F(TimeBuckets, AFailedLoadEmptiesBucketsAndSamples) {
  Load({{LocalTime(2024, 1, 1, 1), 1}}, FilterType::Hourly, false);
  EXPECT_EQ(data.TryLoad("<VYR_CHART_DATA><ITM TM='1'>x</ITM></VYR_CHART_DATA>"),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(data.Entries(), 0);
  EXPECT_EQ(data.Samples(), 0);
  EXPECT_TRUE(data.BucketIndex().empty());
}

}  // namespace
}  // namespace plotwell
