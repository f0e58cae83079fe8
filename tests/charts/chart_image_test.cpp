// Both charts painted into images through QPainter, checked with pixel probes.
// Set PLOTWELL_PNG_DIR to keep the pictures.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QXmlStreamReader>

#include <cstdlib>
#include <memory>
#include <string>

#include "charts/log_chart.h"
#include "charts/painter_surface.h"
#include "charts/svg_surface.h"
#include "chart_test_support.h"

namespace plotwell {
namespace {

class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QGuiApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "plotwell_core_tests";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QGuiApplication> app_;
};

const auto* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

QRgb Rgb(Color c) { return qRgb(RedOf(c), GreenOf(c), BlueOf(c)); }

QImage Paint(LogChart& chart, int width, int height, const char* name) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  {
    QPainter painter(&image);
    QPainterSurface surface(painter);
    EXPECT_EQ(chart.OnDraw(surface, {0, 0, width, height}), S_OK);
  }
  if (const char* dir = std::getenv("PLOTWELL_PNG_DIR")) {
    image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString("%1.png").arg(name)));
  }
  return image;
}

// The five item styles with the names their pictures are kept under.
struct StyleCase {
  ChartType type;
  const char* name;
};
constexpr StyleCase kStyles[] = {{ChartType::Dots, "dots"},
                                 {ChartType::Squares, "squares"},
                                 {ChartType::ConnectedDots, "connected_dots"},
                                 {ChartType::ConnectedSquares, "connected_squares"},
                                 {ChartType::VerticalBars, "bars"}};

// Paints the document in one style, the picture kept as prefix_name.
QImage PaintStyle(LogChart& chart, const QString& document, const char* caption, const StyleCase& style,
                  const char* prefix) {
  chart.Properties().caption = caption;
  chart.Properties().chartType = style.type;
  EXPECT_EQ(chart.SetData(document), S_OK) << style.name;
  return Paint(chart, 640, 400, (std::string(prefix) + "_" + style.name).c_str());
}

QString SampleLabels() {
  return "<VYR_CHART_DATA><ITM LBL='Mozilla'>120</ITM><ITM LBL='Opera' ALT='1'>45</ITM>"
         "<ITM LBL='Konqueror'>80</ITM><ITM LBL='A very long browser name indeed'>30</ITM>"
         "<ITM LBL='Lynx'>0</ITM><ITM LBL='Tom &#x0026; Jerry'>64</ITM></VYR_CHART_DATA>";
}

TEST(ChartImage, EachStyleOfTheNonNumericChart) {
  for (const StyleCase& style : kStyles) {
    NonNumericLogChart chart;
    const QImage image = PaintStyle(chart, SampleLabels(), "Browsers", style, "nn");
    const bool bars = style.type == ChartType::VerticalBars;
    const char* type = style.name;
    const ChartFrame& f = chart.Frame();
    const PlotGeometry& g = chart.Geometry();
    const ChartProperties& p = chart.Properties();
    // Plot background inside the raised edge, ruler colour in the left ruler.
    EXPECT_EQ(image.pixel(f.plot.left + 4, f.plot.top + 4), Rgb(p.chartBkgColor)) << type;
    EXPECT_EQ(image.pixel(f.leftRuler.left + 4, f.leftRuler.bottom - 40),
              Rgb(p.rulerBkgColor)) << type;
    // The item of the largest value is filled with the fill colour at its centre.
    const int x = g.CentreX(0);
    const int y = bars ? g.yOrigin - g.Pixel(60) : g.yOrigin - g.Pixel(120);
    EXPECT_EQ(image.pixel(x, y), Rgb(p.chartFillColor)) << type;
    // The alternative item uses the alternative fill.
    const int yAlt = bars ? g.yOrigin - g.Pixel(20) : g.yOrigin - g.Pixel(45);
    EXPECT_EQ(image.pixel(g.CentreX(1), yAlt), Rgb(p.chartAltFillColor)) << type;
    // The outline of the largest item in the pen colour.
    if (bars) {
      EXPECT_EQ(image.pixel(x - g.itemWidth / 2, y), Rgb(p.chartPenColor));
    } else {
      EXPECT_EQ(image.pixel(x, g.yOrigin - g.Pixel(120) - 4), Rgb(p.chartPenColor)) << type;
    }
  }
}

// The SVG surface draws what the painter draws: the bar of the largest item covers the
// same pixel in its fill colour, and the texts are escaped markup.
TEST(ChartImage, TheSvgSurfaceDrawsTheSameChartAsMarkup) {
  NonNumericLogChart chart;
  chart.Properties().caption = "Browsers <by name>";
  chart.Properties().chartType = ChartType::VerticalBars;
  ASSERT_EQ(chart.SetData(SampleLabels()), S_OK);
  const QImage image = Paint(chart, 640, 400, "nn_bars_svg_reference");
  const PlotGeometry& g = chart.Geometry();
  const int x = g.CentreX(0), y = g.yOrigin - g.Pixel(60);
  ASSERT_EQ(image.pixel(x, y), Rgb(chart.Properties().chartFillColor));

  SvgSurface surface(640, 400);
  ASSERT_EQ(chart.OnDraw(surface, {0, 0, 640, 400}), S_OK);
  const std::string svg = surface.Finish();
  QXmlStreamReader xml(QString::fromStdString(svg));
  QString covering;  // the fill of the last rectangle over (x, y): the one on top
  QStringList texts;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const QXmlStreamAttributes a = xml.attributes();
    if (xml.name() == QLatin1String("rect") && a.hasAttribute("fill")) {
      const int left = a.value("x").toInt(), top = a.value("y").toInt();
      if (x >= left && x < left + a.value("width").toInt() && y >= top && y < top + a.value("height").toInt())
        covering = a.value("fill").toString();
    } else if (xml.name() == QLatin1String("text")) {
      texts << xml.readElementText();
    }
  }
  ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " in " << svg.substr(0, 400);
  EXPECT_EQ(covering, QColor(Rgb(chart.Properties().chartFillColor)).name());
  EXPECT_TRUE(texts.contains(QStringLiteral("Browsers <by name>"))) << texts.join('|').toStdString();
  EXPECT_TRUE(texts.contains(QStringLiteral("Tom & Jerry"))) << texts.join('|').toStdString();
}

TEST(ChartImage, EachStyleOfTheTimeSeriesChart) {
  test::ScopedTimeZone zone(test::kCentralEurope);
  QString doc = "<VYR_CHART_DATA>";
  const long long start = test::LocalTime(2024, 5, 6, 18);
  for (int h = 0; h < 16; ++h) {
    const int value = h == 5 ? 0 : 10 + (h * 37) % 50;
    doc += QString("<ITM TM='%1'%2>%3</ITM>").arg(start + h * 3600).arg(h % 7 == 3 ? " ALT='1'" : "").arg(value);
  }
  doc += "</VYR_CHART_DATA>";
  for (const StyleCase& style : kStyles) {
    TimeSeriesLogChart chart;
    const bool hollowDots = style.type == ChartType::Dots;
    chart.Properties().chartItemHollow = hollowDots;
    const QImage image = PaintStyle(chart, doc, "Sessions per hour", style, "ts");
    const char* type = style.name;
    const ChartFrame& f = chart.Frame();
    const PlotGeometry& g = chart.Geometry();
    const ChartProperties& p = chart.Properties();
    EXPECT_EQ(image.pixel(f.plot.right - 5, f.plot.top + 4), Rgb(p.chartBkgColor)) << type;
    EXPECT_EQ(image.pixel(f.bottomRuler.right - 3, f.bottomRuler.bottom - 4),
              Rgb(p.rulerBkgColor)) << type;
    const int v0 = chart.MeasureAt(0);
    const int y = style.type == ChartType::VerticalBars ? g.yOrigin - g.Pixel(v0) / 2 : g.yOrigin - g.Pixel(v0);
    // Hollow dots show the plot background inside their outline.
    const Color inside = hollowDots ? p.chartBkgColor : p.chartFillColor;
    EXPECT_EQ(image.pixel(g.CentreX(0), y), Rgb(inside)) << type;
  }
}

TEST(ChartImage, TooSmallIsOneRulerColouredFrame) {
  TimeSeriesLogChart chart;
  const QImage image = Paint(chart, 50, 60, "ts_too_small");
  EXPECT_EQ(image.pixel(25, 30), Rgb(chart.Properties().rulerBkgColor));
  EXPECT_NE(image.pixel(0, 0), qRgb(0, 0, 0));
}

TEST(PainterSurface, ShapesLandOnExactPixels) {
  QImage image(40, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    QPainterSurface s(painter);
    s.Rectangle({2, 2, 12, 20}, 0x0000FF, 2, 0x00FF00);  // colours are 0x00BBGGRR
    s.Line({20, 5}, {30, 5}, 0x0000FF, 1);
    s.Line({20, 10}, {20, 15}, 0x0000FF, 1);
    s.Ellipse({20, 20, 29, 29}, 0x0000FF, 0x00FF00);
    s.SetPixel({35, 35}, 0x0000FF);
  }
  const QRgb red = qRgb(255, 0, 0);
  const QRgb green = qRgb(0, 255, 0);
  const QRgb white = qRgb(255, 255, 255);
  // The outline lies inside the bounds, which exclude right and bottom.
  EXPECT_EQ(image.pixel(2, 2), red);
  EXPECT_EQ(image.pixel(3, 10), red);
  EXPECT_EQ(image.pixel(4, 10), green);
  EXPECT_EQ(image.pixel(11, 19), red);
  EXPECT_EQ(image.pixel(12, 10), white);
  EXPECT_EQ(image.pixel(6, 20), white);
  // Lines leave out their end point.
  EXPECT_EQ(image.pixel(20, 5), red);
  EXPECT_EQ(image.pixel(29, 5), red);
  EXPECT_EQ(image.pixel(30, 5), white);
  EXPECT_EQ(image.pixel(20, 14), red);
  EXPECT_EQ(image.pixel(20, 15), white);
  // The ellipse fills its box: centre filled, outline on the box's edges, corners clear.
  EXPECT_EQ(image.pixel(24, 24), green);
  EXPECT_EQ(image.pixel(24, 20), red);
  EXPECT_EQ(image.pixel(24, 28), red);
  EXPECT_EQ(image.pixel(24, 29), white);
  EXPECT_EQ(image.pixel(20, 20), white);
  EXPECT_EQ(image.pixel(35, 35), red);
}

}  // namespace
}  // namespace plotwell
