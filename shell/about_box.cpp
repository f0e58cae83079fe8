#include "shell/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "shell/main_frame.h"
#include "shell/shell_images.h"

namespace weavil {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Weavil"));
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  auto* name = new QLabel(QString::fromUtf8(kProgramVersionText), this);
  name->setObjectName(QStringLiteral("versionText"));
  QFont bold = name->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  name->setFont(bold);
  auto* text = new QLabel(QStringLiteral("Web server access log analyser.\nCharts by Plotwell."), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* words = new QVBoxLayout;
  words->addWidget(name);
  words->addWidget(text);
  words->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addLayout(words, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

}  // namespace weavil
