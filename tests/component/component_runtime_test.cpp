#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "vyrcom/com_ptr.h"
#include "vyrcom/connection_point.h"
#include "vyrcom/instance.h"
#include "vyrcom/registry.h"
#include "vyrcom/resources.h"
#include "vyrcom/stream.h"
#include "tests/support/test_support.h"

using namespace vyr::com;

namespace {

// Points the per-user registry at a fresh folder for one test.
class RegistryFolder {
 public:
  RegistryFolder() {
    const char* old = std::getenv("XDG_DATA_HOME");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("XDG_DATA_HOME", dir_.Path().c_str(), 1);
  }
  ~RegistryFolder() {
    if (hadOld_) setenv("XDG_DATA_HOME", old_.c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
  }
  const weavil::test::TempDir& Dir() const { return dir_; }

 private:
  weavil::test::TempDir dir_;
  bool hadOld_ = false;
  std::string old_;
};

// Descriptors this process holds open.
int OpenDescriptors() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder)) ++count;
    closedir(folder);
  }
  return count;
}

// One registry change that answers hr, then the registry as read back.
HRESULT ChangeAndReload(void (*change)(RegistryData&), HRESULT hr, RegistryData* data) {
  HRESULT answer = UpdateRegistry([&](RegistryData& d) {
    change(d);
    return hr;
  });
  EXPECT_EQ(LoadRegistry(data), S_OK);
  return answer;
}

}  // namespace

TEST(GuidText, ParsesAndFormatsBothCases) {
  GUID g;
  ASSERT_TRUE(ParseGuid("{f9b2acdb-9182-4bc4-bae4-7c630821317a}", &g));
  EXPECT_EQ(FormatGuid(g), "{F9B2ACDB-9182-4BC4-BAE4-7C630821317A}");
  EXPECT_EQ(g, GuidLiteral("F9B2ACDB-9182-4BC4-BAE4-7C630821317A"));
  EXPECT_EQ(g.Data4[0], 0xBA);
  EXPECT_EQ(g.Data4[7], 0x7A);
  for (const char* bad : {"F9B2ACDB-9182-4BC4-BAE4-7C630821317A", "{F9B2ACDB-9182-4BC4-BAE47C630821317A0}",
                          "{F9B2ACDB-9182-4BC4-BAE4-7C630821317G}", "{}", ""})
    EXPECT_FALSE(ParseGuid(bad, &g)) << bad;
  GUID a = NewGuid(), b = NewGuid();
  EXPECT_FALSE(a == b);
  EXPECT_EQ(a.Data3 >> 12, 4);
  ASSERT_TRUE(ParseGuid(FormatGuid(a), &b));
  EXPECT_EQ(a, b);
}

TEST(Bstr, LengthPrefixedAndConvertsUtf8) {
  BSTR s = BstrFromUtf8("Tom & J\xC3\xA9rry \xF0\x9F\x98\x80");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 14u);  // the emoji takes two UTF-16 units
  EXPECT_EQ(s[SysStringLen(s)], 0);
  EXPECT_EQ(Utf8FromBstr(s), "Tom & J\xC3\xA9rry \xF0\x9F\x98\x80");
  SysFreeString(s);
  // Embedded NULs count; an empty string is not a null string.
  const char16_t withNul[] = {u'a', 0, u'b'};
  BSTR n = SysAllocStringLen(withNul, 3);
  EXPECT_EQ(SysStringLen(n), 3u);
  SysFreeString(n);
  BSTR empty = BstrFromUtf8("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  // Bytes that are not UTF-8 survive as themselves.
  EXPECT_EQ(Utf16FromUtf8("\xE9t\xE9"), std::u16string(u"\u00E9t\u00E9"));
}

TEST(Variant, ConvertsBetweenTheInterfaceTypes) {
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = BstrFromUtf8(" -42 ");
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I2), S_OK);
  EXPECT_EQ(dst.vt, VT_I2);
  EXPECT_EQ(dst.iVal, -42);
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_UI4), DISP_E_OVERFLOW);
  VariantClear(&src);

  src.vt = VT_BSTR;
  src.bstrVal = BstrFromUtf8("0x80000005");  // a system colour reference as I4 bits
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), S_OK);
  EXPECT_EQ(static_cast<uint32_t>(dst.lVal), 0x80000005u);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UI4), S_OK);
  EXPECT_EQ(dst.ulVal, 0x80000005u);
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I2), DISP_E_OVERFLOW);
  VariantClear(&src);

  src.vt = VT_BSTR;
  src.bstrVal = BstrFromUtf8("abc");
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&src);
  src.vt = VT_BSTR;
  src.bstrVal = BstrFromUtf8("True");
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BOOL), S_OK);
  EXPECT_EQ(dst.boolVal, VARIANT_TRUE);
  VariantClear(&src);

  src.vt = VT_I4;
  src.lVal = 40000;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I2), DISP_E_OVERFLOW);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Utf8FromBstr(dst.bstrVal), "40000");
  VariantClear(&dst);
  src.vt = VT_BOOL;
  src.boolVal = VARIANT_TRUE;
  ASSERT_EQ(VariantChangeType(&src, &src, 0, VT_I4), S_OK);  // in place
  EXPECT_EQ(src.lVal, -1);
  src.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);

  // By reference values are followed; copies of strings are deep.
  int16_t shortValue = 7;
  src.vt = VT_I2 | VT_BYREF;
  src.piVal = &shortValue;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), S_OK);
  EXPECT_EQ(dst.lVal, 7);
  VARIANT text, copy;
  VariantInit(&text);
  VariantInit(&copy);
  text.vt = VT_BSTR;
  text.bstrVal = BstrFromUtf8("x");
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  VariantClear(&text);
  EXPECT_EQ(Utf8FromBstr(copy.bstrVal), "x");
  VariantClear(&copy);
}

TEST(Streams, FileStreamsCloseTheirDescriptorOnce) {
  weavil::test::TempDir dir;
  const int before = OpenDescriptors();
  for (int i = 0; i < 20; ++i) {
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateFileStream(dir.File("s.bin"), FileStreamMode::kCreate, stream.Put()), S_OK);
    ASSERT_EQ(WriteExact(stream.Get(), "x", 1), S_OK);
    ComPtr<IStream> missing;
    EXPECT_EQ(CreateFileStream(dir.File("none"), FileStreamMode::kRead, missing.Put()), STG_E_FILENOTFOUND);
    EXPECT_EQ(missing.Get(), nullptr);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(Streams, MemoryAndFileReadBackWhatWasWritten) {
  weavil::test::TempDir dir;
  for (int kind = 0; kind < 2; ++kind) {
    ComPtr<IStream> stream;
    if (kind == 0) ASSERT_EQ(CreateMemoryStream(stream.Put()), S_OK);
    else ASSERT_EQ(CreateFileStream(dir.File("s.bin"), FileStreamMode::kCreate, stream.Put()), S_OK);
    ASSERT_EQ(WriteExact(stream.Get(), "abcdef", 6), S_OK);
    uint64_t at = 0;
    ASSERT_EQ(stream->Seek(-4, STREAM_SEEK_CUR, &at), S_OK);
    EXPECT_EQ(at, 2u);
    char buffer[8] = {};
    ULONG read = 0;
    ASSERT_EQ(stream->Read(buffer, 8, &read), S_OK);
    EXPECT_EQ(read, 4u);  // short read at the end
    EXPECT_EQ(std::string(buffer, read), "cdef");
    EXPECT_EQ(ReadExact(stream.Get(), buffer, 1), STG_E_READFAULT);
    if (kind == 0) {
      EXPECT_NE(stream->Seek(-1, STREAM_SEEK_SET, nullptr), S_OK);
    }
    uint64_t size = 0;
    ASSERT_EQ(stream->GetSize(&size), S_OK);
    EXPECT_EQ(size, 6u);
  }
  ComPtr<IStream> missing;
  EXPECT_EQ(CreateFileStream(dir.File("none"), FileStreamMode::kRead, missing.Put()), STG_E_FILENOTFOUND);
}

// A change that throws leaves the lock free: the next update neither waits forever
// nor finds a descriptor left open.
TEST(Registry, AThrowingChangeReleasesTheLock) {
  RegistryFolder folder;
  ASSERT_EQ(UpdateRegistry([](RegistryData& d) {
              d.SetValue("Key", "a", "1");
              return S_OK;
            }),
            S_OK);
  const int before = OpenDescriptors();
  EXPECT_THROW(UpdateRegistry([](RegistryData&) -> HRESULT { throw std::runtime_error("change failed"); }),
               std::runtime_error);
  EXPECT_EQ(OpenDescriptors(), before);
  RegistryData data;
  EXPECT_EQ(ChangeAndReload([](RegistryData& d) { d.SetValue("Key", "A", "2"); }, S_OK, &data), S_OK);
  std::string value;
  ASSERT_TRUE(data.GetValue("KEY", "a", &value));  // names without regard to case
  EXPECT_EQ(value, "2");
}

TEST(Registry, KeysValuesAndTreesSurviveTheFile) {
  RegistryFolder folder;
  ASSERT_EQ(UpdateRegistry([](RegistryData& data) {
              data.SetValue("CLSID\\{X}", "", "Control");
              data.SetValue("CLSID\\{X}\\InprocServer32", "", "/opt/lib x/libx.so");
              data.SetValue("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment");
              data.CreateKey("CLSID\\{X}\\Control");
              data.SetValue("Odd", "a=b\\c", "line\nbreak = kept ");
              return S_OK;
            }),
            S_OK);
  RegistryData data;
  ASSERT_EQ(LoadRegistry(&data), S_OK);
  std::string value;
  ASSERT_TRUE(data.GetValue("clsid\\{x}\\inprocserver32", "@", &value));  // no regard to case
  EXPECT_EQ(value, "/opt/lib x/libx.so");
  ASSERT_TRUE(data.GetValue("Odd", "a=b\\c", &value));
  EXPECT_EQ(value, "line\nbreak = kept ");
  EXPECT_TRUE(data.KeyExists("CLSID\\{X}\\Control"));
  EXPECT_TRUE(data.KeyExists("CLSID"));  // a parent exists through its subkeys
  EXPECT_FALSE(data.KeyExists("CLS"));

  // A failing change writes nothing.
  EXPECT_EQ(ChangeAndReload([](RegistryData& d) { d.DeleteTree("Odd"); }, E_FAIL, &data), E_FAIL);
  EXPECT_TRUE(data.KeyExists("Odd"));

  ASSERT_EQ(ChangeAndReload([](RegistryData& d) { d.DeleteTree("CLSID\\{X}"); }, S_OK, &data), S_OK);
  EXPECT_FALSE(data.KeyExists("CLSID"));
  EXPECT_TRUE(data.KeyExists("Odd"));

  std::string error;
  RegistryData broken;
  EXPECT_FALSE(broken.Parse("[Key]\nno equals sign here\n", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos);
}

TEST(Creation, ProgIdsFollowCurVerAndMissingServersFail) {
  RegistryFolder folder;
  const std::string clsid = "{11111111-2222-3333-4444-555555555555}";
  ASSERT_EQ(UpdateRegistry([&](RegistryData& data) {
              data.SetValue("Test.Thing.1\\CLSID", "", clsid);
              data.SetValue("Test.Thing\\CurVer", "", "Test.Thing.1");
              data.SetValue("CLSID\\" + clsid + "\\InprocServer32", "", folder.Dir().File("missing.so"));
              return S_OK;
            }),
            S_OK);
  CLSID found;
  ASSERT_EQ(CLSIDFromString("Test.Thing", &found), S_OK);
  EXPECT_EQ(FormatGuid(found), clsid);
  EXPECT_EQ(CLSIDFromString("{not a guid}", &found), CO_E_CLASSSTRING);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateInstance("Test.Thing", IID_IUnknown, &object), CO_E_DLLNOTFOUND);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CreateInstance("No.Such.Thing", IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CreateInstance("{11111111-2222-3333-4444-555555555556}", IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
}

namespace {

// A minimal owner with one connection point, and sinks that count their calls.
class Owner final : public IConnectionPointContainer {
 public:
  HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT EnumConnectionPoints(void**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(const IID&, IConnectionPoint**) override { return E_NOTIMPL; }
  ULONG refs = 1;
};

constexpr IID kEvents = GuidLiteral("0A0B0C0D-0000-0000-0000-000000000001");

class Sink final : public IDispatch {
 public:
  explicit Sink(bool answersEvents = true) : answers_(answersEvents) {}
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || (answers_ && iid == kEvents)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const IID&, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, const IID&, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    lastId = id;
    lastFirstArg = params->rgvarg[params->cArgs - 1].lVal;
    ++calls;
    if (point && unadviseOnCall) point->Unadvise(cookie);
    return S_OK;
  }
  ULONG refs = 1;
  int calls = 0;
  DISPID lastId = 0;
  int32_t lastFirstArg = 0;
  ConnectionPoint* point = nullptr;
  DWORD cookie = 0;
  bool unadviseOnCall = false;

 private:
  bool answers_;
};

}  // namespace

TEST(ConnectionPoints, FireReachesEverySinkAndSurvivesUnadviseInsideAHandler) {
  Owner owner;
  {
    ConnectionPoint point(&owner, kEvents);
    Sink a, b, stranger(false);
    DWORD cookieA = 0, cookieB = 0, cookieC = 0;
    EXPECT_EQ(point.Advise(&stranger, &cookieC), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookieC, 0u);
    ASSERT_EQ(point.Advise(&a, &cookieA), S_OK);
    ASSERT_EQ(point.Advise(&b, &cookieB), S_OK);
    EXPECT_NE(cookieA, cookieB);
    EXPECT_EQ(a.refs, 2u);
    a.point = &point;
    a.cookie = cookieA;
    a.unadviseOnCall = true;

    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = args[1].vt = VT_I4;
    args[0].lVal = 2;  // last argument
    args[1].lVal = 1;  // first argument
    DISPPARAMS params{args, nullptr, 2, 0};
    point.FireAll(3, &params);
    EXPECT_EQ(a.calls, 1);
    EXPECT_EQ(b.calls, 1);
    EXPECT_EQ(b.lastId, 3);
    EXPECT_EQ(b.lastFirstArg, 1);
    EXPECT_EQ(a.refs, 1u);  // disconnected inside its own handler
    point.FireAll(3, &params);
    EXPECT_EQ(a.calls, 1);
    EXPECT_EQ(b.calls, 2);
    EXPECT_EQ(point.Unadvise(cookieA), CONNECT_E_NOCONNECTION);
    point.DisconnectAll();
    EXPECT_EQ(b.refs, 1u);
  }
  EXPECT_EQ(owner.refs, 1u);
}

// Any file may be named as a library: foreign, cut or resource-less ones fail cleanly.
TEST(Resources, ForeignAndDamagedFilesAreRefused) {
  weavil::test::TempDir dir;
  std::vector<uint8_t> bytes{1, 2, 3};
  EXPECT_EQ(LoadModuleResource(dir.File("missing.so"), 102, &bytes), STG_E_FILENOTFOUND);
  EXPECT_TRUE(bytes.empty());
  std::ofstream(dir.File("text.so")) << "not a library\n";
  EXPECT_EQ(LoadModuleResource(dir.File("text.so"), 102, &bytes), RESOURCE_E_DATANOTFOUND);
  // A real library without resources (this test), whole and cut after its header.
  EXPECT_EQ(LoadModuleResource("/proc/self/exe", 102, &bytes), RESOURCE_E_DATANOTFOUND);
  std::ifstream self("/proc/self/exe", std::ios::binary);
  std::vector<char> head(64);
  self.read(head.data(), 64);
  std::ofstream(dir.File("cut.so"), std::ios::binary).write(head.data(), 64);
  EXPECT_EQ(LoadModuleResource(dir.File("cut.so"), 102, &bytes), RESOURCE_E_DATANOTFOUND);

  std::string path;
  int id = 0;
  EXPECT_TRUE(ParseResourceReference("/opt/a, b/libx.so, 117", &path, &id));
  EXPECT_EQ(path, "/opt/a, b/libx.so");
  EXPECT_EQ(id, 117);
  EXPECT_FALSE(ParseResourceReference("/opt/libx.so", &path, &id));
  EXPECT_FALSE(ParseResourceReference("/opt/libx.so, 1x", &path, &id));
}
