#pragma once
// The About box: the program's icon, name and version, and OK.
#include <QDialog>

namespace weavil {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace weavil
