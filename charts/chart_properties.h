#pragma once
// The appearance and behaviour settings of one chart control, as a plain record the
// control owns, persists and edits through its property pages.
#include <cstdint>

#include <QString>

#include "charts/drawing_surface.h"

namespace plotwell {

// A colour as containers pass it: 0x00BBGGRR, or 0x80000000 | index of a system colour.
using OleColor = std::uint32_t;

// The item style; the numbers are the ChartType property's values.
enum class ChartType : std::int16_t {
  Dots = 0,
  Squares = 1,
  ConnectedDots = 2,
  ConnectedSquares = 3,
  VerticalBars = 4,
};

enum class MeasureType : std::int16_t { Value = 0, Count = 1 };

constexpr bool IsValidChartType(int value) { return value >= 0 && value <= 4; }
constexpr bool IsValidMeasureType(int value) { return value == 0 || value == 1; }
constexpr int kMinLabelLength = 2;
constexpr int kMaxLabelLength = 64;
constexpr bool IsValidLabelLength(int value) {
  return value >= kMinLabelLength && value <= kMaxLabelLength;
}

// Names shown for the choices ("Dots", "Hourly", ...); empty when out of range.
QString ChartTypeName(ChartType type);
QString FilterTypeName(int type);

struct ChartProperties {
  ChartType chartType = ChartType::VerticalBars;
  std::int16_t measureType = static_cast<std::int16_t>(MeasureType::Value);
  QString caption;
  OleColor chartFillColor = 0xBFFF80;
  OleColor chartBkgColor = 0xCEC2C1;
  OleColor chartPenColor = 0x404000;
  OleColor chartAltFillColor = 0x00FFFF;
  OleColor chartAltPenColor = 0x404080;
  OleColor rulerBkgColor = 0xCDDACF;
  OleColor rulerPenColor = 0x004600;
  OleColor rulerAltColor = 0xFF0000;
  bool chartItemHollow = false;
  // Time-series chart only. Change these through TimeSeriesLogChart so that the
  // samples are rebucketed.
  std::int16_t filterType = 0;
  bool regularGrid = false;
  // Non-numeric chart only: characters of a label shown before "...".
  std::int32_t labelLength = 16;
};

// Resolves a container colour: system colours (high byte 0x80) come from the
// desktop palette when an application object exists, else from the classic defaults;
// palette-relative values use their low three bytes.
Color TranslateColor(OleColor color);

}  // namespace plotwell
