#pragma once
// A test container: a fresh per-user registry with libplotwell.so registered, a control
// site that counts repaints and supplies message times, and an event sink that records.
#include <QImage>
#include <string>
#include <vector>

#include "vyrcom/com_ptr.h"
#include "plotwell/plotwell_interfaces.h"
#include "tests/support/test_support.h"

namespace plotwell::test {

using namespace vyr::com;

// Makes sure a QApplication exists (offscreen when no platform was chosen).
void EnsureApplication();

std::string LibraryPath();

// Points XDG_DATA_HOME at a temporary folder for its lifetime.
class RegistryScope {
 public:
  RegistryScope();
  ~RegistryScope();
  const weavil::test::TempDir& Dir() const { return dir_; }

 private:
  weavil::test::TempDir dir_;
  bool hadOld_ = false;
  std::string old_;
};

class TestSite final : public IVyrControlSite {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT InvalidateRect(const RECT*, BOOL) override {
    ++invalidations;
    return S_OK;
  }
  HRESULT GetMessageTime(ULONG* ms) override {
    *ms = now;
    return S_OK;
  }
  ULONG refs = 1;
  int invalidations = 0;
  ULONG now = 1000;
};

struct EventRecord {
  DISPID id;
  std::vector<int32_t> ints;  // arguments in declared order; the label as 0
  std::string name;           // the second argument of the non-numeric events
};

class RecordingSink final : public IDispatch {
 public:
  explicit RecordingSink(const IID& events) : events_(events) {}
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const IID&, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, const IID& iid, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override;
  ULONG refs = 1;
  std::vector<EventRecord> events;

 private:
  IID events_;
};

// A control created through the registry, with the test site attached and its
// connection point joined to a recording sink.
struct HostedControl {
  HostedControl(const CLSID& clsid, const IID& events);
  ~HostedControl();
  // Paints at the given size (the control learns its geometry from the paint).
  QImage Paint(int width, int height);
  HRESULT Mouse(UINT message, int x, int y, WPARAM keys = 0);
  ComPtr<IUnknown> unknown;
  ComPtr<IVyrWindowlessControl> view;
  TestSite site;
  RecordingSink sink;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
};

// DllGetClassObject, DllCanUnloadNow, DllRegisterServer, DllUnregisterServer of the
// loaded library.
void* Entry(const char* name);

}  // namespace plotwell::test
