// A 100,000-sample hourly document loaded and painted once into a 1000 x 600 image.
// Run with QT_QPA_PLATFORM=offscreen.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "charts/log_chart.h"
#include "charts/painter_surface.h"

namespace {

constexpr int kSamples = 100000;
constexpr long long kStart = 1388534400;  // 2014-01-01 00:00 UTC

// One sample per hour, a few minutes past, with varying values and counts; reversed
// gives the worst order for the sorted insertion.
QString HourlyDocument(bool reversed) {
  QString text;
  text.reserve(kSamples * 40);
  text += "<VYR_CHART_DATA>";
  for (int k = 0; k < kSamples; ++k) {
    const int i = reversed ? kSamples - 1 - k : k;
    text += QString("<ITM TM='%1' CNT='%2'%3>%4</ITM>")
                .arg(kStart + i * 3600LL + (i * 7) % 3000)
                .arg(1 + i % 5)
                .arg(i % 11 == 0 ? " ALT='1'" : "")
                .arg((i * 37) % 500);
  }
  text += "</VYR_CHART_DATA>";
  return text;
}

void Paint(plotwell::LogChart& chart, QImage& image) {
  QPainter painter(&image);
  plotwell::QPainterSurface surface(painter);
  chart.OnDraw(surface, {0, 0, image.width(), image.height()});
}

void BM_LoadAndPaintHourly(benchmark::State& state) {
  const QString doc = HourlyDocument(false);
  QImage image(1000, 600, QImage::Format_RGB32);
  for (auto _ : state) {
    plotwell::TimeSeriesLogChart chart;
    chart.Properties().caption = "Sessions";
    if (chart.SetData(doc) != plotwell::S_OK) state.SkipWithError("load failed");
    Paint(chart, image);
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_LoadAndPaintHourly)->Unit(benchmark::kMillisecond);

void BM_LoadHourly(benchmark::State& state) {
  const QString doc = HourlyDocument(state.range(0) != 0);
  plotwell::TimeSeriesData data;
  for (auto _ : state) {
    if (data.TryLoad(doc) != plotwell::S_OK) state.SkipWithError("load failed");
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_LoadHourly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PaintHourly(benchmark::State& state) {
  plotwell::TimeSeriesLogChart chart;
  chart.PutFilterType(static_cast<std::int16_t>(state.range(0)));
  chart.SetData(HourlyDocument(false));
  QImage image(1000, 600, QImage::Format_RGB32);
  for (auto _ : state) {
    Paint(chart, image);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_PaintHourly)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_RebucketDaily(benchmark::State& state) {
  plotwell::TimeSeriesData data;
  data.TryLoad(HourlyDocument(false));
  for (auto _ : state) data.SetFilterType(plotwell::FilterType::Daily);
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_RebucketDaily)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
