#pragma once
// DrawingSurface that writes SVG: one <svg> element of width x height pixels holding a
// shape per call, with the texts as text (searchable, scalable). Text is measured with
// the same fonts as QPainterSurface, so the layout matches the window's drawing.
#include <optional>
#include <string>

#include <QFont>
#include <QFontMetrics>

#include "charts/box_surface.h"

namespace plotwell {

class SvgSurface : public BoxSurface {
 public:
  SvgSurface(int width, int height);

  void Ellipse(const Rect& bounds, Color pen, Color fill) override;
  void Text(const FontSpec& font, Point topLeft, const QString& text, Color color) override;
  void UpwardText(const FontSpec& font, Point start, const QString& text, Color color) override;
  void CentredText(const FontSpec& font, const Rect& box, const QString& text, Color color) override;

  // The finished element, UTF-8.
  std::string Finish() const;

 protected:
  void FillBox(int x, int y, int width, int height, Color color) override;
  void StrokeLine(Point from, Point to, Color color, int width) override;
  const QFontMetrics& Use(const FontSpec& spec) override;

 private:
  void TextElement(const QString& text, int x, int y, Color color, const std::string& extra);

  int width_, height_;
  std::string body_;
  FontSpec spec_;
  QFont font_;
  std::string fontAttributes_;
  std::optional<QFontMetrics> metrics_;
};

}  // namespace plotwell
