#pragma once
// Type information for servers: a server describes its interfaces, event interfaces and
// classes in constant tables, and CreateTypeInfo turns one table into an ITypeInfo that
// IDispatch::GetTypeInfo and IProvideClassInfo::GetClassInfo can hand out.
#include "vyrcom/com_interfaces.h"

namespace vyr::com {

struct ParamDescription {
  const char* name;
  VARTYPE type;
};

// One function of the dispatch view. A property is two entries with one id: its get
// (type = the property's type) and its put (type = the one argument's type).
struct MemberDescription {
  DISPID id;
  INVOKEKIND kind;
  const char* name;
  const char* help;
  VARTYPE type;                    // property type; VT_VOID for methods
  const ParamDescription* params;  // methods: their arguments, first to last
  int16_t paramCount;
  int16_t slot;  // the slot in a dual interface's table; -1 for dispatch-only members
};

struct TypeDescription;

struct ImplTypeDescription {
  const TypeDescription* type;
  int32_t flags;  // IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FSOURCE
};

struct TypeDescription {
  TYPEKIND kind;  // TKIND_DISPATCH for interfaces and events, TKIND_COCLASS for classes
  GUID guid;
  const char* name;
  const char* help;
  WORD flags;  // TYPEFLAG_...
  WORD majorVersion;
  WORD minorVersion;
  // An interface's members come after those of the interface it extends.
  const TypeDescription* extends;
  const MemberDescription* members;
  WORD memberCount;
  const ImplTypeDescription* implTypes;  // classes: the interfaces they implement
  WORD implTypeCount;
};

// Type information over a description that lives as long as the process (the tables
// of a loaded library). owner, when given, is held until the type information and every
// one reached from it are released, so the object that handed them out stays alive.
VYRCOM_API HRESULT CreateTypeInfo(const TypeDescription* type, IUnknown* owner, ITypeInfo** typeInfo);

}  // namespace vyr::com
