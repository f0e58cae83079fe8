#pragma once
// The property frame: the property pages the given objects offer, as tabs, with OK,
// Apply and Cancel. Apply is enabled while a page is dirty.
#include <QDialog>
#include <vector>

#include "vyrcom/com_ptr.h"

class QDialogButtonBox;
class QTabWidget;

namespace vyr::com {

class PropertyFrame : public QDialog {
 public:
  // Pages are those of the first object that every other object offers too, in the
  // first object's order.
  PropertyFrame(const QString& caption, const std::vector<IUnknown*>& objects, QWidget* parent = nullptr);
  ~PropertyFrame() override;

  int PageCount() const { return static_cast<int>(pages_.size()); }
  IPropertyPage* Page(int index) const { return pages_[static_cast<size_t>(index)].page.Get(); }
  QTabWidget* Tabs() const { return tabs_; }
  QDialogButtonBox* Buttons() const { return buttons_; }
  // Applies every dirty page; false when a page refused.
  bool ApplyAll();

 private:
  class Site;
  struct PageEntry {
    ComPtr<IPropertyPage> page;
    Site* site = nullptr;
    QWidget* holder = nullptr;
  };
  void UpdateApply();
  void Close();

  std::vector<PageEntry> pages_;
  QTabWidget* tabs_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace vyr::com
