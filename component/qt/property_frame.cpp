#include "component/qt/property_frame.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

#include "vyrcom/instance.h"
#include "vyrcom/unknown_impl.h"

namespace vyr::com {

class PropertyFrame::Site final : public UnknownImpl<IPropertyPageSite, IID_IPropertyPageSite> {
 public:
  explicit Site(PropertyFrame* frame) : frame_(frame) {}
  void Detach() { frame_ = nullptr; }

  HRESULT OnStatusChange(DWORD) override {
    if (frame_) frame_->UpdateApply();
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* lcid) override {
    if (!lcid) return E_POINTER;
    *lcid = LOCALE_USER_DEFAULT;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown** container) override {
    if (container) *container = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TranslateAccelerator(void*) override { return E_NOTIMPL; }

 private:
  ~Site() = default;
  PropertyFrame* frame_;
};

namespace {

std::vector<GUID> PagesOf(IUnknown* object) {
  std::vector<GUID> pages;
  ComPtr<ISpecifyPropertyPages> specify;
  if (!object || FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, specify.PutVoid()))) return pages;
  CAUUID list{0, nullptr};
  if (SUCCEEDED(specify->GetPages(&list))) pages.assign(list.pElems, list.pElems + list.cElems);
  CoTaskMemFree(list.pElems);
  return pages;
}

QString TakeText(LPOLESTR text) {
  QString result = text ? QString::fromUtf16(text) : QString();
  CoTaskMemFree(text);
  return result;
}

}  // namespace

PropertyFrame::PropertyFrame(const QString& caption, const std::vector<IUnknown*>& objects, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(caption);
  tabs_ = new QTabWidget(this);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);

  std::vector<GUID> pageIds = objects.empty() ? std::vector<GUID>() : PagesOf(objects.front());
  for (size_t i = 1; i < objects.size(); ++i) {
    std::vector<GUID> theirs = PagesOf(objects[i]);
    pageIds.erase(std::remove_if(pageIds.begin(), pageIds.end(),
                                 [&](const GUID& id) {
                                   return std::find(theirs.begin(), theirs.end(), id) == theirs.end();
                                 }),
                  pageIds.end());
  }
  std::vector<IUnknown*> objectList(objects);
  for (const GUID& id : pageIds) {
    PageEntry entry;
    if (FAILED(CreateInstance(id, IID_IPropertyPage, entry.page.PutVoid())) || !entry.page) continue;
    entry.site = new Site(this);
    entry.page->SetPageSite(entry.site);
    entry.page->SetObjects(static_cast<ULONG>(objectList.size()), objectList.data());
    PROPPAGEINFO info{};
    info.cb = sizeof info;
    QSize size(300, 200);
    QString title = QStringLiteral("Page");
    if (SUCCEEDED(entry.page->GetPageInfo(&info))) {
      title = TakeText(info.pszTitle);
      TakeText(info.pszDocString);
      TakeText(info.pszHelpFile);
      size = QSize(info.size.cx, info.size.cy);
    }
    entry.holder = new QWidget;
    entry.holder->setMinimumSize(size);
    tabs_->addTab(entry.holder, title);
    RECT bounds{0, 0, size.width(), size.height()};
    entry.page->Activate(entry.holder, &bounds, 1);
    entry.page->Show(1);
    pages_.push_back(std::move(entry));
  }

  connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
    if (ApplyAll()) accept();
  });
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons_->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { ApplyAll(); });
  UpdateApply();
}

PropertyFrame::~PropertyFrame() { Close(); }

bool PropertyFrame::ApplyAll() {
  bool ok = true;
  for (auto& entry : pages_) {
    if (entry.page->IsPageDirty() == S_OK && FAILED(entry.page->Apply())) ok = false;
  }
  UpdateApply();
  return ok;
}

void PropertyFrame::UpdateApply() {
  bool dirty = std::any_of(pages_.begin(), pages_.end(), [](const PageEntry& e) { return e.page->IsPageDirty() == S_OK; });
  if (buttons_) buttons_->button(QDialogButtonBox::Apply)->setEnabled(dirty);
}

void PropertyFrame::Close() {
  for (auto& entry : pages_) {
    entry.page->Deactivate();
    entry.page->SetObjects(0, nullptr);
    entry.page->SetPageSite(nullptr);
    entry.site->Detach();
    entry.site->Release();
  }
  pages_.clear();
}

}  // namespace vyr::com
