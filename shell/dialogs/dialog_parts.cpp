#include "shell/dialogs/dialog_parts.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace weavil {

QCheckBox* MakeCheckBox(const QString& text, const char* name, int checked, QWidget* parent) {
  auto* box = MakeNamed<QCheckBox>(name, text, parent);
  box->setChecked(checked != 0);
  return box;
}

QPushButton* MakeChooserButton(const QString& name, QWidget* parent) {
  auto* button = new QPushButton(QStringLiteral("..."), parent);
  button->setObjectName(name);
  button->setFixedWidth(32);
  button->setAutoDefault(false);
  return button;
}

QDialogButtonBox* MakeOkCancel(QDialog* dialog, const char* name, Qt::Orientation orientation) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, orientation, dialog);
  if (name) buttons->setObjectName(QString::fromLatin1(name));
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace weavil
