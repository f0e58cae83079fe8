#pragma once
// The pieces the dialogs build alike: widgets made with their object names (the names
// the tests and the pop-up help find them by), and the OK and Cancel row.
#include <QString>
#include <Qt>

#include <utility>

class QCheckBox;
class QDialog;
class QDialogButtonBox;
class QPushButton;
class QWidget;

namespace weavil {

template <class Widget, class... Args>
Widget* MakeNamed(const char* name, Args&&... args) {
  auto* widget = new Widget(std::forward<Args>(args)...);
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// A named check box, ticked when checked is not 0.
QCheckBox* MakeCheckBox(const QString& text, const char* name, int checked, QWidget* parent);

// The narrow "..." button beside a field that opens a chooser; Enter does not press it.
QPushButton* MakeChooserButton(const QString& name, QWidget* parent);

// OK accepts the dialog and Cancel rejects it (through the dialog's own accept and
// reject); name null leaves the row unnamed.
QDialogButtonBox* MakeOkCancel(QDialog* dialog, const char* name = nullptr,
                               Qt::Orientation orientation = Qt::Horizontal);

}  // namespace weavil
