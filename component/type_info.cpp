#include "vyrcom/type_info.h"

#include <new>
#include <vector>

#include "text_case.h"
#include "vyrcom/com_ptr.h"
#include "vyrcom/instance.h"
#include "vyrcom/unknown_impl.h"

namespace vyr::com {

namespace {

// Dispatch names compare without regard to case.
bool SameName(const OLECHAR* name, const char* ours) {
  if (!name || !ours) return false;
  for (; *name && *ours; ++name, ++ours)
    if (LowerAscii(*name) != LowerAscii(static_cast<char16_t>(static_cast<unsigned char>(*ours)))) return false;
  return *name == 0 && *ours == 0;
}

void Flatten(const TypeDescription* type, std::vector<const MemberDescription*>* members) {
  if (!type) return;
  Flatten(type->extends, members);
  for (WORD i = 0; i < type->memberCount; ++i) members->push_back(&type->members[i]);
}

class DescribedTypeInfo final : public UnknownImpl<ITypeInfo, IID_ITypeInfo> {
 public:
  DescribedTypeInfo(const TypeDescription* type, IUnknown* owner) : type_(type), owner_(owner) {
    Flatten(type, &members_);
  }

  HRESULT GetTypeAttr(TYPEATTR** attributes) override;
  HRESULT GetTypeComp(void** typeComp) override {
    if (typeComp) *typeComp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** function) override;
  HRESULT GetVarDesc(UINT, void** variable) override {
    if (variable) *variable = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) override {
    if (!reference) return E_POINTER;
    if (index >= type_->implTypeCount) return TYPE_E_ELEMENTNOTFOUND;
    *reference = index + 1;
    return S_OK;
  }
  HRESULT GetImplTypeFlags(UINT index, int32_t* flags) override {
    if (!flags) return E_POINTER;
    if (index >= type_->implTypeCount) return TYPE_E_ELEMENTNOTFOUND;
    *flags = type_->implTypes[index].flags;
    return S_OK;
  }
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;
  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext, BSTR* helpFile) override;
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** typeInfo) override {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    if (reference == 0 || reference > type_->implTypeCount) return TYPE_E_ELEMENTNOTFOUND;
    return CreateTypeInfo(type_->implTypes[reference - 1].type, owner_.Get(), typeInfo);
  }
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** address) override {
    if (address) *address = nullptr;
    return E_NOTIMPL;
  }
  HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (type_->kind != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;
    if (outer) return CLASS_E_NOAGGREGATION;
    return ::vyr::com::CreateInstance(type_->guid, iid, object);
  }
  HRESULT GetMops(MEMBERID, BSTR* mops) override {
    if (mops) *mops = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetContainingTypeLib(void** typeLib, UINT* index) override {
    if (typeLib) *typeLib = nullptr;
    if (index) *index = 0;
    return E_NOTIMPL;
  }
  void ReleaseTypeAttr(TYPEATTR* attributes) override { delete attributes; }
  void ReleaseFuncDesc(FUNCDESC* function) override { CoTaskMemFree(function); }
  void ReleaseVarDesc(void*) override {}

 private:
  // The get (or the method) of id before its put.
  const MemberDescription* Find(MEMBERID id) const {
    const MemberDescription* found = nullptr;
    for (const MemberDescription* m : members_)
      if (m->id == id && (!found || m->kind != INVOKE_PROPERTYPUT)) found = m;
    return found;
  }

  const TypeDescription* type_;
  ComPtr<IUnknown> owner_;
  std::vector<const MemberDescription*> members_;
};

HRESULT DescribedTypeInfo::GetTypeAttr(TYPEATTR** attributes) {
  if (!attributes) return E_POINTER;
  auto* a = new (std::nothrow) TYPEATTR{};
  *attributes = a;
  if (!a) return E_OUTOFMEMORY;
  a->guid = type_->guid;
  a->memidConstructor = MEMBERID_NIL;
  a->memidDestructor = MEMBERID_NIL;
  a->typekind = type_->kind;
  a->cFuncs = static_cast<WORD>(members_.size());
  a->cImplTypes = type_->implTypeCount;
  int slots = 0;
  for (const MemberDescription* m : members_)
    if (m->slot + 1 > slots) slots = m->slot + 1;
  a->cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
  a->wTypeFlags = type_->flags;
  a->wMajorVerNum = type_->majorVersion;
  a->wMinorVerNum = type_->minorVersion;
  return S_OK;
}

HRESULT DescribedTypeInfo::GetFuncDesc(UINT index, FUNCDESC** function) {
  if (!function) return E_POINTER;
  *function = nullptr;
  if (index >= members_.size()) return TYPE_E_ELEMENTNOTFOUND;
  const MemberDescription& m = *members_[index];
  const bool put = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
  const int16_t params = put ? 1 : m.paramCount;
  // One block: the record, then its parameters.
  void* block = CoTaskMemAlloc(sizeof(FUNCDESC) + static_cast<size_t>(params) * sizeof(ELEMDESC));
  if (!block) return E_OUTOFMEMORY;
  auto* f = new (block) FUNCDESC{};
  auto* args = reinterpret_cast<ELEMDESC*>(static_cast<char*>(block) + sizeof(FUNCDESC));
  for (int16_t i = 0; i < params; ++i) {
    new (&args[i]) ELEMDESC{};
    args[i].tdesc.vt = put ? m.type : m.params[i].type;
    args[i].paramdesc.wParamFlags = PARAMFLAG_FIN;
  }
  f->memid = m.id;
  f->lprgelemdescParam = params ? args : nullptr;
  f->funckind = FUNC_DISPATCH;
  f->invkind = m.kind;
  f->callconv = CC_CDECL;
  f->cParams = params;
  f->oVft = static_cast<int16_t>(m.slot >= 0 ? m.slot * static_cast<int>(sizeof(void*)) : 0);
  f->elemdescFunc.tdesc.vt = m.kind == INVOKE_PROPERTYGET ? m.type : static_cast<VARTYPE>(VT_VOID);
  *function = f;
  return S_OK;
}

HRESULT DescribedTypeInfo::GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) {
  if (!names || !count) return E_POINTER;
  *count = 0;
  const MemberDescription* m = Find(id);
  if (!m) return TYPE_E_ELEMENTNOTFOUND;
  if (maxNames == 0) return S_OK;
  names[(*count)++] = BstrFromUtf8(m->name);
  // A put's value is not named.
  if (m->kind != INVOKE_PROPERTYPUT)
    for (int16_t i = 0; i < m->paramCount && *count < maxNames; ++i) names[(*count)++] = BstrFromUtf8(m->params[i].name);
  return S_OK;
}

HRESULT DescribedTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
  if (count == 0) return S_OK;
  const MemberDescription* member = nullptr;
  for (const MemberDescription* m : members_)
    if (SameName(names[0], m->name) && (!member || m->paramCount > member->paramCount)) member = m;
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  bool all = true;
  for (UINT i = 1; i < count; ++i) {
    for (int16_t p = 0; p < member->paramCount; ++p)
      if (SameName(names[i], member->params[p].name)) ids[i] = p;
    all = all && ids[i] != MEMBERID_NIL;
  }
  return all ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT DescribedTypeInfo::Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT* argError) {
  if (!instance) return E_INVALIDARG;
  if (type_->kind != TKIND_DISPATCH) return TYPE_E_WRONGTYPEKIND;
  ComPtr<IDispatch> dispatch;
  HRESULT hr = static_cast<IUnknown*>(instance)->QueryInterface(IID_IDispatch, dispatch.PutVoid());
  if (FAILED(hr)) return hr;
  return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, exception, argError);
}

HRESULT DescribedTypeInfo::GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext,
                                            BSTR* helpFile) {
  if (name) *name = nullptr;
  if (docString) *docString = nullptr;
  if (helpContext) *helpContext = 0;
  if (helpFile) *helpFile = nullptr;  // no help file
  const char* ourName = type_->name;
  const char* ourHelp = type_->help;
  if (id != MEMBERID_NIL) {
    const MemberDescription* m = Find(id);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    ourName = m->name;
    ourHelp = m->help;
  }
  if (name && !(*name = BstrFromUtf8(ourName ? ourName : ""))) return E_OUTOFMEMORY;
  if (docString && !(*docString = BstrFromUtf8(ourHelp ? ourHelp : ""))) {
    if (name) {
      SysFreeString(*name);
      *name = nullptr;
    }
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

HRESULT CreateTypeInfo(const TypeDescription* type, IUnknown* owner, ITypeInfo** typeInfo) {
  if (!typeInfo) return E_POINTER;
  *typeInfo = nullptr;
  if (!type) return E_INVALIDARG;
  auto* info = new (std::nothrow) DescribedTypeInfo(type, owner);
  if (!info) return E_OUTOFMEMORY;
  *typeInfo = info;  // the creator's reference
  return S_OK;
}

}  // namespace vyr::com
