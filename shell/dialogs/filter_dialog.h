#pragma once
// "Filter": the switch, the robots switch, the four lists with their "..." buttons and
// the period. OK stores the filter and asks for the report views to be reset and
// reloaded; Cancel changes nothing.
#include <QDialog>

#include <array>
#include <functional>

#include "reports/filter_dialogs.h"
#include "reports/report_filter.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace weavil {

class CountryNames;
class ItemsListDialog;

class FilterDialog : public QDialog {
  Q_OBJECT

 public:
  FilterDialog(const ReportFilter& current, CountryNames& countries, QWidget* parent = nullptr);

  // The controls as they stand, before the texts are cleaned.
  ReportFilter Controls() const;

  QCheckBox* SetFilterBox() const { return applyFilter_; }
  QCheckBox* NoRobotsBox() const { return noRobots_; }
  QCheckBox* ListBox(ItemsListKind kind) const { return lists_[Index(kind)].box; }
  QLineEdit* ListEdit(ItemsListKind kind) const { return lists_[Index(kind)].edit; }
  QPushButton* ListButton(ItemsListKind kind) const { return lists_[Index(kind)].button; }
  QCheckBox* PeriodBox() const { return isPeriod_; }
  QComboBox* PeriodCombo() const { return period_; }

  // Lets a test answer the items list; the default runs it modally.
  void SetItemsListRunner(std::function<int(ItemsListDialog&)> runner) { runItems_ = std::move(runner); }

 public slots:
  void accept() override;
  void OpenItemsList(ItemsListKind kind);

 private:
  struct ListRow {
    QCheckBox* box = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton* button = nullptr;
  };
  static size_t Index(ItemsListKind kind) { return static_cast<size_t>(kind); }
  void UpdateEnabled();

  CountryNames& countries_;
  QCheckBox* applyFilter_ = nullptr;
  QCheckBox* noRobots_ = nullptr;
  std::array<ListRow, 4> lists_{};
  QCheckBox* isPeriod_ = nullptr;
  QComboBox* period_ = nullptr;
  std::function<int(ItemsListDialog&)> runItems_;
};

}  // namespace weavil
