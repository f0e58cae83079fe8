// What a container that knows nothing of the controls learns from them: the members and
// events through their type information, the toolbox bitmaps through the registry; and
// a container without a QGuiApplication is told so instead of being ended.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSet>
#include <map>

#include "tests/plotwell/plotwell_test_container.h"
#include "vyrcom/instance.h"
#include "vyrcom/resources.h"

using namespace plotwell;
using namespace plotwell::test;

namespace {

class SelfDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    ASSERT_EQ(RegisterServer(LibraryPath()), S_OK);
  }
  RegistryScope registry_;
};

struct Member {
  std::string name, help;
  std::vector<std::string> params;
  std::vector<VARTYPE> types;
  int kinds = 0;  // INVOKEKIND bits seen
  VARTYPE type = VT_EMPTY;
};

std::string Take(BSTR text) {
  std::string out = Utf8FromBstr(text);
  SysFreeString(text);
  return out;
}

// Every function of a type, by DISPID, as a generic host reads them.
std::map<DISPID, Member> Members(ITypeInfo* info, TYPEATTR* attributes) {
  std::map<DISPID, Member> members;
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    EXPECT_EQ(info->GetFuncDesc(i, &f), S_OK);
    Member& m = members[f->memid];
    BSTR names[8] = {};
    UINT count = 0;
    EXPECT_EQ(info->GetNames(f->memid, names, 8, &count), S_OK);
    m.name = Take(names[0]);
    m.params.clear();
    for (UINT n = 1; n < count; ++n) m.params.push_back(Take(names[n]));
    BSTR help = nullptr;
    EXPECT_EQ(info->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr), S_OK);
    m.help = Take(help);
    m.kinds |= f->invkind;
    if (f->invkind == INVOKE_PROPERTYGET) m.type = f->elemdescFunc.tdesc.vt;
    if (f->invkind == INVOKE_FUNC) {
      m.types.clear();
      for (int p = 0; p < f->cParams; ++p) m.types.push_back(f->lprgelemdescParam[p].tdesc.vt);
    }
    info->ReleaseFuncDesc(f);
  }
  return members;
}

}  // namespace

TEST_F(SelfDescription, TypeInformationListsEveryMemberAndTheEvents) {
  HostedControl host(CLSID_NNChart, DIID__INNChartEvents);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(host.unknown.As(IID_IDispatch, &dispatch), S_OK);
  UINT count = 0;
  ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  ASSERT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, IID_INNChart);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  auto members = Members(info.Get(), attributes);
  info->ReleaseTypeAttr(attributes);

  // IVyrLogChart's 12 properties and SetData, and LabelLength.
  ASSERT_EQ(members.size(), 14u);
  EXPECT_EQ(members[DISPID_SETDATA].name, "SetData");
  EXPECT_EQ(members[DISPID_SETDATA].params, std::vector<std::string>{"bstrData"});
  EXPECT_EQ(members[DISPID_LABELLENGTH].help, "Maximum label length");
  EXPECT_EQ(members[DISPID_LABELLENGTH].type, VT_I4);
  EXPECT_EQ(members[DISPID_CHARTITEMHOLLOW].help, "Chart items are hollow (do not use fill color)");
  for (auto& [id, m] : members) {
    if (id != DISPID_SETDATA) {
      EXPECT_EQ(m.kinds, INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT) << m.name;
    }
    // The names the description gives are the names the object answers to.
    std::u16string wide = Utf16FromUtf8(m.name);
    LPOLESTR names[] = {wide.data()};
    DISPID answered = DISPID_UNKNOWN;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &answered), S_OK) << m.name;
    EXPECT_EQ(answered, id) << m.name;
  }
  // Calling through the description reaches the object.
  VARIANT length;
  VariantInit(&length);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(info->Invoke(dispatch.Get(), DISPID_LABELLENGTH, DISPATCH_PROPERTYGET, &none, &length, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(length.lVal, 16);

  // The class names its event interface as the default source; its methods come with
  // their arguments.
  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(host.unknown.As(IID_IProvideClassInfo2, &classInfo), S_OK);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_EQ(source, DIID__INNChartEvents);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.Put()), S_OK);
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, CLSID_NNChart);
  UINT sourceIndex = attributes->cImplTypes;
  for (UINT i = 0; i < attributes->cImplTypes; ++i) {
    int32_t flags = 0;
    coclass->GetImplTypeFlags(i, &flags);
    if (flags == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) sourceIndex = i;
  }
  coclass->ReleaseTypeAttr(attributes);
  HREFTYPE reference = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(sourceIndex, &reference), S_OK);
  ComPtr<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(reference, events.Put()), S_OK);
  ASSERT_EQ(events->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, DIID__INNChartEvents);
  auto methods = Members(events.Get(), attributes);
  events->ReleaseTypeAttr(attributes);
  ASSERT_EQ(methods.size(), 3u);
  EXPECT_EQ(methods[DISPID_ONMOUSEDBLCLICK].name, "OnMouseDblClick");
  EXPECT_EQ(methods[DISPID_ONMOUSEDBLCLICK].help, "OnMouseDoubleClick event");
  EXPECT_EQ(methods[DISPID_ONMOUSECLICK].params,
            (std::vector<std::string>{"idxPosition", "bstrName", "nCount", "nVal", "wParam", "lParam"}));
  EXPECT_EQ(methods[DISPID_ONMOUSECLICK].types[1], VT_BSTR);
}

TEST_F(SelfDescription, ToolboxBitmapsLoadThroughTheRegistryEntries) {
  QImage seen[2];
  int i = 0;
  for (const CLSID& clsid : {CLSID_TimeSeriesChart, CLSID_NNChart}) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(LoadToolboxBitmap(clsid, &bytes), S_OK);
    QImage image = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "BMP");
    ASSERT_EQ(image.size(), QSize(16, 16));
    QSet<QRgb> colours;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) colours.insert(image.pixel(x, y));
    EXPECT_GE(colours.size(), 3) << "a picture, not a blank";
    seen[i++] = image;
  }
  EXPECT_NE(seen[0], seen[1]);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(LoadToolboxBitmap(CLSID_PPGeneral, &bytes), REGDB_E_KEYMISSING);
  EXPECT_EQ(LoadModuleResource(LibraryPath(), 999, &bytes), RESOURCE_E_NAMENOTFOUND);
}

// Without a QGuiApplication, Qt ends the process at the first font. The controls answer
// E_UNEXPECTED instead, so the container lives to report it.
// The exit status of the child: 0 when both calls answered E_UNEXPECTED.
int DrawWithoutApplication() {
  RegistryScope registry;
  if (FAILED(RegisterServer(LibraryPath()))) return 2;
  ComPtr<IVyrWindowlessControl> view;
  if (FAILED(CreateInstance(CLSID_TimeSeriesChart, IID_IVyrWindowlessControl, view.PutVoid()))) return 3;
  QImage image(200, 100, QImage::Format_RGB32);
  QPainter painter(&image);
  RECT bounds{0, 0, 200, 100};
  HRESULT drawn = view->Draw(&painter, &bounds);
  painter.end();
  ComPtr<IPropertyPage> page;
  if (FAILED(CreateInstance(CLSID_PPGeneral, IID_IPropertyPage, page.PutVoid()))) return 4;
  PROPPAGEINFO info{};
  HRESULT sized = page->GetPageInfo(&info);
  return drawn == E_UNEXPECTED && sized == E_UNEXPECTED ? 0 : 5;
}

TEST(WithoutApplication, DrawingAndPageSizesFailTheCallOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(DrawWithoutApplication()), ::testing::ExitedWithCode(0), "");
}
