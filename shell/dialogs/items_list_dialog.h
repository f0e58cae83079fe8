#pragma once
// "Items list": the values stored for one of the filter's lists, sorted, with several
// selectable at once; the values of the current list text come preselected.
#include <QDialog>

#include <string>
#include <vector>

#include "reports/filter_dialogs.h"

class QListWidget;

namespace weavil {

class CountryNames;

class ItemsListDialog : public QDialog {
  Q_OBJECT

 public:
  // The entries come from the data source (the kind's query).
  ItemsListDialog(ItemsListKind kind, const QString& current, const CountryNames& countries,
                  QWidget* parent = nullptr);
  // The entries given (already in list order).
  ItemsListDialog(ItemsListKind kind, const QString& current, const CountryNames& countries,
                  std::vector<std::string> items, QWidget* parent = nullptr);

  // The new list text (valid after OK).
  QString Result() const { return result_; }
  QListWidget* List() const { return list_; }
  std::vector<size_t> SelectedRows() const;

 public slots:
  void accept() override;

 private:
  void Build(const QString& current);

  ItemsListKind kind_;
  const CountryNames& countries_;
  std::vector<std::string> items_;
  QListWidget* list_ = nullptr;
  QString result_;
};

}  // namespace weavil
