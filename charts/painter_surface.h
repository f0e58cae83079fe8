#pragma once
// DrawingSurface onto a QPainter: widgets, QImage, QPicture, SVG and printers alike.
#include <optional>

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include "charts/box_surface.h"

namespace plotwell {

class QPainterSurface : public BoxSurface {
 public:
  // Shapes are drawn aliased so that they land on exact pixels; the painter's state is
  // restored when the surface goes away.
  explicit QPainterSurface(QPainter& painter);
  ~QPainterSurface() override;

  void Ellipse(const Rect& bounds, Color pen, Color fill) override;
  void Text(const FontSpec& font, Point topLeft, const QString& text, Color color) override;
  void UpwardText(const FontSpec& font, Point start, const QString& text, Color color) override;
  void CentredText(const FontSpec& font, const Rect& box, const QString& text,
                   Color color) override;

  // The QFont a request resolves to.
  static QFont ResolveFont(const FontSpec& spec);

 protected:
  void FillBox(int x, int y, int width, int height, Color color) override;
  void StrokeLine(Point from, Point to, Color color, int width) override;
  const QFontMetrics& Use(const FontSpec& spec) override;

 private:

  QPainter& painter_;
  FontSpec spec_;
  QFont font_;
  std::optional<QFontMetrics> metrics_;  // of font_, made on first use
};

}  // namespace plotwell
