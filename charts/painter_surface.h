#pragma once
// DrawingSurface onto a QPainter: widgets, QImage, QPicture, SVG and printers alike.
#include <optional>

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include "charts/drawing_surface.h"

namespace plotwell {

class QPainterSurface : public DrawingSurface {
 public:
  // Shapes are drawn aliased so that they land on exact pixels; the painter's state is
  // restored when the surface goes away.
  explicit QPainterSurface(QPainter& painter);
  ~QPainterSurface() override;

  void FillRect(const Rect& rect, Color color) override;
  void DrawEdge(const Rect& rect, EdgeStyle style) override;
  void Line(Point from, Point to, Color color, int width) override;
  void Ellipse(const Rect& bounds, Color pen, Color fill) override;
  void Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) override;
  void SetPixel(Point point, Color color) override;
  Size TextExtent(const FontSpec& font, const QString& text) override;
  void Text(const FontSpec& font, Point topLeft, const QString& text, Color color) override;
  void UpwardText(const FontSpec& font, Point start, const QString& text, Color color) override;
  void CentredText(const FontSpec& font, const Rect& box, const QString& text,
                   Color color) override;

  // The QFont a request resolves to.
  static QFont ResolveFont(const FontSpec& spec);

 private:
  const QFontMetrics& Use(const FontSpec& spec);

  QPainter& painter_;
  FontSpec spec_;
  QFont font_;
  std::optional<QFontMetrics> metrics_;  // of font_, made on first use
};

}  // namespace plotwell
