#pragma once
// The four property pages of the chart controls and the colour button of the
// Appearance page. Pages talk to the controls only through their dual interfaces.
#include <QAbstractButton>
#include <QColor>
#include <functional>

#include "vyrcom/com_interfaces.h"

namespace plotwell {

// Asks the user for a colour, starting from initial, with the 16 shared custom colours.
// True with *chosen when the user confirmed one.
using ColorChooser = std::function<bool(QWidget* parent, QColor initial, QColor* chosen)>;
// Replaces the chooser (the desktop's colour dialog by default); an empty function
// restores the default. For containers that bring their own, and for tests.
void SetColorChooser(ColorChooser chooser);
// The custom colours every page of the loaded library shares, initially all white.
QRgb* SharedCustomColors();

// An owner-drawn push button showing a colour swatch; a click lets the user choose
// another colour.
class ColorButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit ColorButton(QWidget* parent = nullptr);
  // A resolved 0x00BBGGRR value.
  std::uint32_t Color() const { return color_; }
  void SetColor(std::uint32_t color);
  QSize sizeHint() const override;

 Q_SIGNALS:
  // The user confirmed a colour different from the previous one.
  void ColorChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Choose();
  std::uint32_t color_ = 0;
};

// Converts a dialog template size in dialog units to pixels with the template font
// ("MS Sans Serif" 8): average character width of A-Z and a-z, and the line height.
QSize DialogUnitsToPixels(int width, int height);

}  // namespace plotwell
