#include "shell/dialogs/filter_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "reports/country_names.h"
#include "shell/dialogs/context_help.h"
#include "shell/dialogs/dialog_parts.h"
#include "shell/dialogs/items_list_dialog.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {
namespace {

struct ListControl {
  ItemsListKind kind;
  const char* caption;
  const char* name;
};

constexpr ListControl kListControls[] = {
    {ItemsListKind::kPages, "Pages", "pages"},
    {ItemsListKind::kCountries, "Countries", "countries"},
    {ItemsListKind::kKeywords, "Keywords", "keywords"},
    {ItemsListKind::kReferers, "Referers", "referers"},
};

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

FilterDialog::FilterDialog(const ReportFilter& current, CountryNames& countries, QWidget* parent)
    : QDialog(parent), countries_(countries) {
  setWindowTitle(QStringLiteral("Filter"));
  setObjectName(QStringLiteral("filterDialog"));

  applyFilter_ = MakeCheckBox(QStringLiteral("Set filter"), "setFilter", current.applyFilter, this);
  noRobots_ = MakeCheckBox(QStringLiteral("no robots"), "noRobots", current.noRobots, this);

  const std::array<std::pair<int32_t, const std::string*>, 4> values = {{
      {current.isPages, &current.pages},
      {current.isCountries, &current.countries},
      {current.isKeywords, &current.keywords},
      {current.isReferers, &current.referers},
  }};

  auto* grid = new QGridLayout;
  grid->addWidget(applyFilter_, 0, 0, 1, 3);
  grid->addWidget(noRobots_, 1, 0, 1, 3);
  int line = 2;
  for (const ListControl& control : kListControls) {
    ListRow& row = lists_[Index(control.kind)];
    const auto& value = values[Index(control.kind)];
    QString name = QString::fromLatin1(control.name);
    row.box = new QCheckBox(QString::fromLatin1(control.caption), this);
    row.box->setObjectName(QStringLiteral("is") + name.left(1).toUpper() + name.mid(1));
    row.box->setChecked(value.first != 0);
    row.edit = new QLineEdit(Text(*value.second).left(static_cast<int>(kFilterTextLimit)), this);
    row.edit->setObjectName(name);
    row.edit->setMaxLength(static_cast<int>(kFilterTextLimit));
    row.edit->setMinimumWidth(280);
    row.button = MakeChooserButton(name + QStringLiteral("Items"), this);
    ItemsListKind kind = control.kind;
    connect(row.button, &QPushButton::clicked, this, [this, kind] { OpenItemsList(kind); });
    grid->addWidget(row.box, line, 0);
    grid->addWidget(row.edit, line, 1);
    grid->addWidget(row.button, line, 2);
    ++line;
  }
  isPeriod_ = MakeCheckBox(QStringLiteral("Period"), "isPeriod", current.isPeriod, this);
  period_ = MakeNamed<QComboBox>("period", this);
  period_->setEditable(true);
  period_->setInsertPolicy(QComboBox::NoInsert);
  period_->lineEdit()->setMaxLength(static_cast<int>(kFilterTextLimit));
  for (const char* name : kFilterDialogPeriods) period_->addItem(QString::fromLatin1(name));
  // Only a whole, case-blind match is selected; anything else shows an empty box.
  period_->setCurrentIndex(FilterDialogPeriodIndex(current.period));
  grid->addWidget(isPeriod_, line, 0);
  grid->addWidget(period_, line, 1);
  grid->setColumnStretch(1, 1);

  QDialogButtonBox* buttons = MakeOkCancel(this, "buttons");
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(MakeWhatsThisButton(this));
  bottom->addStretch(1);
  bottom->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);
  layout->addLayout(bottom);

  connect(applyFilter_, &QCheckBox::toggled, this, &FilterDialog::UpdateEnabled);
  UpdateEnabled();
  InstallContextHelp(this, QStringLiteral("FilterDialog"));
}

void FilterDialog::UpdateEnabled() {
  const bool on = applyFilter_->isChecked();
  noRobots_->setEnabled(on);
  for (ListRow& row : lists_) {
    row.box->setEnabled(on);
    row.edit->setEnabled(on);
    row.button->setEnabled(on);
  }
  isPeriod_->setEnabled(on);
  period_->setEnabled(on);
}

void FilterDialog::OpenItemsList(ItemsListKind kind) {
  if (kind == ItemsListKind::kCountries && countries_.Size() == 0) {
    // Codes are shown as names; the maps are empty until the first Sessions refresh.
    DbSession session;
    if (!Failed(OpenSourceSession(session))) countries_.Load(session);
  }
  ListRow& row = lists_[Index(kind)];
  ItemsListDialog dialog(kind, row.edit->text(), countries_, this);
  int answer = runItems_ ? runItems_(dialog) : dialog.exec();
  if (answer == QDialog::Accepted) row.edit->setText(dialog.Result());
}

ReportFilter FilterDialog::Controls() const {
  ReportFilter filter;
  filter.applyFilter = applyFilter_->isChecked() ? 1 : 0;
  filter.noRobots = noRobots_->isChecked() ? 1 : 0;
  auto list = [this](ItemsListKind kind, int32_t& flag, std::string& text) {
    const ListRow& row = lists_[Index(kind)];
    flag = row.box->isChecked() ? 1 : 0;
    text = row.edit->text().toStdString();
  };
  list(ItemsListKind::kPages, filter.isPages, filter.pages);
  list(ItemsListKind::kCountries, filter.isCountries, filter.countries);
  list(ItemsListKind::kKeywords, filter.isKeywords, filter.keywords);
  list(ItemsListKind::kReferers, filter.isReferers, filter.referers);
  filter.isPeriod = isPeriod_->isChecked() ? 1 : 0;
  filter.period = period_->currentText().toStdString();
  return filter;
}

void FilterDialog::accept() {
  // Stores the filter (quotes taken out of the lists) and raises the reset and the reload.
  ApplyFilterDialog(Controls());
  QDialog::accept();
}

}  // namespace weavil
