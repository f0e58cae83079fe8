// The library's four entry points: class factories, the unload check and the
// registration of the classes, their ProgIDs, the property pages and the type library
// in the per-user component registry.
#include <dlfcn.h>

#include <string>

#include "charts/controls/chart_controls.h"
#include "charts/controls/log_chart_control.h"
#include "vyrcom/registry.h"

using namespace vyr::com;

namespace plotwell {
namespace {

using CreateFn = HRESULT (*)(IUnknown* outer, const IID& iid, void** object);

HRESULT CreatePPGeneral(IUnknown* outer, const IID& iid, void** object) {
  return CreatePropertyPage(CLSID_PPGeneral, outer, iid, object);
}
HRESULT CreatePPTimeSeries(IUnknown* outer, const IID& iid, void** object) {
  return CreatePropertyPage(CLSID_PPTimeSeries, outer, iid, object);
}
HRESULT CreatePPLabels(IUnknown* outer, const IID& iid, void** object) {
  return CreatePropertyPage(CLSID_PPLabels, outer, iid, object);
}
HRESULT CreatePPAppear(IUnknown* outer, const IID& iid, void** object) {
  return CreatePropertyPage(CLSID_PPAppear, outer, iid, object);
}

}  // namespace

// One factory per class, living as long as the library; LockServer holds the library.
class ClassFactory final : public IClassFactory {
 public:
  explicit constexpr ClassFactory(CreateFn create) : create_(create) {}
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
    return create_(outer, iid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) ModuleLock();
    else ModuleUnlock();
    return S_OK;
  }

 private:
  CreateFn create_;
};

namespace {

ClassFactory g_timeSeriesFactory(CreateTimeSeriesChart);
ClassFactory g_nnFactory(CreateNNChart);
ClassFactory g_generalFactory(CreatePPGeneral);
ClassFactory g_timeSeriesPageFactory(CreatePPTimeSeries);
ClassFactory g_labelsFactory(CreatePPLabels);
ClassFactory g_appearFactory(CreatePPAppear);

}  // namespace

ClassFactory* FactoryOf(const CLSID& clsid) {
  return clsid == CLSID_TimeSeriesChart ? &g_timeSeriesFactory
         : clsid == CLSID_NNChart       ? &g_nnFactory
         : clsid == CLSID_PPGeneral     ? &g_generalFactory
         : clsid == CLSID_PPTimeSeries  ? &g_timeSeriesPageFactory
         : clsid == CLSID_PPLabels      ? &g_labelsFactory
         : clsid == CLSID_PPAppear      ? &g_appearFactory
                                        : nullptr;
}

namespace {

struct ControlScript {
  CLSID clsid;
  const char* progId;
  const char* currentProgId;
  const char* description;         // the class and its versioned ProgID
  const char* currentDescription;  // the version-independent ProgID
  int toolboxBitmap;
};

constexpr ControlScript kControls[] = {
    {CLSID_TimeSeriesChart, "Plotwell.TimeSeriesChart.1", "Plotwell.TimeSeriesChart",
     "Vyr Time Series Log Chart Control", "Vyr Time Series Chart Control", 102},
    {CLSID_NNChart, "Plotwell.NNChart.1", "Plotwell.NNChart", "Vyr Nonnumeric Log Chart Control",
     "Vyr Nonnumeric Log Chart Control", 117},
};

struct PageScript {
  CLSID clsid;
  const char* progId;
  const char* currentProgId;
  const char* description;
};

constexpr PageScript kPages[] = {
    {CLSID_PPGeneral, "Plotwell.PPGeneral.1", "Plotwell.PPGeneral", "Vyr Log Chart General Property Page"},
    {CLSID_PPTimeSeries, "Plotwell.PPTimeSeries.1", "Plotwell.PPTimeSeries", "Vyr Log Chart TS Property Page"},
    {CLSID_PPLabels, "Plotwell.PPLabels.1", "Plotwell.PPLabels", "Vyr Log Chart Labels Property Page"},
    {CLSID_PPAppear, "Plotwell.PPAppear.1", "Plotwell.PPAppear", "Vyr Log Chart Appearance Property Page"},
};

struct InterfaceEntry {
  IID iid;
  const char* name;
};

constexpr InterfaceEntry kInterfaces[] = {
    {IID_IVyrLogChart, "IVyrLogChart"},
    {IID_ITimeSeriesChart, "ITimeSeriesChart"},
    {IID_INNChart, "INNChart"},
    {DIID__ITimeSeriesChartEvents, "_ITimeSeriesChartEvents"},
    {DIID__INNChartEvents, "_INNChartEvents"},
};

const char* const kTypeLibDescription = "Vyr Plotwell 1.0 Type Library";
const char* const kVersion = "1.0";

// Full path of this library, as InprocServer32 names it.
std::string ModulePath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname) return {};
  std::string path = info.dli_fname;
  if (!path.empty() && path[0] != '/') {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved) {
      path = resolved;
      std::free(resolved);
    }
  }
  return path;
}

void WriteProgIds(RegistryData& data, const std::string& clsid, const char* progId, const char* currentProgId,
                  const char* description, const char* currentDescription) {
  data.SetValue(progId, "", description);
  data.SetValue(std::string(progId) + "\\CLSID", "", clsid);
  data.SetValue(currentProgId, "", currentDescription);
  data.SetValue(std::string(currentProgId) + "\\CLSID", "", clsid);
  data.SetValue(std::string(currentProgId) + "\\CurVer", "", progId);
}

void WriteServer(RegistryData& data, const std::string& key, const std::string& module) {
  data.SetValue(key + "\\InprocServer32", "", module);
  data.SetValue(key + "\\InprocServer32", "ThreadingModel", "Apartment");
}

HRESULT Register(RegistryData& data, const std::string& module) {
  const std::string libId = FormatGuid(LIBID_PLOTWELLLib);
  for (const ControlScript& c : kControls) {
    const std::string clsid = FormatGuid(c.clsid);
    const std::string key = "CLSID\\" + clsid;
    WriteProgIds(data, clsid, c.progId, c.currentProgId, c.description, c.currentDescription);
    data.DeleteTree(key);  // force-removed and written afresh
    data.SetValue(key, "", c.description);
    data.SetValue(key + "\\ProgID", "", c.progId);
    data.SetValue(key + "\\VersionIndependentProgID", "", c.currentProgId);
    data.CreateKey(key + "\\Programmable");
    data.CreateKey(key + "\\Control");
    data.CreateKey(key + "\\Insertable");
    WriteServer(data, key, module);
    data.SetValue(key + "\\ToolboxBitmap32", "", module + ", " + std::to_string(c.toolboxBitmap));
    data.SetValue(key + "\\MiscStatus", "", "0");
    data.SetValue(key + "\\MiscStatus\\1", "", "131473");
    data.SetValue(key + "\\TypeLib", "", libId);
    data.SetValue(key + "\\Version", "", kVersion);
  }
  for (const PageScript& p : kPages) {
    const std::string clsid = FormatGuid(p.clsid);
    const std::string key = "CLSID\\" + clsid;
    WriteProgIds(data, clsid, p.progId, p.currentProgId, p.description, p.description);
    data.DeleteTree(key);
    data.SetValue(key, "", p.description);
    data.SetValue(key + "\\ProgID", "", p.progId);
    data.SetValue(key + "\\VersionIndependentProgID", "", p.currentProgId);
    data.CreateKey(key + "\\Programmable");
    WriteServer(data, key, module);
  }
  // The type library: its identity, version and file, and the interfaces it describes.
  const std::string folder = module.substr(0, module.rfind('/'));
  const std::string libKey = "TypeLib\\" + libId + "\\" + kVersion;
  data.SetValue(libKey, "", kTypeLibDescription);
  data.SetValue(libKey + "\\0\\linux64", "", module);
  data.SetValue(libKey + "\\FLAGS", "", "0");
  data.SetValue(libKey + "\\HELPDIR", "", folder);
  for (const InterfaceEntry& i : kInterfaces) {
    const std::string key = "Interface\\" + FormatGuid(i.iid);
    data.SetValue(key, "", i.name);
    data.SetValue(key + "\\TypeLib", "", libId);
    data.SetValue(key + "\\TypeLib", "Version", kVersion);
  }
  return S_OK;
}

HRESULT Unregister(RegistryData& data) {
  for (const ControlScript& c : kControls) {
    data.DeleteTree(c.progId);
    data.DeleteTree(c.currentProgId);
    data.DeleteTree("CLSID\\" + FormatGuid(c.clsid));
  }
  for (const PageScript& p : kPages) {
    data.DeleteTree(p.progId);
    data.DeleteTree(p.currentProgId);
    data.DeleteTree("CLSID\\" + FormatGuid(p.clsid));
  }
  for (const InterfaceEntry& i : kInterfaces) data.DeleteTree("Interface\\" + FormatGuid(i.iid));
  data.DeleteTree("TypeLib\\" + FormatGuid(LIBID_PLOTWELLLib));
  return S_OK;
}

}  // namespace
}  // namespace plotwell

#define PLOTWELL_EXPORT extern "C" __attribute__((visibility("default")))

PLOTWELL_EXPORT HRESULT DllGetClassObject(const CLSID* clsid, const IID* iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!clsid || !iid) return E_POINTER;
  plotwell::ClassFactory* factory = plotwell::FactoryOf(*clsid);
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(*iid, object);
}

PLOTWELL_EXPORT HRESULT DllCanUnloadNow() { return plotwell::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

PLOTWELL_EXPORT HRESULT DllRegisterServer() {
  const std::string module = plotwell::ModulePath();
  if (module.empty()) return SELFREG_E_CLASS;
  return UpdateRegistry([&](RegistryData& data) { return plotwell::Register(data, module); });
}

PLOTWELL_EXPORT HRESULT DllUnregisterServer() {
  return UpdateRegistry([](RegistryData& data) { return plotwell::Unregister(data); });
}
