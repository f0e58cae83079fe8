#pragma once
// The drawing surface every chart paints through. Coordinates are device pixels;
// rectangles include left/top and exclude right/bottom, lines exclude their end point
// (for 1-pixel pens), as the chart geometry assumes.
#include <cstdint>

#include <QString>

namespace plotwell {

// A resolved colour, 0x00BBGGRR.
using Color = std::uint32_t;

constexpr int RedOf(Color c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(Color c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(Color c) { return static_cast<int>((c >> 16) & 0xFF); }
constexpr Color MakeColor(int r, int g, int b) {
  return static_cast<Color>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  Rect Inset(int dx, int dy) const { return {left + dx, top + dy, right - dx, bottom - dy}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The three-dimensional frames drawn around bands and the plot (2 pixels each side).
enum class EdgeStyle { Raised, Bump };

// A font request. An empty family means the desktop's general GUI font at its own size.
struct FontSpec {
  QString family;
  int pixelHeight = 0;  // 0: the family's default size
  int weight = 400;     // 400 normal, 700 bold
  bool upward = false;  // text runs bottom to top (rotated by 90 degrees)

  static FontSpec Gui() { return {}; }
  static FontSpec GuiBold() { return {QString(), 0, 700, false}; }
  // Item labels of the non-numeric chart, written upwards.
  static FontSpec Category() { return {QStringLiteral("Arial"), 14, 400, true}; }
  friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

class DrawingSurface {
 public:
  virtual ~DrawingSurface() = default;

  virtual void FillRect(const Rect& rect, Color color) = 0;
  virtual void DrawEdge(const Rect& rect, EdgeStyle style) = 0;
  // A solid line; width 0 or 1 is one pixel wide and leaves out the end point.
  virtual void Line(Point from, Point to, Color color, int width) = 0;
  // The ellipse inside bounds with a 1-pixel outline, filled.
  virtual void Ellipse(const Rect& bounds, Color pen, Color fill) = 0;
  // A filled rectangle whose outline of penWidth pixels (at least 1) lies inside bounds.
  virtual void Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) = 0;
  virtual void SetPixel(Point point, Color color) = 0;
  // Width along the text and cell height of a single line of text.
  virtual Size TextExtent(const FontSpec& font, const QString& text) = 0;
  // Text with its cell's top-left corner at topLeft, transparent background.
  virtual void Text(const FontSpec& font, Point topLeft, const QString& text, Color color) = 0;
  // Text running upwards from start: the cell's top edge faces left, so the text
  // covers x = start.x .. start.x + height and y = start.y - width .. start.y.
  virtual void UpwardText(const FontSpec& font, Point start, const QString& text, Color color) = 0;
  // One line centred both ways in box, clipped to it, ending in an ellipsis when too long.
  virtual void CentredText(const FontSpec& font, const Rect& box, const QString& text,
                           Color color) = 0;
};

}  // namespace plotwell
