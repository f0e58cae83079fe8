#include "tests/plotwell/plotwell_test_container.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <cstdlib>

#include "vyrcom/instance.h"
#include "tests/support/qt_test_support.h"

namespace plotwell::test {

void EnsureApplication() { weavil::test::EnsureTestApplication(); }

std::string LibraryPath() { return weavil::test::BuildBinDir() + "/libplotwell.so"; }

RegistryScope::RegistryScope() {
  const char* old = std::getenv("XDG_DATA_HOME");
  hadOld_ = old != nullptr;
  if (old) old_ = old;
  setenv("XDG_DATA_HOME", dir_.Path().c_str(), 1);
}

RegistryScope::~RegistryScope() {
  if (hadOld_) setenv("XDG_DATA_HOME", old_.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}

HRESULT TestSite::QueryInterface(const IID& iid, void** object) {
  if (iid == IID_IUnknown || iid == IID_IVyrControlSite) {
    *object = this;
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT RecordingSink::QueryInterface(const IID& iid, void** object) {
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT RecordingSink::Invoke(DISPID id, const IID& iid, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                              EXCEPINFO*, UINT*) {
  EXPECT_EQ(iid, IID_NULL);
  EXPECT_EQ(flags, DISPATCH_METHOD);
  EventRecord record{id, {}, {}};
  // Arguments arrive last first.
  for (UINT i = params->cArgs; i-- > 0;) {
    const VARIANT& v = params->rgvarg[i];
    if (v.vt == VT_BSTR) {
      record.name = Utf8FromBstr(v.bstrVal);
      record.ints.push_back(0);
    } else {
      EXPECT_EQ(v.vt, VT_I4);
      record.ints.push_back(v.lVal);
    }
  }
  events.push_back(record);
  return S_OK;
}

HostedControl::HostedControl(const CLSID& clsid, const IID& events) : sink(events) {
  EXPECT_EQ(CreateInstance(clsid, IID_IUnknown, unknown.PutVoid()), S_OK);
  if (!unknown) return;
  EXPECT_EQ(unknown.As(IID_IVyrWindowlessControl, &view), S_OK);
  view->SetSite(&site);
  ComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(unknown.As(IID_IConnectionPointContainer, &container), S_OK);
  EXPECT_EQ(container->FindConnectionPoint(events, point.Put()), S_OK);
  EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
}

HostedControl::~HostedControl() {
  if (point) point->Unadvise(cookie);
  point.Reset();
  if (view) view->SetSite(nullptr);
  view.Reset();
  unknown.Reset();
}

QImage HostedControl::Paint(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  RECT bounds{0, 0, width, height};
  EXPECT_EQ(view->Draw(&painter, &bounds), S_OK);
  return image;
}

HRESULT HostedControl::Mouse(UINT message, int x, int y, WPARAM keys) {
  LRESULT result = 0;
  return view->OnWindowMessage(message, keys, MakeMouseLParam(x, y), &result);
}

void* Entry(const char* name) {
  std::string error;
  void* library = LoadServerLibrary(LibraryPath(), &error);
  EXPECT_NE(library, nullptr) << error;
  return library ? ::dlsym(library, name) : nullptr;
}

}  // namespace plotwell::test

// fontconfig keeps its configuration until exit; LeakSanitizer should not report it.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
