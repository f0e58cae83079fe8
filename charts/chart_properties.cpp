#include "charts/chart_properties.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPalette>

namespace plotwell {

QString ChartTypeName(ChartType type) {
  switch (type) {
    case ChartType::Dots: return QStringLiteral("Dots");
    case ChartType::Squares: return QStringLiteral("Squares");
    case ChartType::ConnectedDots: return QStringLiteral("Connected Dots");
    case ChartType::ConnectedSquares: return QStringLiteral("Connected Squares");
    case ChartType::VerticalBars: return QStringLiteral("Vertical Bars");
  }
  return QString();
}

QString FilterTypeName(int type) {
  switch (type) {
    case 0: return QStringLiteral("Hourly");
    case 1: return QStringLiteral("Daily");
    case 2: return QStringLiteral("Monthly");
    case 3: return QStringLiteral("Yearly");
    default: return QString();
  }
}

namespace {

constexpr Color FromRgb(std::uint32_t rgb) {
  return MakeColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The classic desktop colours by system colour index, for use without a palette.
constexpr std::uint32_t kSystemRgb[] = {
    0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
    0x000000, 0x000000, 0xB4B4B4, 0xF4F7FC, 0xABABAB, 0x0078D7, 0xFFFFFF, 0xF0F0F0,
    0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
    0xFFFFE1, 0x000000, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x3399FF, 0xF0F0F0,
};

bool PaletteColor(unsigned index, Color* out) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return false;
  const QPalette palette = QGuiApplication::palette();
  QColor c;
  switch (index) {
    case 4: case 15: case 30: c = palette.color(QPalette::Button); break;      // menu, face
    case 5: c = palette.color(QPalette::Base); break;                          // window
    case 7: case 8: c = palette.color(QPalette::Text); break;                  // texts
    case 13: case 29: c = palette.color(QPalette::Highlight); break;
    case 14: c = palette.color(QPalette::HighlightedText); break;
    case 16: c = palette.color(QPalette::Mid); break;                          // shadow
    case 17: c = palette.color(QPalette::Disabled, QPalette::Text); break;
    case 18: c = palette.color(QPalette::ButtonText); break;
    case 20: c = palette.color(QPalette::Light); break;
    case 21: c = palette.color(QPalette::Shadow); break;
    case 22: c = palette.color(QPalette::Midlight); break;
    case 23: c = palette.color(QPalette::ToolTipText); break;
    case 24: c = palette.color(QPalette::ToolTipBase); break;
    default: return false;
  }
  *out = MakeColor(c.red(), c.green(), c.blue());
  return true;
}

}  // namespace

Color TranslateColor(OleColor color) {
  if ((color & 0xFF000000u) == 0x80000000u) {
    const unsigned index = color & 0xFFFFu;
    Color resolved = 0;
    if (PaletteColor(index, &resolved)) return resolved;
    if (index < std::size(kSystemRgb)) return FromRgb(kSystemRgb[index]);
    return 0;
  }
  return color & 0x00FFFFFFu;
}

}  // namespace plotwell
