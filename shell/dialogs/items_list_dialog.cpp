#include "shell/dialogs/items_list_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "shell/dialogs/context_help.h"
#include "shell/dialogs/dialog_parts.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {
namespace {

std::vector<std::string> LoadFromDataSource(ItemsListKind kind) {
  DbSession session;
  if (Failed(OpenSourceSession(session))) return {};
  return LoadItemsList(session, kind);
}

}  // namespace

ItemsListDialog::ItemsListDialog(ItemsListKind kind, const QString& current, const CountryNames& countries,
                                 QWidget* parent)
    : ItemsListDialog(kind, current, countries, LoadFromDataSource(kind), parent) {}

ItemsListDialog::ItemsListDialog(ItemsListKind kind, const QString& current, const CountryNames& countries,
                                 std::vector<std::string> items, QWidget* parent)
    : QDialog(parent), kind_(kind), countries_(countries), items_(std::move(items)) {
  setWindowTitle(QStringLiteral("Items list"));
  setObjectName(QStringLiteral("itemsListDialog"));
  Build(current);
}

void ItemsListDialog::Build(const QString& current) {
  list_ = MakeNamed<QListWidget>("items", this);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setUniformItemSizes(true);
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(items_.size()));
  for (const std::string& item : items_) texts.append(QString::fromStdString(item));
  list_->addItems(texts);
  for (size_t index : PreselectItems(items_, current.toStdString(), kind_, countries_))
    list_->item(static_cast<int>(index))->setSelected(true);
  if (!list_->selectedItems().isEmpty()) list_->scrollToItem(list_->selectedItems().front());

  auto* side = new QVBoxLayout;
  side->addWidget(MakeOkCancel(this, "buttons", Qt::Vertical));
  side->addStretch(1);
  side->addWidget(MakeWhatsThisButton(this), 0, Qt::AlignRight);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(side);
  resize(420, 380);
  InstallContextHelp(this, QStringLiteral("ItemsListDialog"));
}

std::vector<size_t> ItemsListDialog::SelectedRows() const {
  std::vector<size_t> rows;
  for (int row = 0; row < list_->count(); ++row)
    if (list_->item(row)->isSelected()) rows.push_back(static_cast<size_t>(row));
  return rows;
}

void ItemsListDialog::accept() {
  result_ = QString::fromStdString(ItemsListResult(items_, SelectedRows(), kind_, countries_));
  QDialog::accept();
}

}  // namespace weavil
